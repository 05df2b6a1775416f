#!/usr/bin/env bash
# A full disk under the installation folder (a small tmpfs in a mount namespace of the test's own):
# an SNMP SET answers an error and a get returns the stored value, the event log keeps only whole
# lines; once space is freed the next save and line succeed and the lost lines are told. A start on
# a full disk runs on and reports its failed save.
if [ -z "${VELLMAR_IN_NETNS:-}" ]; then
  export VELLMAR_IN_NETNS=1
  exec unshare -rmn bash "$0" "$@"
fi
source "$(dirname "$0")/lib.sh"

use_net_snmp
E=1.3.6.1.4.1.7342.2.200
SNMP=(-m '' -On -t 2 -r 0)
V3=(-v3 -u manager -l authPriv -a MD5 -A mq472816 -x DES -X hv305749 -n rt5830)
ok() { echo "ok   $*"; }

# The data files stay in the test folder; the folder the service writes into is the tmpfs, which
# links to them.
vellmar_install "$LOCAL_SOURCE_INI"
INST="$VELLMAR_DIR/inst"
mkdir "$INST"
mount -t tmpfs -o size=320k tmpfs "$INST" || fail "tmpfs not mounted"
trap 'umount -l "$INST" 2>/dev/null || true; cleanup' EXIT
for f in "$VELLMAR_DIR"/*; do
  case "$(basename "$f")" in
    inst | agent.ini | registry | power.log) ;;
    *) ln -s "$f" "$INST/$(basename "$f")" ;;
  esac
done
cp "$VELLMAR_DIR/agent.ini" "$INST/agent.ini"
printf '[Software\\Orvik Electronics, Inc.\\Vellmar\\1\\Main]\nPath=%s\n' "$INST" > "$VELLMAR_DIR/registry"
LOG="$INST/_FILE_LOG.TXT"
log_lines() { wc -l < "$LOG"; }
inst_log_has() { grep -qF -- "$1" "$LOG" 2>/dev/null; }
whole_lines() {
  # Every line ends in CR LF and starts with a source and a level.
  [ "$(tail -c 1 "$LOG" | od -An -c | tr -d ' ')" = '\n' ] || return 1
  ! grep -av $'^[0-9a-f.:]* [0-9]* [0-9/]* [0-9:]* .*\r$' "$LOG" | grep -q .
}

(cd "$INST" && exec "$VELLMAR_DIR/Brevanta") > "$VELLMAR_DIR/brevanta.out" 2>&1 &
VELLMAR_PID=$!
VELLMAR_PIDS+=("$VELLMAR_PID")
wait_for "agent open" 15 inst_log_has "IPv4-SNMP: OK"
wait_for "trap listener open" 15 inst_log_has "IPv4-Trap: OK"
grep -q $'^Power Fail Delay=300\r$' "$INST/agent.ini" || fail "start-up save missing"

# Fill the disk.
dd if=/dev/zero of="$INST/filler" bs=4k 2>/dev/null || true
out=$(snmpset "${V3[@]}" "${SNMP[@]}" 127.0.0.1 $E.2.3.0 i 45 2>&1 || true)
grep -q "commitFailed" <<<"$out" || fail "SET on a full disk answered: $out"
out=$(snmpget "${V3[@]}" "${SNMP[@]}" 127.0.0.1 $E.2.3.0 2>&1 || true)
grep -q "INTEGER: 300$" <<<"$out" || fail "get after the failed SET: $out"
grep -q $'^Power Fail Delay=300\r$' "$INST/agent.ini" || fail "agent.ini changed"
grep -q "settings could not be saved to $INST/agent.ini" "$VELLMAR_DIR/brevanta.out" || fail "failed save not on stderr"
ok "SET on a full disk answers commitFailed, the stored value stays"

# Lines that come now stop fitting once the log's last page is full (the power events).
lost_reported() { grep -q "event log .* cannot be written" "$VELLMAR_DIR/brevanta.out"; }
for i in $(seq 1 80); do
  lost_reported && break
  local_power_trap $((3 + i % 2))
  sleep 0.2
done
sleep 1
before=$(log_lines)
whole_lines || fail "a cut line in the log"
grep -q "event log .* cannot be written" "$VELLMAR_DIR/brevanta.out" || fail "lost lines not reported on stderr"
ok "only whole lines while the disk is full"

# Space again: the next save and the next line go in, and the loss is told.
rm -f "$INST/filler"
out=$(snmpset "${V3[@]}" "${SNMP[@]}" 127.0.0.1 $E.2.3.0 i 45 2>&1 || true)
grep -q "INTEGER: 45$" <<<"$out" || fail "SET after freeing space answered: $out"
grep -q $'^Power Fail Delay=45\r$' "$INST/agent.ini" || fail "agent.ini not saved after freeing space"
# One of the two changes the power state, whichever the last trap above was.
local_power_trap 3
local_power_trap 4
lost_text=$(grep -a '^name21=' "$VELLMAR_DIR/Language/English/event-common.ini" | cut -d= -f2- | tr -d '\r' | sed 's/%s.*//')
wait_for "lost-lines event" 10 inst_log_has "$lost_text"
[ "$(log_lines)" -gt "$before" ] || fail "no new lines after freeing space"
whole_lines || fail "a cut line in the log after freeing space"
kill -0 "$VELLMAR_PID" || fail "the service is gone"
ok "after freeing space the save and the lines succeed, the loss is told"

# A start on a full disk runs on (protection first) and says that its save failed.
kill -TERM "$VELLMAR_PID"
wait "$VELLMAR_PID" || fail "stop ended with $?"
sed -i 's/^Power Fail Delay=45\r$/Power Fail Delay=46\r/' "$INST/agent.ini"
dd if=/dev/zero of="$INST/filler" bs=4k 2>/dev/null || true
(cd "$INST" && exec "$VELLMAR_DIR/Brevanta") > "$VELLMAR_DIR/brevanta2.out" 2>&1 &
VELLMAR_PID=$!
VELLMAR_PIDS+=("$VELLMAR_PID")
wait_for "failed start-up save reported" 15 grep -q "settings could not be saved to $INST/agent.ini" "$VELLMAR_DIR/brevanta2.out"
wait_for "agent answers" 15 sh -c "snmpget ${V3[*]} ${SNMP[*]} 127.0.0.1 $E.2.3.0 2>&1 | grep -q 'INTEGER: 46$'"
kill -0 "$VELLMAR_PID" || fail "the service did not run on"
rm -f "$INST/filler"
ok "a start on a full disk runs on and reports its failed save"
