#!/usr/bin/env bash
# The SNMP agent against net-snmp's snmpd (its system group, as the agent's tree is small), both in
# the same run in a network namespace of their own, taking turns in chunks:
# - a v1 walk of the whole tree (snmpwalk): milliseconds per object;
# - 200 sequential gets, a new snmpget process each, and 200 from one socket (bench/snmp_load.py),
#   each sent when the previous answer came: milliseconds per get;
# - CPU per request for v1 and for v3 authPriv (MD5/DES): walks by CLIENTS senders at once, each
#   process's run time (schedstat, all threads) in its own chunks, less its idle rate times their
#   length, over the requests of the walks (objects + 1 each);
# - a real trap's delay to the log while port 161 is flooded with v1 gets (the agent's budget per
#   wake-up keeps the loop free).
# Every case runs RUNS times; a line per case gives the medians and the ratio, and a warning when
# the runs of a figure differ by more than 20 % of its median.
# Usage: bench/agent_cpu_vs_snmpd.sh   (BREVANTA defaults to build/normal/Brevanta; REQUESTS=20000
# per CPU case and run, RUNS=3, CLIENTS=4)
root=$(cd "$(dirname "$0")/.." && pwd)
# The peers are installed before the script enters its namespace, which has no network.
if [ -z "${VELLMAR_IN_NETNS:-}" ]; then
  command -v snmpget >/dev/null || apt-get install -y snmp >/dev/null || { echo "snmp could not be installed" >&2; exit 1; }
  command -v snmpd >/dev/null || [ -x /usr/sbin/snmpd ] || apt-get install -y snmpd >/dev/null ||
    { echo "snmpd could not be installed" >&2; exit 1; }
fi
export VELLMAR_SOURCE_DIR=${VELLMAR_SOURCE_DIR:-$root}
export BREVANTA=${BREVANTA:-$root/build/normal/Brevanta}
source "$root/tests/system/lib.sh"
source "$root/bench/lib.sh"

SNMPD=$(command -v snmpd || echo /usr/sbin/snmpd)
REQUESTS=${REQUESTS:-20000}
RUNS=${RUNS:-3}
CLIENTS=${CLIENTS:-4}
OID=1.3.6.1.2.1.1.1.0
LOAD=(python3 "$root/bench/snmp_load.py")
TRAPS=(python3 "$root/bench/trap_load.py")
ip addr add 127.0.0.2/8 dev lo

export SNMP_PERSISTENT_DIR="$VELLMAR_DIR/net-snmp"
export SNMPCONFPATH="$VELLMAR_DIR/net-snmp"
export VELLMAR_TRAP_TRACE="$VELLMAR_DIR/trace.txt"
mkdir -p "$SNMP_PERSISTENT_DIR" "$VELLMAR_DIR/snmpd"

vellmar_install "$LOCAL_SOURCE_INI"
vellmar_start
wait_for "agent open" 15 log_has "IPv4-SNMP: OK"
wait_for "trap listeners open" 15 log_has "IPv4-Trap: OK"

# snmpd with the same community (its system group) and user, on port 1161.
cat > "$VELLMAR_DIR/snmpd/snmpd.conf" <<EOF
rocommunity fenwix 127.0.0.1 .1.3.6.1.2.1.1
createUser manager MD5 mq472816 DES hv305749
rouser manager priv .1.3.6.1.2.1.1
EOF
SNMP_PERSISTENT_DIR="$VELLMAR_DIR/snmpd" "$SNMPD" -f -Lo -C -c "$VELLMAR_DIR/snmpd/snmpd.conf" \
  udp:127.0.0.1:1161 > "$VELLMAR_DIR/snmpd/out.log" 2>&1 &
SNMPD_PID=$!
VELLMAR_PIDS+=("$SNMPD_PID")
wait_for "snmpd answers" 15 snmpget -v1 -c fenwix -m '' -t 1 -r 0 udp:127.0.0.1:1161 "$OID" >/dev/null 2>&1

run_ns() { cpu_ns "$1"; }
V3=(-v3 -u manager -l authPriv -a MD5 -A mq472816 -x DES -X hv305749)
BPORT=161 DPORT=1161
context() { [ "$1" = "$BPORT" ] && echo rt5830 || echo ""; }   # snmpd knows only the empty one
walk() {   # walk PORT v1|v3: the objects of one walk of the whole tree
  if [ "$2" = v1 ]; then
    snmpwalk -v1 -c fenwix -m '' -On -t 2 -r 0 "udp:127.0.0.1:$1" .1 2>/dev/null | wc -l
  else
    snmpwalk "${V3[@]}" -n "$(context "$1")" -m '' -On -t 2 -r 0 "udp:127.0.0.1:$1" .1 2>/dev/null | wc -l
  fi
}

# report LABEL UNIT "B values" "N values" [lower|higher]: one line with both medians and the ratio.
report() {
  local label=$1 unit=$2 b n bs ns
  read -r b bs <<<"$(median_spread $3)"
  read -r n ns <<<"$(median_spread $4)"
  awk -v l="$label" -v u="$unit" -v b="$b" -v n="$n" 'BEGIN {
    printf "%-34s Brevanta %9.3f %s  snmpd %9.3f %s  ratio Brevanta / snmpd %.2f\n", l ":", b, u, n, u, (n > 0 ? b / n : 0) }'
  spread_warning "$label, Brevanta" "$bs"
  spread_warning "$label, snmpd" "$ns"
}

B_OBJECTS=$(walk $BPORT v1)
D_OBJECTS=$(walk $DPORT v1)
echo "$RUNS runs; the tree: Brevanta $B_OBJECTS objects, snmpd (system group) $D_OBJECTS objects"

# --- Walks and sequential gets: time per object and per get, the servers in turns.
walk_ms=() dwalk_ms=() proc_ms=() dproc_ms=() sock_ms=() dsock_ms=()
timed_walk() {   # ms per object of WALKS walks
  local t0 objects=0 i
  t0=$(now_ns)
  for ((i = 0; i < 10; i++)); do objects=$((objects + $(walk "$1" v1))); done
  awk -v t="$(($(now_ns) - t0))" -v o="$objects" 'BEGIN { printf "%.4f", (o > 0 ? t / 1e6 / o : 0) }'
}
timed_snmpget() {   # ms per get of 200 sequential snmpget processes
  local t0 i
  t0=$(now_ns)
  for ((i = 0; i < 200; i++)); do snmpget -v1 -c fenwix -m '' -t 2 -r 0 "udp:127.0.0.1:$1" "$OID" >/dev/null 2>&1 || true; done
  awk -v t="$(($(now_ns) - t0))" 'BEGIN { printf "%.4f", t / 1e6 / 200 }'
}
timed_socket() {   # ms per get of 200 sequential gets from one socket
  local answered seconds
  read -r answered seconds <<<"$("${LOAD[@]}" gets "$1" 200 fenwix "$OID")"
  [ "$answered" = 200 ] || warnings+=("WARNING: port $1 answered $answered of 200 gets from one socket")
  awk -v s="$seconds" 'BEGIN { printf "%.4f", s * 1000 / 200 }'
}
for ((r = 0; r < RUNS; r++)); do
  walk_ms+=("$(timed_walk $BPORT)") dwalk_ms+=("$(timed_walk $DPORT)")
  proc_ms+=("$(timed_snmpget $BPORT)") dproc_ms+=("$(timed_snmpget $DPORT)")
  sock_ms+=("$(timed_socket $BPORT)") dsock_ms+=("$(timed_socket $DPORT)")
done
report "v1 walk, per object" ms "${walk_ms[*]}" "${dwalk_ms[*]}"
report "200 gets, new snmpget each, per get" ms "${proc_ms[*]}" "${dproc_ms[*]}"
report "200 gets from one socket, per get" ms "${sock_ms[*]}" "${dsock_ms[*]}"

# --- CPU per request. Idle rates first (each process's cost per second with nothing to do).
i0=$(now_ns) b0=$(run_ns "$VELLMAR_PID") d0=$(run_ns "$SNMPD_PID")
sleep 5
i1=$(now_ns)
B_IDLE=$(awk -v c="$(($(run_ns "$VELLMAR_PID") - b0))" -v t="$((i1 - i0))" 'BEGIN { printf "%.6f", c / t }')
D_IDLE=$(awk -v c="$(($(run_ns "$SNMPD_PID") - d0))" -v t="$((i1 - i0))" 'BEGIN { printf "%.6f", c / t }')

# cpu_chunk PORT PID VERSION WALKS: "requests cpu_ns ns" of WALKS walks by CLIENTS senders.
cpu_chunk() {
  local port=$1 pid=$2 version=$3 walks=$4 t0 c0 c c1 t1
  t0=$(now_ns) c0=$(run_ns "$pid")
  for ((c = 0; c < CLIENTS; c++)); do
    (
      export SNMP_PERSISTENT_DIR="$VELLMAR_DIR/client$c"
      mkdir -p "$SNMP_PERSISTENT_DIR"
      n=0
      for ((i = c; i < walks; i += CLIENTS)); do n=$((n + $(walk "$port" "$version") + 1)); done
      echo "$n" > "$VELLMAR_DIR/requests$c"
    ) &
  done
  wait
  c1=$(run_ns "$pid") t1=$(now_ns)
  echo "$(cat "$VELLMAR_DIR"/requests* | awk '{s += $1} END {print s}') $((c1 - c0)) $((t1 - t0))"
  rm -f "$VELLMAR_DIR"/requests*
}
for version in v1 v3; do
  bcpu=() dcpu=()
  for ((r = 0; r < RUNS; r++)); do
    : > "$VELLMAR_DIR/cpu"
    bw=$(((REQUESTS + B_OBJECTS) / (B_OBJECTS + 1))) dw=$(((REQUESTS + D_OBJECTS) / (D_OBJECTS + 1)))
    chunks=10
    for ((k = 0; k < chunks; k++)); do
      echo "b $(cpu_chunk $BPORT "$VELLMAR_PID" $version $((bw / chunks + 1)))" >> "$VELLMAR_DIR/cpu"
      echo "d $(cpu_chunk $DPORT "$SNMPD_PID" $version $((dw / chunks + 1)))" >> "$VELLMAR_DIR/cpu"
    done
    read -r bu du <<<"$(awk -v bi="$B_IDLE" -v di="$D_IDLE" '{ n[$1] += $2; c[$1] += $3; t[$1] += $4 }
      END { printf "%.2f %.2f\n", (c["b"] - bi * t["b"]) / n["b"] / 1000, (c["d"] - di * t["d"]) / n["d"] / 1000 }' "$VELLMAR_DIR/cpu")"
    bcpu+=("$bu") dcpu+=("$du")
  done
  label="CPU per request, $version"
  [ $version = v3 ] && label="CPU per request, v3 authPriv"
  report "$label" us "${bcpu[*]}" "${dcpu[*]}"
done
echo "idle rates: Brevanta $(awk -v r="$B_IDLE" 'BEGIN { printf "%.3f", r * 1000 }') ms/s, snmpd $(awk -v r="$D_IDLE" 'BEGIN { printf "%.3f", r * 1000 }') ms/s"

# --- A real trap's delay while the agent's port is flooded.
"${TRAPS[@]}" capture 17000 > "$VELLMAR_DIR/one.hex" &
capture_pid=$!
wait_for "capture socket" 10 sh -c "ss -uln | grep -q ':17000 '"
snmptrap -v 2c -c public -m '' udp:127.0.0.1:17000 '' 1.3.6.1.4.1.7342.2.4.20.8.0
wait "$capture_pid"
ONE=$(cat "$VELLMAR_DIR/one.hex")
GET=$("${LOAD[@]}" hex fenwix "$OID")
for flood in 1000 20000; do
  means=() maxes=()
  for ((r = 0; r < RUNS; r++)); do
    read -r sent taken mean max < <("${TRAPS[@]}" delay "$ONE" 162 "$flood" 5 "$VELLMAR_TRAP_TRACE" 161 "$GET")
    [ "$taken" = "$sent" ] || warnings+=("WARNING: flood $flood/s: $taken of $sent real traps taken")
    means+=("$mean") maxes+=("$max")
  done
  read -r m ms <<<"$(median_spread "${means[@]}")"
  read -r x _ <<<"$(median_spread "${maxes[@]}")"
  printf "%-34s delay to the log: mean %s ms, max %s ms (medians of %d runs; traps are taken every 100 ms)\n" \
    "trap, v1 gets at $flood/s to 161:" "$m" "$x" "$RUNS"
  spread_warning "trap delay at $flood/s" "$ms"
done
for w in "${warnings[@]}"; do echo "$w"; done

kill -TERM "$SNMPD_PID" 2>/dev/null || true
wait "$SNMPD_PID" 2>/dev/null || true
vellmar_stop
