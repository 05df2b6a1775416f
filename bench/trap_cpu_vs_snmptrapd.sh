#!/usr/bin/env bash
# Trap receiving, Brevanta against net-snmp's snmptrapd in one run, in a network namespace of its
# own, with one v2c trap datagram captured from snmptrap and replayed from Python. Both get a
# 4 MiB receive buffer (snmptrapd through "[snmp] serverRecvBuf"); the sizes the kernel granted
# are printed.
# - CPU per trap: both get the same single-trap datagrams at the same rate, in turns; each
#   process's run time in its part, less its run time in parts of equal traffic sent to a closed
#   port, over the traps it took;
# - a burst of BURST single traps sent at once to each: how many each takes;
# - the delay of a real trap (sent every 0.25 s) while junk from an unlisted host arrives at 1000
#   and 10000 datagrams per second.
# Each case runs RUNS times: a line per case with the medians and the ratio, and a warning when the
# runs of a figure differ by more than 20 % of its median.
# Usage: bench/trap_cpu_vs_snmptrapd.sh   (BREVANTA defaults to build/normal/Brevanta; RUNS=3)
root=$(cd "$(dirname "$0")/.." && pwd)
# The peers are installed before the script enters its namespace, which has no network.
if [ -z "${VELLMAR_IN_NETNS:-}" ]; then
  command -v snmptrap >/dev/null || apt-get install -y snmp >/dev/null || { echo "snmp could not be installed" >&2; exit 1; }
  command -v snmptrapd >/dev/null || apt-get install -y snmptrapd >/dev/null ||
    { echo "snmptrapd could not be installed" >&2; exit 1; }
fi
export VELLMAR_SOURCE_DIR=${VELLMAR_SOURCE_DIR:-$root}
export BREVANTA=${BREVANTA:-$root/build/normal/Brevanta}
source "$root/tests/system/lib.sh"
source "$root/bench/lib.sh"

command -v snmptrap >/dev/null || fail "snmptrap (package snmp) is missing"
command -v snmptrapd >/dev/null || fail "snmptrapd (package snmptrapd) is missing"

DATAGRAMS=${DATAGRAMS:-400}   # ten times as many single-trap datagrams to each per run
RATE=${RATE:-40}              # ten times as many per second
BURST=${BURST:-10000}
JUNK_SECONDS=${JUNK_SECONDS:-5}
RUNS=${RUNS:-3}
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

printf 'disableAuthorization yes\ndisablePerl yes\n[snmp] serverRecvBuf 4194304\n' > "$VELLMAR_DIR/trapd/snmptrapd.conf"
SNMP_PERSISTENT_DIR="$VELLMAR_DIR/trapd" snmptrapd -f -Lo -C -c "$VELLMAR_DIR/trapd/snmptrapd.conf" -n -m '' \
  udp:127.0.0.1:1162 > "$VELLMAR_DIR/trapd/out.log" 2>&1 &
TRAPD_PID=$!
VELLMAR_PIDS+=("$TRAPD_PID")
wait_for "snmptrapd started" 10 grep -q "NET-SNMP version" "$VELLMAR_DIR/trapd/out.log"

run_ns() { cpu_ns "$1"; }
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
wait_for "capture socket" 10 sh -c "ss -uln | grep -q ':17000 '"
snmptrap -v 2c -c public -m '' udp:127.0.0.1:17000 '' 1.3.6.1.4.1.7342.2.4.20.8.0
wait "$capture_pid"
ONE=$(cat "$VELLMAR_DIR/one.hex")
[ -n "$ONE" ] || fail "no datagram captured"

# Both receive buffers as the kernel set them (skmem rb; net.core.rmem_max caps what is asked).
rcvbuf() { ss -uamn "sport = :$1" | sed -n 's/.*skmem:(r[0-9]*,rb\([0-9]*\),.*/\1/p' | head -n 1; }
echo "receive buffers: Brevanta $(rcvbuf 162) bytes, snmptrapd $(rcvbuf 1162) bytes (both asked for 4194304; net.core.rmem_max $(cat /proc/sys/net/core/rmem_max))"


# window PORT_BREVANTA PORT_TRAPD: the same single-trap traffic towards the two ports, one after
# the other; prints each process's run time in its part (ns).
window() {
  local b0 d0 b1
  b0=$(run_ns "$VELLMAR_PID")
  "${LOAD[@]}" replay "$ONE" "$1" $((DATAGRAMS * 10)) $((RATE * 10))
  sleep 0.5
  b1=$(run_ns "$VELLMAR_PID")
  d0=$(run_ns "$TRAPD_PID")
  "${LOAD[@]}" replay "$ONE" "$2" $((DATAGRAMS * 10)) $((RATE * 10))
  sleep 0.5
  echo $((b1 - b0)) $(($(run_ns "$TRAPD_PID") - d0))
}

# CPU per trap: in each run a closed-port window, the traps, another closed-port window.
sleep 2
bper=() dper=()
for ((r = 0; r < RUNS; r++)); do
  base1=$(window 1999 1999)
  b_before=$(trace_lines)
  d_before=$(trapd_lines)
  busy=$(window 162 1162)
  settle trace_lines
  settle trapd_lines
  b_took=$(($(trace_lines) - b_before))
  d_took=$(($(trapd_lines) - d_before))
  base2=$(window 1999 1999)
  read -r bp dp <<<"$(echo "$base1 $busy $base2" | awk -v bt="$b_took" -v dt="$d_took" '{
    bb = ($1 + $5) / 2; db = ($2 + $6) / 2
    printf "%.2f %.2f\n", (bt ? ($3 - bb) / bt / 1000 : 0), (dt ? ($4 - db) / dt / 1000 : 0) }')"
  bper+=("$bp") dper+=("$dp")
  [ "$b_took" -eq $((DATAGRAMS * 10)) ] || warnings+=("WARNING: Brevanta took $b_took of $((DATAGRAMS * 10)) traps")
  [ "$d_took" -eq $((DATAGRAMS * 10)) ] || warnings+=("WARNING: snmptrapd took $d_took of $((DATAGRAMS * 10)) traps")
done
read -r B BS <<<"$(median_spread "${bper[@]}")"
read -r D DS <<<"$(median_spread "${dper[@]}")"
printf "%-38s Brevanta %8.2f us  snmptrapd %8.2f us  ratio Brevanta / snmptrapd %.2f\n" \
  "CPU per trap, $((DATAGRAMS * 10)) v2c single-trap datagrams at $((RATE * 10))/s:" "$B" "$D" "$(awk -v b="$B" -v d="$D" 'BEGIN { print (d > 0 ? b / d : 0) }')"
spread_warning "CPU per trap, Brevanta" "$BS"
spread_warning "CPU per trap, snmptrapd" "$DS"

# Burst: BURST single traps at once to each side, in turns.
btook=() dtook=()
for ((r = 0; r < RUNS; r++)); do
  b_before=$(trace_lines)
  "${LOAD[@]}" burst "$ONE" 162 "$BURST"
  settle trace_lines
  d_before=$(trapd_lines)
  "${LOAD[@]}" burst "$ONE" 1162 "$BURST"
  settle trapd_lines
  btook+=($(($(trace_lines) - b_before))) dtook+=($(($(trapd_lines) - d_before)))
done
read -r B BS <<<"$(median_spread "${btook[@]}")"
read -r D DS <<<"$(median_spread "${dtook[@]}")"
printf "%-38s Brevanta %8s      snmptrapd %8s      ratio Brevanta / snmptrapd %.2f\n" \
  "burst of $BURST traps at once, taken:" "$B" "$D" "$(awk -v b="$B" -v d="$D" 'BEGIN { print (d > 0 ? b / d : 0) }')"
spread_warning "burst, Brevanta" "$BS"
spread_warning "burst, snmptrapd" "$DS"

# A real trap's delay under a flood of junk from an unlisted host (Brevanta only: snmptrapd
# writes no trace to time it by).
for junk in 1000 10000; do
  means=() maxes=() sent_all=0 taken_all=0
  for ((r = 0; r < RUNS; r++)); do
    read -r sent taken mean max < <("${LOAD[@]}" delay "$ONE" 162 "$junk" "$JUNK_SECONDS" "$VELLMAR_TRAP_TRACE")
    means+=("$mean") maxes+=("$max") sent_all=$((sent_all + sent)) taken_all=$((taken_all + taken))
  done
  read -r M MS <<<"$(median_spread "${means[@]}")"
  read -r X _ <<<"$(median_spread "${maxes[@]}")"
  printf "%-38s Brevanta delay mean %s ms, max %s ms; %d of %d real traps taken\n" "junk at $junk/s:" "$M" "$X" "$taken_all" "$sent_all"
  spread_warning "delay at $junk/s" "$MS"
done
for w in "${warnings[@]}"; do echo "$w"; done

kill -TERM "$TRAPD_PID" 2>/dev/null || true
wait "$TRAPD_PID" 2>/dev/null || true
vellmar_stop
