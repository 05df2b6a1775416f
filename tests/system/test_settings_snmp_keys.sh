#!/usr/bin/env bash
# The SNMPv3 user "manager" of a new installation, against net-snmp's snmpget: the factory pass
# phrases are refused, the ones the start made (and named on standard error) answer, and they are
# stored: the next start keeps them. A damaged file that lost them gets new ones.
source "$(dirname "$0")/lib.sh"

use_net_snmp
ok() { echo "ok   $*"; }
SNMP=(-m '' -On -t 2 -r 1)
get_with() {  # get_with AUTH PRIV: sysDescr as the user manager
  snmpget -v3 -u manager -l authPriv -a MD5 -A "$1" -x DES -X "$2" -n rt5830 "${SNMP[@]}" 127.0.0.1 \
    1.3.6.1.2.1.1.1.0 2>&1 || true
}
answers() { [[ "$(get_with "$1" "$2")" == *'STRING: "Vellmar"'* ]]; }
# The pass phrases a start named: "AUTH PRIV", or nothing.
made() {
  sed -n 's/^Brevanta: SNMPv3 user manager: pass phrases made for this installation: authentication \([^,]*\), privacy \(.*\)$/\1 \2/p' \
    "$VELLMAR_DIR/brevanta.out"
}
agent_open() { wait_for "agent open" 15 log_has "IPv4-SNMP: OK"; }

# ---- A new installation ----
vellmar_install
vellmar_start
agent_open
read -r AUTH PRIV <<<"$(made)"
[ ${#AUTH} = 16 ] && [ ${#PRIV} = 16 ] || fail "no pass phrases of 16 characters named: $(cat "$VELLMAR_DIR/brevanta.out")"
[[ "$AUTH$PRIV" =~ ^[A-Za-z0-9_-]+$ ]] || fail "pass phrases with characters outside letters, digits, - and _"
! grep -qF -e "$AUTH" -e "$PRIV" "$VELLMAR_DIR/agent.ini" || fail "the pass phrases are stored plain"
! grep -qF -e "$AUTH" -e "$PRIV" "$VELLMAR_DIR/_FILE_LOG.TXT" || fail "the pass phrases are in the event log"
out=$(get_with mq472816 hv305749)
[[ "$out" == *"Authentication failure"* ]] || fail "the factory pass phrases were not refused: $out"
ok "the factory pass phrases are refused"
answers "$AUTH" "$PRIV" || fail "the made pass phrases do not answer: $(get_with "$AUTH" "$PRIV")"
ok "the made pass phrases answer"
vellmar_stop

# ---- The next start keeps them ----
cp "$VELLMAR_DIR/agent.ini" "$VELLMAR_DIR/first.ini"
rm -f "$VELLMAR_DIR/_FILE_LOG.TXT"
vellmar_start
agent_open
[ -z "$(made)" ] || fail "an existing file got new pass phrases"
answers "$AUTH" "$PRIV" || fail "the stored pass phrases do not answer after a restart"
vellmar_stop
cmp -s "$VELLMAR_DIR/first.ini" "$VELLMAR_DIR/agent.ini" || fail "the start changed a whole file"
ok "the stored pass phrases answer after a restart"

# ---- A damaged file cut before [USM]: new ones, not the factory pair ----
head -c "$(grep -abo '^\[USM\]' "$VELLMAR_DIR/first.ini" | cut -d: -f1)" "$VELLMAR_DIR/first.ini" > "$VELLMAR_DIR/agent.ini"
rm -f "$VELLMAR_DIR/_FILE_LOG.TXT"
vellmar_start
agent_open
read -r AUTH2 PRIV2 <<<"$(made)"
[ ${#AUTH2} = 16 ] && [ "$AUTH2" != "$AUTH" ] || fail "no new pass phrases for the damaged file"
answers "$AUTH2" "$PRIV2" || fail "the new pass phrases do not answer"
[[ "$(get_with mq472816 hv305749)" == *"Authentication failure"* ]] || fail "the factory pair answers after a damaged file"
vellmar_stop
ok "a damaged file without them gets new pass phrases"
