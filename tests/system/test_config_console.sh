#!/usr/bin/env bash
# The configuration console Ostrel: screens byte for byte through a pseudo-terminal and in scripted
# mode, the firewall commands through the netsh stand-in (simulated), the restart of the service
# under the test service manager, and refused arguments.
source "$(dirname "$0")/lib.sh"
: "${OSTREL:?}" "${NETSH:?}" "${VELLMAR_HELPER:?}"

vellmar_install
cp "$OSTREL" "$VELLMAR_DIR/Ostrel"
cp "$NETSH" "$VELLMAR_DIR/netsh"
export VELLMAR_FIREWALL_SIMULATE="$VELLMAR_DIR/firewall.log"
use_test_service_manager
session() { python3 "$(dirname "$0")/console_session.py" "$VELLMAR_DIR/Ostrel" "$VELLMAR_DIR" "$1" || fail "case $1"; }
factory() { rm -f "$VELLMAR_DIR/agent.ini"; }
ostrel() { (cd "$VELLMAR_DIR" && ./Ostrel "$@" < /dev/null); }

factory; session interactive
factory; session exit-at-once
factory; session scripted
factory; session manageable
factory; ostrel 0 > /dev/null; session run-out
session input-ends
factory; ostrel 0 > /dev/null; session ports
# A save that cannot replace agent.ini: the folder read-only in a mount namespace of this test's own.
factory; ostrel 0 > /dev/null
unshare -m bash -c 'mount --bind "$1" "$1" && mount -o remount,bind,ro "$1" && python3 "$2" "$1/Ostrel" "$1" store-fails' \
  _ "$VELLMAR_DIR" "$(dirname "$0")/console_session.py" || fail "case store-fails"

# An argument longer than the 63-byte answer area refuses the whole script before anything happens.
factory
ostrel 6 8080 9 > /dev/null
before=$(md5sum < "$VELLMAR_DIR/agent.ini")
long=$(printf '1%.0s' $(seq 64))
code=0
ostrel 6 "$long" 9 0 n > "$VELLMAR_DIR/long.out" 2> "$VELLMAR_DIR/long.err" || code=$?
[ "$code" = 1 ] || fail "a long argument ended with $code"
[ ! -s "$VELLMAR_DIR/long.out" ] || fail "a refused script printed screens"
grep -q "longer than 63 bytes" "$VELLMAR_DIR/long.err" || fail "no message for a long argument"
[ "$(md5sum < "$VELLMAR_DIR/agent.ini")" = "$before" ] || fail "a refused script changed agent.ini"
ostrel "$(printf '1%.0s' $(seq 63))" > /dev/null || fail "a 63-byte argument was refused"

# Firewall: insert then remove; the stand-in reads the ports of the folder's agent.ini.
factory
ostrel 1 1162 2 1161 7 8443 9 a i a R 0 > "$VELLMAR_DIR/fw.out"
grep -q $'Setting, please wait ...Ok.\n' "$VELLMAR_DIR/fw.out" || fail "no Setting message and netsh output"
expected=$'add table inet Vellmar_2012\ndelete table inet Vellmar_2012\ntable inet Vellmar_2012 {\n\tchain input {\n\t\ttype filter hook input priority filter; policy accept;\n\t\tudp dport { 1161, 1162 } accept\n\t\ttcp dport { 80, 8443 } accept\n\t}\n}\nadd table inet Vellmar_2012\ndelete table inet Vellmar_2012'
[ "$(cat "$VELLMAR_DIR/firewall.log")" = "$expected" ] || { cat "$VELLMAR_DIR/firewall.log"; fail "firewall rule set"; }
if command -v nft > /dev/null; then
  # Checked only (-c): nothing is applied, and this runs in the test's own network namespace.
  head -n 9 "$VELLMAR_DIR/firewall.log" | nft -c -f - || fail "nft rejects the rule set"
fi

# The older command form (below version 6), as the interpreter hands it to the stand-in.
: > "$VELLMAR_DIR/firewall.log"
(cd "$VELLMAR_DIR" && PATH="$VELLMAR_DIR:$PATH" sh -c "netsh firewall add allowedprogram $VELLMAR_DIR\\Brevanta.exe Vellmar 2012 ENABLE ALL") > /dev/null ||
  fail "the older add form is not taken"
grep -q $'\t\ttcp dport { 80, 8443 } accept' "$VELLMAR_DIR/firewall.log" || fail "older form: rule set"

# Restart under the test service manager: the service stops, is waited for and starts again.
vellmar_service_start
first_pid=$VELLMAR_SERVICE_PID
sleep 0.3
ostrel b 0 > "$VELLMAR_DIR/restart.out"
second_pid=$(cut -d' ' -f1 "$VELLMAR_SERVICE_STATE/Vellmar/pid")
VELLMAR_PIDS+=("$second_pid")
grep -q 'Restart Service, please wait ...' "$VELLMAR_DIR/restart.out" || fail "no restart message"
! grep -q 'could not be restarted' "$VELLMAR_DIR/restart.out" || fail "restart reported as failed"
[ "$second_pid" != "$first_pid" ] || fail "the service was not started again"
process_gone "$first_pid" || fail "the first service process still runs"
[ "$("$VELLMAR_HELPER" sc query Vellmar)" = RUNNING ] || fail "service not running after the restart"
started_name=$(grep -a '^name1=' "$VELLMAR_DIR/Language/English/event-common.ini" | cut -d= -f2- | tr -d '\r')
two_starts() { [ "$(log_count "$started_name")" -ge 2 ]; }
wait_for "second start logged" 10 two_starts
stopped_name=$(grep -a '^name2=' "$VELLMAR_DIR/Language/English/event-common.ini" | cut -d= -f2- | tr -d '\r')
# The events in order: start, stop, start (other lines may stand between them).
order=$(awk -v a="$started_name" -v b="$stopped_name" 'index($0, a) { printf "start|" } index($0, b) { printf "stop|" }' "$VELLMAR_DIR/_FILE_LOG.TXT")
[ "$order" = "start|stop|start|" ] || fail "start, stop, start not logged in order: $order"
"$VELLMAR_HELPER" sc stop Vellmar
service_stopped() { [ "$("$VELLMAR_HELPER" sc query Vellmar)" = STOPPED ]; }
wait_for "service stopped" 15 service_stopped

# A restart that fails says so with the service manager's reason, and a script ends with exit code 1.
restart_fails() {  # restart_fails CASE REASON
  local code=0
  ostrel b 0 > "$VELLMAR_DIR/restart-$1.out" || code=$?
  [ "$code" = 1 ] || fail "$1: a failed restart ended with exit code $code"
  grep -qF $'Restart Service, please wait ...\r\nThe service could not be restarted.\r\nThe reason: '"$2"$'.\r\n' \
    "$VELLMAR_DIR/restart-$1.out" || { cat "$VELLMAR_DIR/restart-$1.out"; fail "$1: the failure and its reason are not shown"; }
}
"$VELLMAR_HELPER" sc delete Vellmar || fail "service not deleted"
restart_fails missing "the service Vellmar is not installed"
(unset VELLMAR_SERVICE_STATE; restart_fails no-manager "the service manager could not be opened: no service manager is used under test")

# A service that ends at once after its start: its last words are the reason.
"$VELLMAR_HELPER" sc create Vellmar "sh -c 'echo agent.ini is a folder >&2; exit 1'" || fail "failing service not created"
restart_fails ends-at-once "it ended at once: agent.ini is a folder"
"$VELLMAR_HELPER" sc delete Vellmar || fail "failing service not deleted"

# A service that does not stop within the 30 s time-out is not started over it; the failure is said.
"$VELLMAR_HELPER" sc create Vellmar "sh -c 'trap \"\" TERM; while :; do sleep 1; done'" || fail "stubborn service not created"
"$VELLMAR_HELPER" sc start Vellmar || fail "stubborn service not started"
stubborn_pid=$(cut -d' ' -f1 "$VELLMAR_SERVICE_STATE/Vellmar/pid")
VELLMAR_PIDS+=("$stubborn_pid")
restart_fails stubborn "it did not stop within 30 seconds"
[ "$(cut -d' ' -f1 "$VELLMAR_SERVICE_STATE/Vellmar/pid")" = "$stubborn_pid" ] || fail "started again before it stopped"
[ "$("$VELLMAR_HELPER" sc query Vellmar)" = STOP_PENDING ] || fail "the stop request is not pending"
kill -9 "$stubborn_pid"
