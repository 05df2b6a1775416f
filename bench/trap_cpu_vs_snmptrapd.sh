#!/usr/bin/env bash
# CPU cost of receiving traps: Brevanta and net-snmp's snmptrapd get the same 200 traps (v1, v2c,
# v3 authPriv in turn) from snmptrap at 8/s in one run, in a network namespace of its own; reports
# each process's CPU time above its own idle (/proc stat ticks and schedstat ns) and the ratio,
# then counts what Brevanta accepts of a burst of 100 traps sent at once.
# Usage: bench/trap_cpu_vs_snmptrapd.sh   (BREVANTA defaults to build/normal/Brevanta)
root=$(cd "$(dirname "$0")/.." && pwd)
export VELLMAR_SOURCE_DIR=${VELLMAR_SOURCE_DIR:-$root}
export BREVANTA=${BREVANTA:-$root/build/normal/Brevanta}
source "$root/tests/system/lib.sh"

command -v snmptrap >/dev/null || fail "snmptrap (package snmp) is missing"
command -v snmptrapd >/dev/null || fail "snmptrapd (package snmptrapd) is missing"

TRAPS=${TRAPS:-200}
RATE=${RATE:-8}
IDLE_SECONDS=${IDLE_SECONDS:-20}
BURST=${BURST:-100}
ENGINE=0x80001f8880cafe000102030405
MAKER=1.3.6.1.4.1.7342.2

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
[USM]
Password Encrypt=No
Number=1
User1=upsuser
Security1=2
Auth1=authpass1
Priv1=privpass1
[End]
"
vellmar_start
wait_for "trap listeners open" 15 log_has "IPv4-Trap: OK"

cat > "$VELLMAR_DIR/trapd/snmptrapd.conf" <<EOF
disableAuthorization yes
disablePerl yes
createUser -e $ENGINE upsuser MD5 authpass1 DES privpass1
EOF
SNMP_PERSISTENT_DIR="$VELLMAR_DIR/trapd" snmptrapd -f -Lo -C -c "$VELLMAR_DIR/trapd/snmptrapd.conf" -n -m '' \
  udp:127.0.0.1:1162 > "$VELLMAR_DIR/trapd/out.log" 2>&1 &
TRAPD_PID=$!
VELLMAR_PIDS+=("$TRAPD_PID")
wait_for "snmptrapd started" 10 grep -q "NET-SNMP version" "$VELLMAR_DIR/trapd/out.log"

ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
run_ns() { cat /proc/"$1"/task/*/schedstat | awk '{s += $1} END {printf "%d", s}'; }
now_ns() { date +%s%N; }
trace_lines() { if [ -f "$VELLMAR_TRAP_TRACE" ]; then wc -l < "$VELLMAR_TRAP_TRACE"; else echo 0; fi; }
trapd_lines() { grep -c '7342\.2\.4\.20' "$VELLMAR_DIR/trapd/out.log" || true; }

send_one() {   # send_one KIND TARGET
  case $1 in
    0) snmptrap -v 1 -c public -m '' "$2" "$MAKER.4.20" 127.0.0.1 6 7 '' ;;
    1) snmptrap -v 2c -c public -m '' "$2" '' "$MAKER.4.20.8.0" ;;
    2) snmptrap -v 3 -m '' -e "$ENGINE" -u upsuser -l authPriv -a MD5 -A authpass1 -x DES -X privpass1 "$2" '' \
         "$MAKER.4.20.7.0" ;;
  esac
}

sample() { echo "$(now_ns) $(ticks "$VELLMAR_PID") $(ticks "$TRAPD_PID") $(run_ns "$VELLMAR_PID") $(run_ns "$TRAPD_PID")"; }

# Idle baseline of both processes, before and after the sending period.
sleep 2
s0=$(sample)
sleep "$IDLE_SECONDS"
s1=$(sample)

# The same traps to both, paced at RATE per second.
period_ns=$((1000000000 / RATE))
for ((i = 0; i < TRAPS; i++)); do
  start=$(now_ns)
  send_one $((i % 3)) udp:127.0.0.1:162
  send_one $((i % 3)) udp:127.0.0.1:1162
  left=$((period_ns - ($(now_ns) - start)))
  if ((left > 0)); then sleep "$(printf '0.%09d' "$left")"; fi
done
sleep 1
s2=$(sample)
sleep "$IDLE_SECONDS"
s3=$(sample)

brevanta_got=$(trace_lines)
trapd_got=$(trapd_lines)

echo "$s0 $s1 $s2 $s3" | awk -v n="$TRAPS" -v bg="$brevanta_got" -v dg="$trapd_got" -v rate="$RATE" '{
  # Fields per sample: time ns, Brevanta ticks, snmptrapd ticks, Brevanta run ns, snmptrapd run ns.
  for (i = 0; i < 4; ++i) { t[i] = $(5*i+1); bt[i] = $(5*i+2); dt[i] = $(5*i+3); bn[i] = $(5*i+4); dn[i] = $(5*i+5) }
  idle = (t[1] - t[0] + t[3] - t[2]) / 1e9; busy = (t[2] - t[1]) / 1e9
  printf "%d traps at %d/s (1/3 v1, 1/3 v2c, 1/3 v3 authPriv); idle baseline %.1f s, sending period %.1f s\n", n, rate, idle, busy
  printf "received: Brevanta %d accepted, snmptrapd %d logged\n\n", bg, dg
  printf "%-10s %14s %14s %14s %12s\n", "process", "cpu in period", "idle share", "above idle", "per trap"
  name[1] = "Brevanta"; name[2] = "snmptrapd"
  it[1] = bt[1] - bt[0] + bt[3] - bt[2]; pt[1] = bt[2] - bt[1]
  it[2] = dt[1] - dt[0] + dt[3] - dt[2]; pt[2] = dt[2] - dt[1]
  inn[1] = bn[1] - bn[0] + bn[3] - bn[2]; pn[1] = bn[2] - bn[1]
  inn[2] = dn[1] - dn[0] + dn[3] - dn[2]; pn[2] = dn[2] - dn[1]
  print "-- /proc/<pid>/stat utime+stime (10 ms ticks)"
  for (k = 1; k <= 2; ++k) {
    base = it[k] * 10 * busy / idle; used = pt[k] * 10; above[k] = used - base
    printf "%-10s %11.1f ms %11.1f ms %11.1f ms %9.1f us\n", name[k], used, base, above[k], above[k] * 1000 / n
  }
  if (above[1] > 0) printf "ratio snmptrapd / Brevanta: %.1f\n", above[2] / above[1]
  else print "ratio snmptrapd / Brevanta: Brevanta within the noise of its idle cost"
  print "-- /proc/<pid>/task/*/schedstat run time (ns)"
  for (k = 1; k <= 2; ++k) {
    base = inn[k] * busy / idle; used = pn[k]; aboven[k] = used - base
    printf "%-10s %11.2f ms %11.2f ms %11.2f ms %9.1f us\n", name[k], used / 1e6, base / 1e6, aboven[k] / 1e6, aboven[k] / 1e3 / n
  }
  if (aboven[1] > 0) printf "ratio snmptrapd / Brevanta: %.1f\n", aboven[2] / aboven[1]
  else print "ratio snmptrapd / Brevanta: Brevanta within the noise of its idle cost"
}'
[ "$brevanta_got" -eq "$TRAPS" ] || echo "WARNING: Brevanta accepted $brevanta_got of $TRAPS"

# Burst: BURST traps at once; the poll reads one datagram per listener per 100 ms, so they wait in
# the socket's receive queue and drain at 10 per second.
queue=$(cat /proc/sys/net/core/rmem_default)
echo
echo "poll admits 1 datagram per listener per 100 ms: 10 datagrams/s per listener (IPv4 and IPv6: 20/s),"
echo "up to 10 messages each; a steady rate above that fills the receive queue (rmem_default $queue bytes)."
before=$(trace_lines)
b_start=$(now_ns)
burst_pids=()
for ((i = 0; i < BURST; i++)); do
  # Each sender keeps its net-snmp state apart, so parallel ones do not fight over one file.
  mkdir -p "$VELLMAR_DIR/burst/$i"
  SNMP_PERSISTENT_DIR="$VELLMAR_DIR/burst/$i" \
    snmptrap -v 2c -c public -m '' udp:127.0.0.1:162 '' "$MAKER.4.20.$((7 + i % 2)).0" &
  burst_pids+=($!)
done
wait "${burst_pids[@]}"
sent_s=$(( ($(now_ns) - b_start) / 1000000 ))
deadline=$((SECONDS + BURST / 10 + 10))
while [ $(( $(trace_lines) - before )) -lt "$BURST" ] && [ "$SECONDS" -lt "$deadline" ]; do sleep 0.2; done
drained_s=$(( ($(now_ns) - b_start) / 1000000 ))
got=$(( $(trace_lines) - before ))
echo "burst of $BURST traps sent in $sent_s ms: $got accepted, $((BURST - got)) lost, drained after $drained_s ms"

kill -TERM "$TRAPD_PID" 2>/dev/null || true
wait "$TRAPD_PID" 2>/dev/null || true
vellmar_stop
