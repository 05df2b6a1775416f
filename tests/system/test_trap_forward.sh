#!/usr/bin/env bash
# Trap forwarding to net-snmp's snmptrapd: real snmptrap traps (SNMPv1, v2c, v3 authPriv MD5/DES)
# accepted by the receiver arrive at the forward target in the same version, with the specific
# number and the source's community; the SNMPv3 forward is made under the service's engine id.
# The agent address comes from the host's address list, which leaves loopback out, so a veth pair
# with a documentation-range address stands in for a network card (no traffic goes there).
source "$(dirname "$0")/lib.sh"

ip link add vfwd0 type veth peer name vfwd1
ip addr add 192.0.2.10/24 dev vfwd0
ip link set vfwd0 up
ip link set vfwd1 up
use_net_snmp
command -v snmptrapd >/dev/null || fail "snmptrapd (package snmptrapd) is missing"

# The engine id: enterprise 7342 with the top bit, format 3, the first adapter's MAC.
mac_of() { ip -o link show "$1" | sed -n 's/.*link\/ether \([0-9a-f:]*\).*/\1/p' | tr -d ':'; }
MAC=$(mac_of vfwd0)
[ ${#MAC} = 12 ] || fail "no MAC on vfwd0"
ENGINE=0x80001cae03$MAC

vellmar_install "[Format]
Version=7
[Source IP]
Listen Port=162
Number=1
IP1=127.0.0.1
Community1=upsside
USM User1=
[Forward Trap]
Number=2
IP1=127.0.0.1
Port1=11162
IP2=not-an-address
Port2=11162
[USM]
Password Encrypt=No
Context Name=rt5830
Number=1
User1=upsuser
Security1=2
Auth1=authpass1
Priv1=privpass1
Permission1=2
[End]
"

# snmptrapd: the community and the user of the forwards, logged one trap per line.
TRAPD_LOG="$VELLMAR_DIR/trapd.log"
cat > "$SNMP_PERSISTENT_DIR/snmptrapd.conf" <<EOF
authCommunity log upsside
createUser -e $ENGINE upsuser MD5 authpass1 DES privpass1
authUser log upsuser priv
format2 TRAP %s|%u|%v\n
format1 TRAP1 %s|%u|%N|%w|%q|%a\n
EOF
snmptrapd -f -n -m '' -Lf "$TRAPD_LOG" -C -c "$SNMP_PERSISTENT_DIR/snmptrapd.conf" \
  -p "$VELLMAR_DIR/trapd.pid" udp:127.0.0.1:11162 &
VELLMAR_PIDS+=($!)

vellmar_start
wait_for "trap listener open" 15 log_has "IPv4-Trap: OK"

trapd_lines() { if [ -f "$TRAPD_LOG" ]; then grep -c '^TRAP' "$TRAPD_LOG" || true; else echo 0; fi; }
trapd_grew() { [ "$(trapd_lines)" -gt "$1" ]; }
MAKER=1.3.6.1.4.1.7342.2
V4=udp:127.0.0.1:162

# forwarded DESCRIPTION PATTERN COMMAND...: the command's trap reaches snmptrapd as one line
# matching the pattern.
forwarded() {
  local what=$1 pattern=$2
  shift 2
  local before
  before=$(trapd_lines)
  "$@" || fail "$what: sender failed"
  wait_for "$what forwarded" 10 trapd_grew "$before"
  local line
  line=$(grep '^TRAP' "$TRAPD_LOG" | tail -n 1)
  echo "$line" | grep -Eq -- "$pattern" || fail "$what: forward was '$line', expected /$pattern/"
  echo "ok   forwarded: $what"
}

forwarded "v1 enterprise trap 6/7" \
  "^TRAP1 0\\|upsside\\|.*7342\\.2\\.4\\.20\\|6\\|\\.?7\\|192\\.0\\.2\\.10\$" \
  snmptrap -v 1 -m '' -c upsside "$V4" "$MAKER.4.20" 127.0.0.1 6 7 ''
forwarded "v2c enterprise trap 8" \
  "^TRAP 1\\|upsside\\|.*7342\\.2\\.4\\.20\\.8\\.0" \
  snmptrap -v 2c -m '' -c upsside "$V4" '' "$MAKER.4.20.8.0"
forwarded "v2c cold start" \
  "^TRAP 1\\|upsside\\|.*6\\.3\\.1\\.1\\.5\\.1" \
  snmptrap -v 2c -m '' -c upsside "$V4" '' 1.3.6.1.6.3.1.1.5.1
forwarded "v3 authPriv enterprise trap 9" \
  "^TRAP 3\\|upsuser\\|.*7342\\.2\\.4\\.20\\.9\\.0" \
  snmptrap -v 3 -m '' -e 0x80001f888012345678 -u upsuser -l authPriv -a MD5 -A authpass1 -x DES -X privpass1 \
  "$V4" '' "$MAKER.4.20.9.0"

vellmar_stop
