#!/usr/bin/env bash
# Trap receiver against net-snmp's snmptrap on port 162, IPv4 and IPv6: SNMPv1, v2c and v3 (MD5,
# DES) traps of listed sources are accepted; unlisted sources, wrong communities, users or pass
# phrases, too low a security level, an inform and foreign enterprises are refused. Acceptance is
# read from the receiver's trace file; a good trap after every refused one shows it still works.
# The listeners open at start-up, and a flood of junk does not hold a real trap back.
source "$(dirname "$0")/lib.sh"


# A second loopback address that no source lists.
ip addr add 127.0.0.2/8 dev lo

export VELLMAR_TRAP_TRACE="$VELLMAR_DIR/trace.txt"
use_net_snmp

vellmar_install "[Format]
Version=7
[Source IP]
Listen Port=162
Number=2
IP1=127.0.0.1
Community1=public
USM User1=
IP2=::1
Community2=public6
USM User2=upsuser
[USM]
Password Encrypt=No
Number=3
User1=upsuser
Security1=2
Auth1=authpass1
Priv1=privpass1
User2=authuser
Security2=1
Auth2=authpass2
Priv2=
User3=plain
Security3=0
Auth3=
Priv3=
[End]
"
vellmar_start
# The listeners open during start-up, not only at the first 5-second tick.
wait_for "trap listeners open at start" 3 log_has "IPv4-Trap: OK IPv6-Trap: OK"

V4=udp:127.0.0.1:162
V6=udp6:[::1]:162
MAKER=1.3.6.1.4.1.7342.2

trace_lines() { if [ -f "$VELLMAR_TRAP_TRACE" ]; then wc -l < "$VELLMAR_TRAP_TRACE"; else echo 0; fi; }
trace_grew() { [ "$(trace_lines)" -gt "$1" ]; }
# A fresh engine id for every SNMPv3 sender.
engine() { printf '0x80001f8880%s' "$(od -An -N8 -tx1 /dev/urandom | tr -d ' \n')"; }
trap1() { snmptrap -v 1 -m '' "$@"; }
trap2c() { snmptrap -v 2c -m '' "$@"; }
trap3() { snmptrap -v 3 -m '' -e "$(engine)" "$@"; }

# accepted DESCRIPTION "TRACE LINE" COMMAND...: the command's trap gives exactly that one line.
accepted() {
  local what=$1 line=$2
  shift 2
  local before
  before=$(trace_lines)
  "$@" || fail "$what: sender failed"
  wait_for "$what accepted" 5 trace_grew "$before"
  sleep 0.3
  [ "$(trace_lines)" -eq $((before + 1)) ] || fail "$what: more than one trap accepted"
  [ "$(tail -n 1 "$VELLMAR_TRAP_TRACE")" = "$line" ] || fail "$what: got '$(tail -n 1 "$VELLMAR_TRAP_TRACE")', expected '$line'"
  echo "ok   accepted: $what"
}

GOOD_LINE="accepted version=1 source=0 group=0 generic=6 specific=8"
good_trap() { trap2c -c public "$V4" '' "$MAKER.4.20.8.0"; }

# refused DESCRIPTION COMMAND...: the command's trap writes nothing; a good trap sent after it is
# the only new line.
refused() {
  local what=$1
  shift
  local before
  before=$(trace_lines)
  "$@" >/dev/null 2>&1 || true
  good_trap || fail "$what: good trap not sent"
  wait_for "good trap after $what" 5 trace_grew "$before"
  sleep 0.3
  [ "$(trace_lines)" -eq $((before + 1)) ] || fail "$what: the bad trap was accepted"
  [ "$(tail -n 1 "$VELLMAR_TRAP_TRACE")" = "$GOOD_LINE" ] || fail "$what: unexpected '$(tail -n 1 "$VELLMAR_TRAP_TRACE")'"
  echo "ok   refused:  $what"
}

# ---- Accepted ----
accepted "v1 MIBv4 event 7 over IPv4" "accepted version=0 source=0 group=0 generic=6 specific=7" \
  trap1 -c public "$V4" "$MAKER.4.20" 127.0.0.1 6 7 ''
accepted "v1 MIBv5 event 12 over IPv6" "accepted version=0 source=0 group=1 generic=6 specific=12" \
  trap1 -c public "$V6" "$MAKER.5.1" 127.0.0.1 6 12 ''
accepted "v1 Sensor event 2 over IPv4" "accepted version=0 source=0 group=2 generic=6 specific=2" \
  trap1 -c public "$V4" "$MAKER.500.1" 127.0.0.1 6 2 ''
accepted "v1 from an unlisted host naming a listed agent-addr" \
  "accepted version=0 source=0 group=0 generic=6 specific=8" \
  trap1 -c public --clientaddr=127.0.0.2 "$V4" "$MAKER.4.20" 127.0.0.1 6 8 ''
accepted "v2c MIBv4 event 7 over IPv4" "accepted version=1 source=0 group=0 generic=6 specific=7" \
  trap2c -c public "$V4" '' "$MAKER.4.20.7.0"
accepted "v2c MIBv5 event 12 over IPv6" "accepted version=1 source=1 group=1 generic=6 specific=12" \
  trap2c -c public6 "$V6" '' "$MAKER.5.1.12.0"
accepted "v3 authNoPriv MD5 over IPv4" "accepted version=3 source=0 group=0 generic=6 specific=7" \
  trap3 -u authuser -l authNoPriv -a MD5 -A authpass2 "$V4" '' "$MAKER.4.20.7.0"
accepted "v3 authPriv MD5/DES over IPv4" "accepted version=3 source=0 group=0 generic=6 specific=8" \
  trap3 -u upsuser -l authPriv -a MD5 -A authpass1 -x DES -X privpass1 "$V4" '' "$MAKER.4.20.8.0"
accepted "v3 authPriv MD5/DES over IPv6" "accepted version=3 source=1 group=2 generic=6 specific=3" \
  trap3 -u upsuser -l authPriv -a MD5 -A authpass1 -x DES -X privpass1 "$V6" '' "$MAKER.500.1.3.0"
accepted "v3 noAuthNoPriv of a user without security" "accepted version=3 source=0 group=2 generic=6 specific=4" \
  trap3 -u plain -l noAuthNoPriv "$V4" '' "$MAKER.500.1.4.0"
accepted "v2c cold start" "accepted version=1 source=0 group=2 generic=0 specific=4" \
  trap2c -c public "$V4" '' 1.3.6.1.6.3.1.1.5.1
accepted "v2c warm start over IPv6" "accepted version=1 source=1 group=2 generic=1 specific=4" \
  trap2c -c public6 "$V6" '' 1.3.6.1.6.3.1.1.5.2
accepted "v1 cold start" "accepted version=0 source=0 group=0 generic=0 specific=0" \
  trap1 -c public "$V4" "$MAKER.4.20" 127.0.0.1 0 0 ''
accepted "v3 authPriv cold start" "accepted version=3 source=0 group=0 generic=0 specific=0" \
  trap3 -u upsuser -l authPriv -a MD5 -A authpass1 -x DES -X privpass1 "$V4" '' 1.3.6.1.6.3.1.1.5.1

# ---- Refused ----
refused "v2c from an unlisted source address" trap2c -c public --clientaddr=127.0.0.2 "$V4" '' "$MAKER.4.20.7.0"
refused "v3 from an unlisted source address" \
  trap3 -u upsuser -l authPriv -a MD5 -A authpass1 -x DES -X privpass1 --clientaddr=127.0.0.2 "$V4" '' "$MAKER.4.20.7.0"
refused "v1 naming an unlisted agent-addr" trap1 -c public "$V4" "$MAKER.4.20" 127.0.0.2 6 7 ''
refused "v2c wrong community" trap2c -c private "$V4" '' "$MAKER.4.20.7.0"
refused "v2c community in other letter case" trap2c -c PUBLIC "$V4" '' "$MAKER.4.20.7.0"
refused "v2c community of another source" trap2c -c public "$V6" '' "$MAKER.4.20.7.0"
refused "v1 wrong community" trap1 -c private "$V4" "$MAKER.4.20" 127.0.0.1 6 7 ''
refused "v3 unknown user" trap3 -u stranger -l authNoPriv -a MD5 -A authpass1 "$V4" '' "$MAKER.4.20.7.0"
refused "v3 wrong auth pass phrase" \
  trap3 -u upsuser -l authPriv -a MD5 -A wrongpass1 -x DES -X privpass1 "$V4" '' "$MAKER.4.20.7.0"
refused "v3 wrong privacy pass phrase" \
  trap3 -u upsuser -l authPriv -a MD5 -A authpass1 -x DES -X wrongpriv1 "$V4" '' "$MAKER.4.20.7.0"
refused "v3 noAuth trap of an auth user" trap3 -u authuser -l noAuthNoPriv "$V4" '' "$MAKER.4.20.7.0"
refused "v3 authNoPriv trap of a privacy user" trap3 -u upsuser -l authNoPriv -a MD5 -A authpass1 "$V4" '' "$MAKER.4.20.7.0"
refused "v3 user other than the source's USM user" \
  trap3 -u authuser -l authNoPriv -a MD5 -A authpass2 "$V6" '' "$MAKER.4.20.7.0"
refused "v2c inform" snmpinform -v 2c -m '' -c public -r 0 -t 1 "$V4" '' "$MAKER.4.20.7.0"
refused "v1 trap of another enterprise" trap1 -c public "$V4" 1.3.6.1.4.1.9999.1.2 127.0.0.1 6 7 ''
refused "v2c trap of another enterprise" trap2c -c public "$V4" '' 1.3.6.1.4.1.9999.1.2.7.0

# ---- A flood of junk from an unlisted host does not hold back a real trap ----
before=$(trace_lines)
# 1000 junk datagrams in about half a second, then a real power failure from the listed source.
python3 - <<'PY' || fail "junk sender failed"
import socket, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.2", 0))
start = time.monotonic()
for i in range(1000):
    wait = start + i / 2000 - time.monotonic()
    if wait > 0:
        time.sleep(wait)
    s.sendto(bytes([0x30, 0x40]) + bytes(64), ("127.0.0.1", 162))
PY
trap1 -c public "$V4" "$MAKER.4.20" 127.0.0.1 6 3 '' || fail "power failure after the flood not sent"
t0=$(date +%s%N)
wait_for "power failure after 1000 junk datagrams" 3 trace_grew "$before"
delay=$((($(date +%s%N) - t0) / 1000000))
echo "ok   real trap taken ${delay} ms after 1000 junk datagrams"
# Within a second, with room for a busy machine.
[ "$delay" -lt 1500 ] || fail "real trap taken only after $delay ms"
log_has '^127\.0\.0\.1 3 ' || fail "power failure not logged"

# The refused traps above left a notice with a reason, a sender and a count (one a minute at most).
log_has "Traps refused: .* from .* ([0-9]* refused since the last notice)" || fail "refused traps not logged"

# ---- One sender engine over a restart of the service ----
FIXED=0x80001f8880a1b2c3d4e5f60718
fixed3() { snmptrap -v 3 -m '' -e "$FIXED" -u upsuser -l authPriv -a MD5 -A authpass1 -x DES -X privpass1 "$@"; }
FIXED_LINE="accepted version=3 source=0 group=0 generic=6 specific=8"
accepted "v3 of a fixed engine" "$FIXED_LINE" fixed3 "$V4" '' "$MAKER.4.20.8.0"
accepted "v3 of a fixed engine again" "$FIXED_LINE" fixed3 "$V4" '' "$MAKER.4.20.8.0"
vellmar_stop
engines="$VELLMAR_DIR/snmp_trap_engines.txt"
grep -q "^${FIXED#0x} [0-9]* [0-9]* [0-9]*"$'\r'"\$" "$engines" || fail "engine not kept: $(cat "$engines" 2>&1)"
[ "$(stat -c %a "$engines")" = 600 ] || fail "engines file is mode $(stat -c %a "$engines")"
vellmar_start
accepted "v3 of a fixed engine after a restart" "$FIXED_LINE" fixed3 "$V4" '' "$MAKER.4.20.8.0"
! log_has "SNMPv3 trap from .* refused" || fail "a fresh SNMPv3 trap was taken for a replay"

vellmar_stop
