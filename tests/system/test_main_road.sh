#!/usr/bin/env bash
# The main road of a power failure end to end: real SNMPv1 traps from listed sources, the logged
# events, the countdown and its announcement, the command file, the VMware scripts (run against
# recording stand-ins of the vSphere tools) and the simulated power action; power coming back,
# AND/OR over two sources, hibernation with its resume, shutdown type 3 and a cold start.
source "$(dirname "$0")/lib.sh"

use_net_snmp
vellmar_install
ip addr add 127.0.0.2/32 dev lo 2>/dev/null || true

LANG_DIR="$VELLMAR_DIR/Language/English"
event_name() { grep -a "^name$2=" "$LANG_DIR/$1" | cut -d= -f2- | tr -d '\r' | sed 's/%s.*//'; }
POWER_FAIL=$(event_name event-MIBv4.ini 3)
POWER_BACK=$(event_name event-MIBv4.ini 4)
STARTED=$(event_name event-common.ini 1)
COUNTDOWN=$(event_name event-common.ini 7)
ENDED=$(event_name event-common.ini 8)
OS_ACTION=$(event_name event-common.ini 9)

# Stand-ins of the vSphere tools: each call appends its name, arguments and connection to a record.
RECORD="$VELLMAR_DIR/vcli.record"
mkdir -p "$VELLMAR_DIR/vcli"
for tool in vicfg-hostops esxcli vmware-cmd; do
  cat > "$VELLMAR_DIR/vcli/$tool" <<EOF
#!/bin/sh
cfg=; prev=
for a in "\$@"; do [ "\$prev" = --config ] && cfg=\$a; prev=\$a; done
server=\$(sed -n 's/^VI_SERVER = //p' "\$cfg")
echo "$tool \$* server=\$server" | sed "s| --config \$cfg||" >> "$RECORD"
EOF
  chmod 755 "$VELLMAR_DIR/vcli/$tool"
done
printf 'echo ran >> "%s/command.ran"\n' "$VELLMAR_DIR" > "$VELLMAR_DIR/before.cmd"

# settings LINES...: an agent.ini of the factory settings with these lines over them.
settings() {
  printf '[Format]\nVersion=7\n%s\n[End]\n' "$1" | sed 's/$/\r/' > "$VELLMAR_DIR/agent.ini"
}
SOURCES_ONE='[Source IP]
Logical=0
Number=1
IP1=127.0.0.1
Community1=public'
SOURCES_TWO_AND='[Source IP]
Logical=1
Number=2
IP1=127.0.0.1
Community1=public
IP2=127.0.0.2
Community2=public'
VMWARE="VM Enable=Yes
VM Type=0
VM Server=esx.example
VM Account=root
Password Encrypt=No
VM Password=hostpw
vCLI Path=$VELLMAR_DIR/vcli
Guest Enable=No"
CLUSTERS='[Cluster]
Number=2
vCenter1=vc1.example
Account1=admin
Password1=pw1
Cluster1=Cluster One
vCenter2=vc2.example
Account2=admin
Password2=pw2
Cluster2=Cluster Two'

# run_service: a fresh log and record, the service started, its trap port open.
run_service() {
  rm -f "$VELLMAR_DIR/_FILE_LOG.TXT" "$RECORD" "$VELLMAR_DIR/power.log" "$VELLMAR_DIR/command.ran"
  vellmar_start
  wait_for "trap port open" 15 log_has "IPv4-Trap: OK"
}

# send AGENT GENERIC SPECIFIC: an SNMPv1 trap of the maker's MIBv4 subtree naming AGENT as source.
send() {
  snmptrap -v 1 -c public -m '' 127.0.0.1 1.3.6.1.4.1.7342.2.4.20 "$1" "$2" "$3" '' >/dev/null 2>&1 ||
    fail "snmptrap failed"
}

# Checks evaluated anew on each try of wait_for.
count_is() { [ "$(log_count "$1")" = "$2" ]; }
lines_are() { [ "$(cat "$1" 2>/dev/null | wc -l)" = "$2" ]; }
line_of() { grep -n -F -- "$1" "$VELLMAR_DIR/_FILE_LOG.TXT" | head -n 1 | cut -d: -f1; }
power_lines() { cat "$VELLMAR_DIR/power.log" 2>/dev/null || true; }

# 1) Power failure: logged with the source's address, countdown announced, command file once,
# cluster then ESXi scripts, event 9, exactly one simulated power-off.
settings "[Shutdown]
Type=1
Power Fail Delay=3
$VMWARE
[Reaction]
Execute Command Enable=Yes
Execute Command Before=2
Execute Command File=$VELLMAR_DIR/before.cmd
$SOURCES_ONE
$CLUSTERS"
run_service
send 127.0.0.1 6 3
wait_for "power failure logged" 5 log_has "$POWER_FAIL"
grep -a -F -- "$POWER_FAIL" "$VELLMAR_DIR/_FILE_LOG.TXT" | grep -q '^127\.0\.0\.1 3 ' ||
  fail "power failure not logged with the source address and level 3"
wait_for "countdown announced" 5 log_has "$COUNTDOWN"
grep -a -F -- "$COUNTDOWN" "$VELLMAR_DIR/_FILE_LOG.TXT" | grep -q '^0\.0\.0\.0 .*time left 0[0-3]' ||
  fail "announcement without the time left"
wait_for "power-off carried out" 15 test -s "$VELLMAR_DIR/power.log"
sleep 3
[ "$(power_lines)" = poweroff ] || fail "expected one power-off line, got: $(power_lines)"
[ "$(cat "$VELLMAR_DIR/command.ran" 2>/dev/null)" = ran ] || fail "the command file did not run exactly once"
[ "$(log_count "$COUNTDOWN")" = 1 ] || fail "countdown announced more than once"
expected="vicfg-hostops --cluster Cluster One --operation shutdown --force server=vc1.example
vicfg-hostops --cluster Cluster Two --operation shutdown --force server=vc2.example
vicfg-hostops --operation shutdown --force server=esx.example"
[ "$(cat "$RECORD")" = "$expected" ] || fail "VMware scripts: $(cat "$RECORD")"
esxi_at=$(line_of "Execute the VMWare ESXi shutdown command.")
cluster_at=$(line_of "Execute the VMWare cluster shutdown command.")
os_at=$(line_of "$OS_ACTION")
[ -n "$cluster_at" ] && [ -n "$esxi_at" ] && [ -n "$os_at" ] || fail "shutdown steps not logged"
[ "$cluster_at" -lt "$esxi_at" ] && [ "$esxi_at" -lt "$os_at" ] || fail "shutdown steps out of order"
[ "$(log_count "$ENDED")" = 0 ] || fail "a countdown that ran out was logged as ended"
vellmar_stop

# 2) Power restored before the end: the countdown ends, event 8, no power action.
settings "[Shutdown]
Type=1
Power Fail Delay=30
$SOURCES_ONE"
run_service
send 127.0.0.1 6 3
wait_for "countdown announced" 5 log_has "$COUNTDOWN"
send 127.0.0.1 6 4
wait_for "power restored logged" 5 log_has "$POWER_BACK"
wait_for "countdown ended" 5 log_has "$ENDED"
sleep 2
[ "$(log_count "$ENDED")" = 1 ] || fail "event 8 logged more than once"
[ -z "$(power_lines)" ] || fail "power action after the power came back"

# 6) A cold start from the source wipes its alarms: the countdown ends, nothing is logged for it,
# and the next power failure is a change again.
send 127.0.0.1 6 3
wait_for "second countdown" 5 count_is "$COUNTDOWN" 2
lines=$(wc -l < "$VELLMAR_DIR/_FILE_LOG.TXT")
send 127.0.0.1 0 0
wait_for "countdown ended by the cold start" 5 count_is "$ENDED" 2
[ "$(wc -l < "$VELLMAR_DIR/_FILE_LOG.TXT")" = $((lines + 1)) ] || fail "the cold start itself was logged"
send 127.0.0.1 6 3
wait_for "power failure logged again" 5 count_is "$POWER_FAIL" 3
[ -z "$(power_lines)" ] || fail "power action in the restore scenario"
vellmar_stop

# 4) Two sources: with AND the condition waits for both, with OR one is enough. The trusted source
# of an SNMPv1 trap is its agent-addr.
settings "[Shutdown]
Power Fail Delay=60
$SOURCES_TWO_AND"
run_service
send 127.0.0.1 6 3
wait_for "first source's failure logged" 5 log_has "^127\.0\.0\.1 3 "
sleep 3
[ "$(log_count "$COUNTDOWN")" = 0 ] || fail "AND started a countdown with one source"
send 127.0.0.2 6 3
wait_for "second source's failure logged" 5 log_has "^127\.0\.0\.2 3 "
wait_for "AND countdown" 5 log_has "$COUNTDOWN"
vellmar_stop
settings "[Shutdown]
Power Fail Delay=60
${SOURCES_TWO_AND/Logical=1/Logical=0}"
run_service
send 127.0.0.2 6 3
wait_for "OR countdown" 5 log_has "$COUNTDOWN"
[ -z "$(power_lines)" ] || fail "power action in the AND/OR scenario"
vellmar_stop

# 5) Hibernation: settings saved, the resume logs event 1 after event 9 and wipes the alarms (a new
# power failure is logged and counted down again); the listeners come back.
settings "[Shutdown]
Type=2
Power Fail Delay=2
$SOURCES_ONE"
run_service
rm -f "$VELLMAR_DIR/agent.ini"
send 127.0.0.1 6 3
wait_for "hibernated" 10 test -s "$VELLMAR_DIR/power.log"
[ "$(power_lines)" = hibernate ] || fail "expected one hibernate line, got: $(power_lines)"
wait_for "settings saved" 2 test -s "$VELLMAR_DIR/agent.ini"
[ "$(log_count "$STARTED")" = 2 ] || fail "the resume did not log the service start"
[ "$(line_of "$OS_ACTION")" -lt "$(grep -n -F -- "$STARTED" "$VELLMAR_DIR/_FILE_LOG.TXT" | tail -n 1 | cut -d: -f1)" ] ||
  fail "event 1 not logged after the shutdown action"
sleep 6  # the 5-second tick opens the trap port again
send 127.0.0.1 6 3
wait_for "power failure after the resume" 5 count_is "$POWER_FAIL" 2
wait_for "second hibernation" 10 lines_are "$VELLMAR_DIR/power.log" 2
vellmar_stop

# 5b) Type 3: the VMware scripts run, no event 9, no power action, the service keeps running and
# the alarms are wiped.
settings "[Shutdown]
Type=3
Power Fail Delay=2
$VMWARE
$SOURCES_ONE
$CLUSTERS"
run_service
send 127.0.0.1 6 3
wait_for "VMware scripts" 10 lines_are "$RECORD" 3
sleep 2
[ "$(log_count "$OS_ACTION")" = 0 ] || fail "type 3 logged the operating-system action"
[ -z "$(power_lines)" ] || fail "type 3 carried out a power action"
kill -0 "$VELLMAR_PID" || fail "the service is gone after type 3"
send 127.0.0.1 6 3
wait_for "power failure logged again after the wipe" 5 count_is "$POWER_FAIL" 2
vellmar_stop
echo "main road: all scenarios passed"
