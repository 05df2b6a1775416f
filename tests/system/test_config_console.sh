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
# The factory settings: an older file that names nothing (the console makes no agent.ini itself).
factory() { printf '[Format]\r\nVersion=7\r\n[End]\r\n' > "$VELLMAR_DIR/agent.ini"; }
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

# A file the service's start would keep as agent.ini.damaged (cut, or with a value it would
# replace), and a missing one: the console names it, writes nothing and ends (exit code 1).
ini_sum() { if [ -e "$VELLMAR_DIR/agent.ini" ]; then md5sum < "$VELLMAR_DIR/agent.ini"; else echo none; fi; }
console_refuses() {  # console_refuses CASE TEXT
  local code=0 before
  before=$(ini_sum)
  ostrel 6 8080 9 0 n > "$VELLMAR_DIR/refuse-$1.out" 2>&1 || code=$?
  [ "$code" = 1 ] || fail "$1: ended with $code"
  grep -qF -- "$2" "$VELLMAR_DIR/refuse-$1.out" || fail "$1: not named: $(cat "$VELLMAR_DIR/refuse-$1.out")"
  grep -qF "Nothing was changed" "$VELLMAR_DIR/refuse-$1.out" || fail "$1: not said that nothing changed"
  ! grep -qF "HTTP Port(" "$VELLMAR_DIR/refuse-$1.out" || fail "$1: the answers were taken"
  [ "$(ini_sum)" = "$before" ] || fail "$1: agent.ini changed"
  [ ! -e "$VELLMAR_DIR/agent.ini.damaged" ] || fail "$1: a copy was written"
}
factory
ostrel 9 0 n > /dev/null
cp "$VELLMAR_DIR/agent.ini" "$VELLMAR_DIR/whole.ini"
head -c "$(($(grep -abo '^\[Source IP\]' "$VELLMAR_DIR/whole.ini" | cut -d: -f1) + 30))" "$VELLMAR_DIR/whole.ini" \
  > "$VELLMAR_DIR/agent.ini"
console_refuses cut-in-sources "is damaged (it ends before [End])"
sed 's/^HTTP Port=80\r$/HTTP Port=0\r/' "$VELLMAR_DIR/whole.ini" > "$VELLMAR_DIR/agent.ini"
console_refuses value-replaced 'agent.ini: key [Web] HTTP Port has value "0", 1 used'
rm "$VELLMAR_DIR/agent.ini"
console_refuses missing "the service makes it at its first start"
[ ! -e "$VELLMAR_DIR/agent.ini" ] || fail "the console made agent.ini"

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

# The real nft of this test's network namespace from here on (nothing outside it is touched).
command -v nft > /dev/null || fail "nft is needed (the test command installs nftables)"
nft_run() { (unset VELLMAR_FIREWALL_SIMULATE; export VELLMAR_FIREWALL_NFT; VELLMAR_FIREWALL_NFT=$(command -v nft); ostrel "$@"); }
own_rule() { nft list table inet Vellmar_2012 2> /dev/null; }
others() { nft list ruleset | awk '/^table inet Vellmar_2012 /{skip=1} !skip{print} skip&&/^}/{skip=0}'; }
nft flush ruleset

# The rule follows the saved ports: a save that changes a port replaces a rule in place and says so.
factory
nft_run a i 0 > "$VELLMAR_DIR/nft-insert.out"
grep -q 'tcp dport { 80, 443 } accept' <<<"$(own_rule)" || fail "rule not inserted with the saved ports"
nft_run 6 8080 1 1162 9 0 n > "$VELLMAR_DIR/nft-save.out"
grep -qF $'\r\nThe saved ports changed: the firewall rule is replaced to follow them.\r\nSetting, please wait ...Ok.' \
  "$VELLMAR_DIR/nft-save.out" || fail "a save that changes ports does not say that the rule is replaced"
grep -q 'tcp dport { 443, 8080 } accept' <<<"$(own_rule)" || { own_rule; fail "the rule keeps the old HTTP port"; }
grep -q 'udp dport { 161, 1162 } accept' <<<"$(own_rule)" || fail "the rule keeps the old trap port"
# A save that changes no port, or one without a rule in place, leaves the firewall alone.
nft_run 3 9 0 n > "$VELLMAR_DIR/nft-toggle.out"
nft_run a r 0 > /dev/null
nft_run 7 8443 9 0 n > "$VELLMAR_DIR/nft-norule.out"
! grep -q 'firewall rule' "$VELLMAR_DIR/nft-toggle.out" "$VELLMAR_DIR/nft-norule.out" || fail "the rule was replaced without cause"
[ -z "$(own_rule)" ] || fail "a save put a removed rule back"
# An insert while port changes are unsaved says that the rule takes the saved ones.
nft_run 6 9090 a i 0 n > "$VELLMAR_DIR/nft-unsaved.out"
grep -qF $'\r\nThe firewall rule follows the saved ports: save first to open the changed ones.\r\nSetting, please wait ...Ok.' \
  "$VELLMAR_DIR/nft-unsaved.out" || fail "an insert with unsaved ports does not say so"
grep -q 'tcp dport { 8080, 8443 } accept' <<<"$(own_rule)" || { own_rule; fail "the inserted rule does not hold the saved ports"; }
nft_run a i 0 > "$VELLMAR_DIR/nft-saved.out"
! grep -q 'follows the saved ports' "$VELLMAR_DIR/nft-saved.out" || fail "an insert without changes speaks of unsaved ports"
nft flush ruleset

# Another table's input chain that drops the packets: the insert fails and names it; no other table
# changes. Each row: a rule set, and what the console names ("" when the rule takes effect).
fixture_case() {  # fixture_case NAME EXPECTED RULESET
  nft flush ruleset
  # One line each; nft wants a line end before a closing brace.
  printf '%s\n' "$3" | sed 's/ }/\n}/g' | nft -f - || fail "$1: fixture not loaded"
  local before code=0
  before=$(others)
  nft_run a i 0 > "$VELLMAR_DIR/nft-$1.out" || code=$?
  [ "$(others)" = "$before" ] || fail "$1: another table was changed"
  if [ -n "$2" ]; then
    [ "$code" = 1 ] || fail "$1: a rule that cannot take effect ended with exit code $code"
    grep -qF "The firewall rule cannot take effect: $2." "$VELLMAR_DIR/nft-$1.out" ||
      { cat "$VELLMAR_DIR/nft-$1.out"; fail "$1: the dropping chain is not named"; }
    grep -qF $'\r\nThe firewall rule could not be set.\r\n' "$VELLMAR_DIR/nft-$1.out" || fail "$1: the insert is not reported failed"
    [ -z "$(own_rule)" ] || fail "$1: the rule was inserted all the same"
  else
    [ "$code" = 0 ] || { cat "$VELLMAR_DIR/nft-$1.out"; fail "$1: the insert failed"; }
    [ -n "$(own_rule)" ] || fail "$1: no rule inserted"
  fi
}
fixture_case inet-policy "table inet filter, chain input drops the packets (policy drop)" \
  'table inet filter { chain input { type filter hook input priority 0; policy drop; iifname "lo" accept; } }'
fixture_case ip-last-drop "table ip filter, chain INPUT drops the packets (its last rule drops or rejects them)" \
  'table ip filter { chain INPUT { type filter hook input priority 0; policy accept; ct state established accept; counter drop; } }'
fixture_case ip6-policy "table ip6 filter, chain input drops the packets (policy drop)" \
  'table ip6 filter { chain input { type filter hook input priority 0; policy drop; } }'
fixture_case inet-last-reject "table inet zones, chain filter_INPUT drops the packets (its last rule drops or rejects them)" \
  'table inet zones { chain filter_INPUT { type filter hook input priority 10; policy accept; tcp dport 22 accept; reject with icmpx admin-prohibited; } }'
fixture_case conditional "" \
  'table inet filter { chain input { type filter hook input priority 0; policy accept; tcp dport 23 drop; } }'
fixture_case output-only "" \
  'table inet filter { chain output { type filter hook output priority 0; policy drop; } }'
nft flush ruleset

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
