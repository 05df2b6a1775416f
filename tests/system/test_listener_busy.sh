#!/usr/bin/env bash
# Every port of the service held by another program (trap and SNMP ports on both families, the web
# ports, the tray link's 5515): each listener's failure is logged once, printed once to standard
# error with the port, the family and the system's error text, and listed in the systemd status;
# once the ports are free the listeners open at the next retry and the status says "running".
source "$(dirname "$0")/lib.sh"

vellmar_install $'[Format]\nVersion=7\n[End]\n'

# The holder: binds every port, writes "held" once it has, and keeps them until it is killed.
python3 - "$VELLMAR_DIR/held" <<'PY' &
import socket, sys, time
held = []
def take(family, kind, address, port):
    s = socket.socket(family, kind)
    if family == socket.AF_INET6:
        s.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 1)
    s.bind((address, port))
    if kind == socket.SOCK_STREAM:
        s.listen(1)
    held.append(s)
for port in (161, 162):
    take(socket.AF_INET, socket.SOCK_DGRAM, "0.0.0.0", port)
    take(socket.AF_INET6, socket.SOCK_DGRAM, "::", port)
for port in (80, 443):
    take(socket.AF_INET, socket.SOCK_STREAM, "0.0.0.0", port)
    take(socket.AF_INET6, socket.SOCK_STREAM, "::", port)
take(socket.AF_INET, socket.SOCK_STREAM, "127.0.0.1", 5515)
open(sys.argv[1], "w").write("held\n")
while True:
    time.sleep(60)
PY
holder=$!
VELLMAR_PIDS+=("$holder")
wait_for "ports held" 10 test -s "$VELLMAR_DIR/held"

# The notify socket: one line per message, its lines joined by "|".
sock="$VELLMAR_DIR/notify.sock"
notify_listen "$sock" "$VELLMAR_DIR/notify.out" 120
notified=$NOTIFY_READER
VELLMAR_PIDS+=("$notified")
wait_for "notify socket" 10 test -S "$sock"

export NOTIFY_SOCKET="$sock"
vellmar_start

problems=(
  "IPv4-Trap: NOK, UDP port 162 (IPv4): Address already in use"
  "IPv6-Trap: NOK, UDP port 162 (IPv6): Address already in use"
  "IPv4-SNMP: NOK, UDP port 161 (IPv4): Address already in use"
  "IPv6-SNMP: NOK, UDP port 161 (IPv6): Address already in use"
  "IPv4-HTTP: NOK, TCP port 80 (IPv4): Address already in use"
  "IPv6-HTTP: NOK, TCP port 80 (IPv6): Address already in use"
  "IPv4-HTTPS: NOK, TCP port 443 (IPv4): Address already in use"
  "IPv6-HTTPS: NOK, TCP port 443 (IPv6): Address already in use"
  "Tray-Link: NOK, TCP port 5515 (IPv4): Address already in use"
)
nok_lines=(
  "IPv4-Trap: NOK IPv6-Trap: NOK"
  "IPv4-SNMP: NOK IPv6-SNMP: NOK"
  "IPv4-HTTP: NOK IPv6-HTTP: NOK IPv4-HTTPS: NOK IPv6-HTTPS: NOK"
  "Tray-Link: NOK"
)
ok_lines=(
  "IPv4-Trap: OK IPv6-Trap: OK"
  "IPv4-SNMP: OK IPv6-SNMP: OK"
  "IPv4-HTTP: OK IPv6-HTTP: OK IPv4-HTTPS: OK IPv6-HTTPS: OK"
  "Tray-Link: OK"
)
all_problems() {
  local p
  for p in "${problems[@]}"; do grep -F "STATUS=" "$VELLMAR_DIR/notify.out" | tail -n 1 | grep -qF "$p" || return 1; done
}
wait_for "every listener's problem in the status" 60 all_problems
for l in "${nok_lines[@]}"; do grep -qF "0.0.0.0 0 " "$VELLMAR_DIR/_FILE_LOG.TXT" && grep -qF "$l" "$VELLMAR_DIR/_FILE_LOG.TXT" || fail "not logged: $l"; done

# At least one retry (5 s) later, still one line each in the log and on standard error.
wait_for "a retry" 30 grep -q "SNMP: NOK" "$VELLMAR_DIR/_FILE_LOG.TXT"
sleep 6
for l in "${nok_lines[@]}"; do [ "$(grep -cF "$l" "$VELLMAR_DIR/_FILE_LOG.TXT")" = 1 ] || fail "logged more than once: $l"; done
for p in "${problems[@]}"; do
  [ "$(grep -cxF "$p" "$VELLMAR_DIR/brevanta.out")" = 1 ] || fail "not printed once: $p ($(cat "$VELLMAR_DIR/brevanta.out"))"
done

# The ports freed: every listener opens at a retry, and the status has no problem left.
kill "$holder"
wait "$holder" 2>/dev/null || true
all_open() {
  local l
  for l in "${ok_lines[@]}"; do grep -qF "$l" "$VELLMAR_DIR/_FILE_LOG.TXT" || return 1; done
}
wait_for "every listener open" 60 all_open
wait_for "status running" 30 sh -c "grep -F 'STATUS=' '$VELLMAR_DIR/notify.out' | tail -n 1 | grep -qx 'STATUS=running'"
# The opened listeners work: a trap from a source that is not listed is refused and said so, the
# web server answers.
use_net_snmp
snmptrap -v 2c -c public -m '' 127.0.0.1 '' 1.3.6.1.6.3.1.1.5.1 || fail "snmptrap failed"
wait_for "refused trap logged" 30 log_has "Traps refused: source not listed from 127.0.0.1 (1 refused"
code=$(curl -s -o /dev/null -w '%{http_code}' http://127.0.0.1/ || true)
[ "$code" != 000 ] || fail "web server does not answer"
vellmar_stop
wait "$notified" || true
for l in "${nok_lines[@]}"; do [ "$(grep -cF "$l" "$VELLMAR_DIR/_FILE_LOG.TXT")" = 1 ] || fail "logged again: $l"; done
