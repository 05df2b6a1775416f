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
web_start

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

vellmar_stop
