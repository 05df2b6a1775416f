#!/usr/bin/env bash
# Under a service manager the service reports running (READY=1) and, on the stop control
# (SIGTERM), stopped (STOPPING=1) before it closes; start and stop are logged in the set language.
source "$(dirname "$0")/lib.sh"

vellmar_install $'[Format]\nVersion=7\n[Configuration]\nLanguage=3\n[End]\n'
sock="$VELLMAR_DIR/notify.sock"
python3 - "$sock" > "$VELLMAR_DIR/notify.out" <<'PY' &
import socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
s.bind(sys.argv[1])
s.settimeout(20)
seen = []
try:
    while not any(m.startswith("STOPPING=1") for m in seen):
        seen.append(s.recv(4096).decode())
except socket.timeout:
    pass
print("|".join(m.split("\n")[0] for m in seen), flush=True)
PY
listener=$!
wait_for "notify socket" 20 test -S "$sock"

export NOTIFY_SOCKET="$sock"
vellmar_start
vellmar_stop
wait "$listener" || true
[ "$(cat "$VELLMAR_DIR/notify.out")" = "READY=1|STOPPING=1" ] || fail "notify messages: $(cat "$VELLMAR_DIR/notify.out")"

polish="$VELLMAR_DIR/Language/Polish/event-common.ini"
started=$(grep -a '^name1=' "$polish" | cut -d= -f2- | tr -d '\r')
stopped=$(grep -a '^name2=' "$polish" | cut -d= -f2- | tr -d '\r')
head -n 1 "$VELLMAR_DIR/_FILE_LOG.TXT" | grep -qF "$started" || fail "start not logged in Polish"
tail -n 1 "$VELLMAR_DIR/_FILE_LOG.TXT" | grep -qF "$stopped" || fail "stop not logged in Polish"
