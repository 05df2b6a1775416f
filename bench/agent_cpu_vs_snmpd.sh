#!/usr/bin/env bash
# CPU cost of answering SNMP requests: Brevanta and net-snmp's snmpd get the same REQUESTS snmpget
# requests (half SNMPv1, half SNMPv3 authPriv MD5/DES, one varbind each) in one run, in a network
# namespace of their own. Each process's CPU time (schedstat run time of all its threads) is taken
# over three kinds of window of equal traffic, taking turns: requests to a closed port (both
# processes idle: their cost per second while the same clients run), to Brevanta, and to snmpd. A
# process's cost per request is its CPU in its own windows less its closed-port rate times their
# length.
# Usage: bench/agent_cpu_vs_snmpd.sh   (BREVANTA defaults to build/normal/Brevanta; REQUESTS=2000)
root=$(cd "$(dirname "$0")/.." && pwd)
export VELLMAR_SOURCE_DIR=${VELLMAR_SOURCE_DIR:-$root}
export BREVANTA=${BREVANTA:-$root/build/normal/Brevanta}
source "$root/tests/system/lib.sh"

command -v snmpget >/dev/null || fail "snmpget (package snmp) is missing"
command -v snmpd >/dev/null || [ -x /usr/sbin/snmpd ] || fail "snmpd (package snmpd) is missing"
SNMPD=$(command -v snmpd || echo /usr/sbin/snmpd)
REQUESTS=${REQUESTS:-2000}
OID=1.3.6.1.2.1.1.1.0

export SNMP_PERSISTENT_DIR="$VELLMAR_DIR/net-snmp"
export SNMPCONFPATH="$VELLMAR_DIR/net-snmp"
mkdir -p "$SNMP_PERSISTENT_DIR" "$VELLMAR_DIR/snmpd"

vellmar_install
vellmar_start
wait_for "agent open" 15 log_has "IPv4-SNMP: OK"

# snmpd with the same community and user, on port 1161, nothing but its own MIB modules.
cat > "$VELLMAR_DIR/snmpd/snmpd.conf" <<EOF
rocommunity fenwix 127.0.0.1
createUser manager MD5 mq472816 DES hv305749
rouser manager priv
EOF
SNMP_PERSISTENT_DIR="$VELLMAR_DIR/snmpd" "$SNMPD" -f -Lo -C -c "$VELLMAR_DIR/snmpd/snmpd.conf" \
  udp:127.0.0.1:1161 > "$VELLMAR_DIR/snmpd/out.log" 2>&1 &
SNMPD_PID=$!
VELLMAR_PIDS+=("$SNMPD_PID")
wait_for "snmpd answers" 15 snmpget -v1 -c fenwix -m '' -t 1 -r 0 udp:127.0.0.1:1161 "$OID"

run_ns() { cat /proc/"$1"/task/*/schedstat | awk '{s += $1} END {printf "%d", s}'; }
now_ns() { date +%s%N; }
sample() { echo "$(now_ns) $(run_ns "$VELLMAR_PID") $(run_ns "$SNMPD_PID")"; }

# REQUESTS requests to the port, v1 and v3 in turn, with the context and time-out given, from
# CLIENTS senders at once (each with its own net-snmp state folder); the number answered. Several
# senders keep the windows short, so the processes' idle cost weighs less against the requests.
CLIENTS=${CLIENTS:-4}
send_all() {
  local port=$1 context=$2 timeout=$3 c
  local v3=(-v3 -u manager -l authPriv -a MD5 -A mq472816 -x DES -X hv305749 -n "$context")
  for ((c = 0; c < CLIENTS; c++)); do
    (
      export SNMP_PERSISTENT_DIR="$VELLMAR_DIR/client$c"
      mkdir -p "$SNMP_PERSISTENT_DIR"
      answered=0
      for ((i = c; i < REQUESTS; i += CLIENTS)); do
        if ((i % 2)); then
          snmpget "${v3[@]}" -m '' -t "$timeout" -r 0 "udp:127.0.0.1:$port" "$OID" >/dev/null 2>&1 && answered=$((answered + 1))
        else
          snmpget -v1 -c fenwix -m '' -t "$timeout" -r 0 "udp:127.0.0.1:$port" "$OID" >/dev/null 2>&1 && answered=$((answered + 1))
        fi
      done
      echo "$answered" > "$VELLMAR_DIR/answered$c"
    ) &
  done
  wait
  cat "$VELLMAR_DIR"/answered* | awk '{s += $1} END {print s}'
  rm -f "$VELLMAR_DIR"/answered*
}

# The three kinds of window take turns in chunks of CHUNK requests, so the idle cost is measured
# under the same load of the machine as the requests. snmpd serves the empty context (it knows no
# other). Each chunk's samples go into a file: kind, then time and both run times before and after.
CHUNK=${CHUNK:-100}
SAMPLES="$VELLMAR_DIR/samples"
answered_closed=0 answered_brevanta=0 answered_snmpd=0
chunk() {   # chunk KIND PORT CONTEXT TIMEOUT
  local before after got
  before=$(sample)
  got=$(REQUESTS=$CHUNK send_all "$2" "$3" "$4")
  after=$(sample)
  echo "$1 $before $after" >> "$SAMPLES"
  echo "$got"
}
for ((done_ = 0; done_ < REQUESTS; done_ += CHUNK)); do
  answered_closed=$((answered_closed + $(chunk 0 1999 "" 0.02)))
  answered_brevanta=$((answered_brevanta + $(chunk 1 161 rt5830 2)))
  answered_snmpd=$((answered_snmpd + $(chunk 2 1161 "" 2)))
done
brevanta=$answered_brevanta
snmpd=$answered_snmpd

awk -v n="$REQUESTS" -v closed="$answered_closed" -v ba="$brevanta" -v da="$snmpd" '
{ k = $1; w[k] += ($5 - $2) / 1e9; b[k] += $6 - $3; d[k] += $7 - $4 }
END {
  w0 = w[0]; w1 = w[1]; w2 = w[2]
  b_idle = b[0] / w0; d_idle = d[0] / w0
  b_above = b[1] - b_idle * w1; d_above = d[2] - d_idle * w2
  printf "%d snmpget requests per window (1/2 v1, 1/2 v3 authPriv MD5/DES, %d senders at once), one varbind each\n", n, '"$CLIENTS"'
  printf "windows in turns of %d: closed port %.1f s (%d answered), Brevanta %.1f s (%d answered), snmpd %.1f s (%d answered)\n\n", '"$CHUNK"', w0, closed, w1, ba, w2, da
  printf "%-9s %16s %16s %16s %14s\n", "process", "cpu in window", "closed-port rate", "above it", "per request"
  printf "%-9s %13.2f ms %11.3f ms/s %13.2f ms %11.1f us\n", "Brevanta", b[1] / 1e6, b_idle / 1e6, b_above / 1e6, b_above / 1e3 / n
  printf "%-9s %13.2f ms %11.3f ms/s %13.2f ms %11.1f us\n", "snmpd", d[2] / 1e6, d_idle / 1e6, d_above / 1e6, d_above / 1e3 / n
  if (b_above > 0) printf "ratio snmpd / Brevanta per request: %.2f\n", d_above / b_above
  else print "ratio snmpd / Brevanta: Brevanta within the noise of its idle cost"
}' "$SAMPLES"
echo
echo "The poll reads at most one datagram per socket per 10 ms pass: 100 requests/s per family"
echo "(IPv4 and IPv6: 200/s); a faster burst waits in the socket's receive queue."
[ "$brevanta" -eq "$REQUESTS" ] || echo "WARNING: Brevanta answered $brevanta of $REQUESTS"
[ "$snmpd" -eq "$REQUESTS" ] || echo "WARNING: snmpd answered $snmpd of $REQUESTS"

kill -TERM "$SNMPD_PID" 2>/dev/null || true
wait "$SNMPD_PID" 2>/dev/null || true
vellmar_stop
