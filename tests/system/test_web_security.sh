#!/usr/bin/env bash
# The web server as an attacker tries it: spellings of a path against the session gate at every
# level, the private temporary folder, the per-address connection limit, session slots, redirect
# targets, the TLS suites and the download names.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/web_lib.sh"

vellmar_install "$WEB_INI"
HT="$VELLMAR_DIR/httpd/htdocs"
H=http://127.0.0.1
S=https://127.0.0.1
# A folder left open by an older version, and a start with a umask that takes nothing away.
mkdir -m 755 -p "$HT/tmp"
umask 000
web_start
umask 022

# --- The gate decides on the path that is opened: every spelling of a /tmp/ file at every level.
mkdir -p "$HT/tmp"
printf 'event-table-lines' > "$HT/tmp/iframe_log.htm"
printf 'settings-copy-secret' > "$HT/tmp/agent_x.ini"
declare -A COOKIES=([none]="")
for who in admin device user; do login "$H" "$who" quillbox; COOKIES[$who]=$COOKIE; done
# spelling | file it names | lowest level that gets it (0 administrator .. 2 user; - never)
while IFS='|' read -r spelling content lowest; do
  for who in none admin device user; do
    case $who in none) level=9 ;; admin) level=0 ;; device) level=1 ;; user) level=2 ;; esac
    body=$("${CURL[@]}" --path-as-is ${COOKIES[$who]:+-b "${COOKIES[$who]}"} "$H$spelling")
    if [ "$lowest" != - ] && [ "$level" -le "$lowest" ]; then
      [[ "$body" == *"$content"* ]] || fail "$spelling not served to $who"
    else
      [[ "$body" != *"$content"* ]] || fail "$spelling served to $who"
      [[ "$body" == *'id="challenge"'* ]] || fail "$spelling: $who did not get the login page"
    fi
  done
done <<'TABLE'
/tmp/iframe_log.htm|event-table-lines|2
/./tmp/iframe_log.htm|event-table-lines|2
//tmp/iframe_log.htm|event-table-lines|2
/tmp/./iframe_log.htm|event-table-lines|2
/%2e/tmp/iframe_log.htm|event-table-lines|2
/%2E/tmp/.//./iframe_log.htm|event-table-lines|2
/\tmp\iframe_log.htm|event-table-lines|2
/%5Ctmp%5Ciframe_log.htm|event-table-lines|2
/x/../tmp/iframe_log.htm|event-table-lines|-
/TMP/iframe_log.htm|event-table-lines|-
/Tmp/Iframe_Log.htm|event-table-lines|-
/tmp/agent_x.ini|settings-copy-secret|0
/./tmp/agent_x.ini|settings-copy-secret|0
//tmp//agent_x.ini|settings-copy-secret|0
/tmp/./agent_x.ini|settings-copy-secret|0
/%2e/tmp/%2e/agent_x.ini|settings-copy-secret|0
/\tmp\agent_x.ini|settings-copy-secret|0
/tmp/AGENT_x.INI|settings-copy-secret|-
TABLE

# --- Files of the web are private: the folder 0700, every file the service writes there 0600.
COOKIE=${COOKIES[admin]}
post() { "${CURL[@]}" -b "$COOKIE" -o /dev/null -w '%{redirect_url}' "$H/orvik/$1" "${@:2}"; }
rm -f "$HT/tmp/iframe_log.htm" "$HT/tmp/agent_x.ini"
[ "$(stat -c %a "$HT/tmp")" = 700 ] || fail "htdocs/tmp is $(stat -c %a "$HT/tmp")"
"${CURL[@]}" -b "$COOKIE" "$H/en/sys_info.asp" | has 'name="SYS_UCTOKEN"' || fail "no page rendered"
post hist_log --data "LOG_BUTTON=%3C%3C" >/dev/null
"${CURL[@]}" -b "$COOKIE" "$H/en/hist_log.asp" | has "Page1" || fail "history page not rendered"
post hist_log --data "DLLOG_BUTTON=Export" >/dev/null
SB=$(token "$H" /en/sys_batch.asp)
[ "$(post sys_batch --data "SYS_UCTOKEN=$SB&DL_SYSTEM=Download")" = "$H/tmp/agent.ini" ] || fail "download redirect"
for f in iframe_log.htm events.txt event_log.csv agent.ini; do [ -f "$HT/tmp/$f" ] || fail "no $f written"; done
open_files=$(find "$HT/tmp" -type f ! -perm 600 -printf '%f %m\n')
[ -z "$open_files" ] || fail "files of htdocs/tmp readable by others: $open_files"

# --- The downloads are attachments with their own names.
head=$("${CURL[@]}" -b "$COOKIE" -D - -o "$VELLMAR_DIR/dl.ini" "$H/tmp/agent.ini")
[[ "$head" == *$'Content-Disposition: attachment; filename="agent.ini"\r'* ]] || fail "settings download: $head"
grep -q '^\[End\]' "$VELLMAR_DIR/dl.ini" || fail "the settings download is not the file"
head=$("${CURL[@]}" -b "$COOKIE" -D - -o /dev/null "$H/tmp/event_log.csv")
[[ "$head" == *$'Content-Disposition: attachment; filename="event_log.csv"\r'* ]] || fail "CSV export: $head"
head=$("${CURL[@]}" -b "$COOKIE" -D - -o /dev/null "$H/en/sys_info.asp")
[[ "$head" != *Content-Disposition* ]] || fail "a page is sent as an attachment: $head"

# --- One client address holds at most 8 connections, loopback too; the ninth is closed at accept.
python3 - <<'PY' || fail "per-address connection limit"
import socket, time

def conn(source, family=socket.AF_INET, target="127.0.0.1"):
    s = socket.socket(family)
    s.bind((source, 0))
    s.settimeout(20)
    s.connect((target, 80))
    return s

def answer(s):
    s.sendall(b"GET /template.css HTTP/1.0\r\n\r\n")
    data = b""
    try:
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            data += chunk
    except ConnectionResetError:
        pass
    s.close()
    return data

held = [conn("127.0.0.1") for _ in range(8)]
time.sleep(1)  # all eight are accepted and reading
for n in range(3):
    extra = answer(conn("127.0.0.1"))
    assert extra == b"", "connection %d beyond eight was served: %r" % (9 + n, extra[:40])
for source, family, target in (("127.0.0.2", socket.AF_INET, "127.0.0.1"), ("::1", socket.AF_INET6, "::1")):
    got = answer(conn(source, family, target))
    assert got.startswith(b"HTTP/1.1 200 OK"), "%s not served beside the eight: %r" % (source, got[:40])
# The eight are served in turn, and once one has gone its address gets a slot again.
assert answer(held.pop()).startswith(b"HTTP/1.1 200 OK")
time.sleep(0.5)
got = answer(conn("127.0.0.1"))
assert got.startswith(b"HTTP/1.1 200 OK"), "a freed place was not given again: %r" % got[:40]
for s in held:
    assert answer(s).startswith(b"HTTP/1.1 200 OK")
PY

# --- TLS: only ECDHE with AES-GCM or ChaCha20-Poly1305; the certificate's key picks RSA or ECDSA.
suite() { echo | openssl s_client -connect 127.0.0.1:443 -tls1_2 -cipher "$1" 2>&1 | has "Cipher is $1\$"; }
check_suites() {
  local c
  for c in $1; do suite "$c" || fail "TLS suite $c refused"; done
  for c in $2; do suite "$c" && fail "TLS suite $c accepted"; done
  "${CURL[@]}" "$S/login.asp" | has 'id="challenge"' || fail "curl gets no page over HTTPS"
  if command -v sslscan >/dev/null; then
    local offered
    offered=$(sslscan --no-colour 127.0.0.1:443 | awk '/^(Preferred|Accepted)/ {print $2, $5}')
    [ -n "$offered" ] || fail "sslscan lists no suite"
    grep -Ev '^TLSv1\.2 ECDHE-(RSA|ECDSA)-(AES(128|256)-GCM-SHA(256|384)|CHACHA20-POLY1305)$' <<<"$offered" \
      && fail "sslscan shows other suites: $offered"
  fi
  return 0
}
check_suites "ECDHE-RSA-AES128-GCM-SHA256 ECDHE-RSA-AES256-GCM-SHA384 ECDHE-RSA-CHACHA20-POLY1305" \
  "AES128-SHA AES256-GCM-SHA384 ECDHE-RSA-AES128-SHA ECDHE-RSA-AES256-SHA384 DHE-RSA-AES128-GCM-SHA256 ECDHE-ECDSA-AES128-GCM-SHA256"
vellmar_stop
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "/CN=ec.test" -days 2 \
  -keyout "$VELLMAR_DIR/ec.key" -out "$VELLMAR_DIR/ec.crt" 2>/dev/null || fail "openssl req (EC)"
cat "$VELLMAR_DIR/ec.crt" "$VELLMAR_DIR/ec.key" > "$VELLMAR_DIR/httpd/cert_web.pem"
opened=$(log_count "IPv4-HTTPS: OK")
vellmar_start
https_again() { [ "$(log_count "IPv4-HTTPS: OK")" -gt "$opened" ]; }
wait_for "web listeners after the restart" 15 https_again
check_suites "ECDHE-ECDSA-AES128-GCM-SHA256 ECDHE-ECDSA-AES256-GCM-SHA384 ECDHE-ECDSA-CHACHA20-POLY1305" \
  "ECDHE-ECDSA-AES128-SHA ECDHE-RSA-AES128-GCM-SHA256 AES128-SHA"

vellmar_stop
