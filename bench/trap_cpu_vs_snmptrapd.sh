#!/usr/bin/env bash
# Trap receiving, Brevanta against net-snmp's snmptrapd in one run, in a network namespace of its
# own, with one v2c trap datagram captured from snmptrap and replayed from Python:
# - CPU per trap: Brevanta gets the trap repeated ten times in one datagram, snmptrapd the single
#   trap at ten times the rate, so both get the same traps; each process's run time in that window,
#   less its run time in windows of equal traffic sent to a closed port, over the traps it took;
# - a burst of BURST single traps sent at once to each: how many each takes;
# - the delay of a real trap (sent every 0.25 s) while junk from an unlisted host arrives at 1000
#   and 10000 datagrams per second.
# Usage: bench/trap_cpu_vs_snmptrapd.sh   (BREVANTA defaults to build/normal/Brevanta)
root=$(cd "$(dirname "$0")/.." && pwd)
export VELLMAR_SOURCE_DIR=${VELLMAR_SOURCE_DIR:-$root}
export BREVANTA=${BREVANTA:-$root/build/normal/Brevanta}
source "$root/tests/system/lib.sh"

command -v snmptrap >/dev/null || fail "snmptrap (package snmp) is missing"
command -v snmptrapd >/dev/null || fail "snmptrapd (package snmptrapd) is missing"

DATAGRAMS=${DATAGRAMS:-400}   # ten-trap datagrams to Brevanta per window
RATE=${RATE:-40}              # of them per second; snmptrapd gets ten times as many single ones
BURST=${BURST:-10000}
JUNK_SECONDS=${JUNK_SECONDS:-5}
LOAD=(python3 "$root/bench/trap_load.py")
ip addr add 127.0.0.2/8 dev lo

export VELLMAR_TRAP_TRACE="$VELLMAR_DIR/trace.txt"
export SNMP_PERSISTENT_DIR="$VELLMAR_DIR/net-snmp"
export SNMPCONFPATH="$VELLMAR_DIR/net-snmp"
mkdir -p "$SNMP_PERSISTENT_DIR" "$VELLMAR_DIR/trapd"

vellmar_install "[Format]
Version=7
[Source IP]
Listen Port=162
Number=1
IP1=127.0.0.1
Community1=public
[End]
"
vellmar_start
wait_for "trap listeners open" 15 log_has "IPv4-Trap: OK"

printf 'disableAuthorization yes\ndisablePerl yes\n' > "$VELLMAR_DIR/trapd/snmptrapd.conf"
SNMP_PERSISTENT_DIR="$VELLMAR_DIR/trapd" snmptrapd -f -Lo -C -c "$VELLMAR_DIR/trapd/snmptrapd.conf" -n -m '' \
  udp:127.0.0.1:1162 > "$VELLMAR_DIR/trapd/out.log" 2>&1 &
TRAPD_PID=$!
VELLMAR_PIDS+=("$TRAPD_PID")
wait_for "snmptrapd started" 10 grep -q "NET-SNMP version" "$VELLMAR_DIR/trapd/out.log"

run_ns() { cat /proc/"$1"/task/*/schedstat | awk '{s += $1} END {printf "%d", s}'; }
trace_lines() { if [ -f "$VELLMAR_TRAP_TRACE" ]; then wc -l < "$VELLMAR_TRAP_TRACE"; else echo 0; fi; }
trapd_lines() { grep -c '7342\.2\.4\.20' "$VELLMAR_DIR/trapd/out.log" || true; }
# settle COMMAND: waits until the count the command prints has not grown for a second.
settle() {
  local last=-1 now
  now=$("$@")
  while [ "$now" != "$last" ]; do
    last=$now
    sleep 1
    now=$("$@")
  done
}

# One v2c trap of the listed source, as snmptrap sends it.
"${LOAD[@]}" capture 17000 > "$VELLMAR_DIR/one.hex" &
capture_pid=$!
sleep 0.5
snmptrap -v 2c -c public -m '' udp:127.0.0.1:17000 '' 1.3.6.1.4.1.7342.2.4.20.8.0
wait "$capture_pid"
ONE=$(cat "$VELLMAR_DIR/one.hex")
[ -n "$ONE" ] || fail "no datagram captured"
TEN=$ONE$ONE$ONE$ONE$ONE$ONE$ONE$ONE$ONE$ONE

# window PORT_BREVANTA PORT_TRAPD: the same traffic towards the two ports; prints each process's
# run time in the window (ns).
window() {
  local b0 d0 p1 p2
  b0=$(run_ns "$VELLMAR_PID")
  d0=$(run_ns "$TRAPD_PID")
  "${LOAD[@]}" replay "$TEN" "$1" "$DATAGRAMS" "$RATE" &
  p1=$!
  "${LOAD[@]}" replay "$ONE" "$2" $((DATAGRAMS * 10)) $((RATE * 10)) &
  p2=$!
  wait "$p1" "$p2"
  sleep 0.5
  echo $(($(run_ns "$VELLMAR_PID") - b0)) $(($(run_ns "$TRAPD_PID") - d0))
}

sleep 2
base1=$(window 1999 1999)
b_before=$(trace_lines)
d_before=$(trapd_lines)
busy=$(window 162 1162)
settle trace_lines
settle trapd_lines
b_took=$(($(trace_lines) - b_before))
d_took=$(($(trapd_lines) - d_before))
base2=$(window 1999 1999)
echo "$base1 $busy $base2" | awk -v n=$((DATAGRAMS * 10)) -v bt="$b_took" -v dt="$d_took" -v rate="$RATE" '{
  base[1] = ($1 + $5) / 2; base[2] = ($2 + $6) / 2; used[1] = $3; used[2] = $4; took[1] = bt; took[2] = dt
  name[1] = "Brevanta"; name[2] = "snmptrapd"
  printf "%d v2c traps per window: Brevanta %d datagrams/s of 10 traps, snmptrapd %d datagrams/s of 1\n", n, rate, rate * 10
  printf "%-10s %8s %14s %14s %14s %12s\n", "process", "took", "run in window", "closed port", "above", "per trap"
  for (k = 1; k <= 2; ++k) {
    above[k] = used[k] - base[k]; per[k] = took[k] ? above[k] / took[k] / 1000 : 0
    printf "%-10s %8d %11.2f ms %11.2f ms %11.2f ms %9.2f us\n", name[k], took[k], used[k] / 1e6, base[k] / 1e6,
           above[k] / 1e6, per[k]
  }
  if (per[1] > 0) printf "ratio snmptrapd / Brevanta per trap: %.2f\n", per[2] / per[1]
}'

# Burst: BURST single traps at once to each side.
echo
b_before=$(trace_lines)
"${LOAD[@]}" burst "$ONE" 162 "$BURST"
settle trace_lines
d_before=$(trapd_lines)
"${LOAD[@]}" burst "$ONE" 1162 "$BURST"
settle trapd_lines
echo "burst of $BURST traps sent at once: Brevanta took $(($(trace_lines) - b_before)), snmptrapd took $(($(trapd_lines) - d_before))"

# A real trap's delay under a flood of junk from an unlisted host.
echo
for junk in 1000 10000; do
  read -r sent taken mean max < <("${LOAD[@]}" delay "$ONE" 162 "$junk" "$JUNK_SECONDS" "$VELLMAR_TRAP_TRACE")
  printf "junk at %5d/s: %d of %d real traps taken, delay mean %s ms, max %s ms\n" "$junk" "$taken" "$sent" "$mean" "$max"
done

kill -TERM "$TRAPD_PID" 2>/dev/null || true
wait "$TRAPD_PID" 2>/dev/null || true
vellmar_stop
