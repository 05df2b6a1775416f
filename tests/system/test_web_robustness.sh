#!/usr/bin/env bash
# The web server under hostile clients: slow heads holding slots, more connections than slots,
# oversize heads and bodies, climbing paths and smuggling attempts. The server answers or closes
# as it should, a normal client is served, and the trap receiver keeps taking traps meanwhile.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/web_lib.sh"

use_net_snmp
vellmar_install "$WEB_INI"
export VELLMAR_TRAP_TRACE="$VELLMAR_DIR/trace.log"
H=http://127.0.0.1
web_start
SLOW=(python3 "$VELLMAR_SOURCE_DIR/tests/system/slow_clients.py")
HTTP_PER_ADDRESS=8   # connections one client address may hold: the hostile crowds come from many
trace_lines() { if [ -f "$VELLMAR_TRAP_TRACE" ]; then wc -l < "$VELLMAR_TRAP_TRACE"; else echo 0; fi; }
trace_grew() { [ "$(trace_lines)" -gt "$1" ]; }
trap_taken() {
  local before
  before=$(trace_lines)
  snmptrap -v 1 -c public -m '' 127.0.0.1 1.3.6.1.4.1.7342.2.4.20 127.0.0.1 0 0 '' || fail "snmptrap failed"
  wait_for "trap accepted while $1" 10 trace_grew "$before"
}
# served SECONDS: a normal client gets the login page within that time.
served() {
  local code
  code=$(curl -s -o /dev/null -w '%{http_code}' --max-time "$1" "$H/login.asp") || true
  [ "$code" = 200 ]
}

# --- 31 slow clients leave a slot: a normal client is answered at once.
"${SLOW[@]}" 127.0.0.1 80 31 2 40 "$HTTP_PER_ADDRESS" &
slow=$!
VELLMAR_PIDS+=("$slow")
sleep 3
served 5 || fail "a client was not served beside 31 slow ones"
trap_taken "31 slow clients"
kill "$slow"; wait "$slow" 2>/dev/null || true

# --- 64 slow clients: every slot is taken, but heads have 20 s; a normal client gets in within 45 s.
"${SLOW[@]}" 127.0.0.1 80 64 2 70 "$HTTP_PER_ADDRESS" &
slow=$!
VELLMAR_PIDS+=("$slow")
sleep 3
start=$SECONDS
served 45 || fail "a client was not served within 45 s beside 64 slow ones"
echo "served after $((SECONDS - start)) s beside 64 slow clients"
trap_taken "64 slow clients"
kill "$slow"; wait "$slow" 2>/dev/null || true
sleep 1

# --- 40 idle connections at once (8 from each of 5 addresses): 32 take slots, the rest wait; all
# are dealt with.
python3 - <<'PY' || fail "idle connections were not all closed or served"
import socket, time
conns = [socket.create_connection(("127.0.0.1", 80), source_address=("127.0.0.%d" % (20 + i // 8), 0)) for i in range(40)]
for c in conns:
    c.settimeout(60)
for c in conns:
    c.sendall(b"GET /template.css HTTP/1.0\r\n")
time.sleep(1)
for c in conns:
    c.sendall(b"\r\n")
ok = 0
for c in conns:
    data = b""
    while True:
        chunk = c.recv(65536)
        if not chunk:
            break
        data += chunk
    ok += data.startswith(b"HTTP/1.1 200 OK")
assert ok == 40, ok
PY
served 5 || fail "not served after 40 connections"

# --- Oversize head and body: closed without an answer.
out=$(python3 -c 'import sys; sys.stdout.write("GET / HTTP/1.1\r\nX: " + "a" * 9000)' | raw 127.0.0.1 80 5)
[ -z "$out" ] || fail "a head over 8192 bytes was answered"
out=$(printf 'POST /orvik/login HTTP/1.1\r\nContent-Length: 8388609\r\n\r\nx' | raw 127.0.0.1 80 5)
[ -z "$out" ] || fail "a body over 8 MiB was answered"

# --- Climbing paths never leave the document folder.
echo "top secret" > "$VELLMAR_DIR/httpd/secret.txt"
for p in '/../secret.txt' '/%2e%2e/secret.txt' '/..%2fsecret.txt' '/%2E%2E%5Csecret.txt' '/....//secret.txt'; do
  out=$(printf 'GET %s HTTP/1.1\r\n\r\n' "$p" | raw 127.0.0.1 80)
  [[ "$out" != *"top secret"* ]] || fail "$p left the document folder"
done

# --- Smuggling: one answer per request; the last Content-Length counts, chunked is not read.
out=$(printf 'POST /orvik/x HTTP/1.1\r\nConnection: keep-alive\r\nContent-Length: 100\r\nTransfer-Encoding: chunked\r\nContent-Length: 3\r\n\r\nabcGET /secret.txt HTTP/1.1\r\n\r\n' | raw 127.0.0.1 80 5)
[ "$(grep -c '^HTTP/1.1' <<<"$out")" = 1 ] || fail "smuggled request answered: $out"
out=$(printf 'GET /template.css HTTP/1.1\r\nConnection: Keep-Alive\r\nContent-Length: 0\r\n\r\nGET /template.css HTTP/1.1\r\n\r\n' | raw 127.0.0.1 80 5)
[ "$(grep -c '^HTTP/1.1 200' <<<"$out")" -le 1 ] || fail "bytes past the body were taken as a request: $out"
trap_taken "the hostile requests"
served 5 || fail "not served at the end"
vellmar_stop
