# Shared helpers of the system tests. A test script sources this file first; it re-runs itself in
# a network namespace of its own (loopback up), so it can use the real ports beside other tests.
# Environment from ctest: BREVANTA (the program), VELLMAR_SOURCE_DIR (the repository).
set -euo pipefail

# A test that sets VELLMAR_NETNS_AS_ROOT=1 before it sources this file makes its namespace as real
# root instead, so that other users (under setpriv) keep their own uids in it.
if [ -z "${VELLMAR_IN_NETNS:-}" ]; then
  export VELLMAR_IN_NETNS=1
  if [ -n "${VELLMAR_NETNS_AS_ROOT:-}" ]; then
    [ "$(id -u)" = 0 ] || { echo "needs to run as root" >&2; exit 1; }
    exec unshare -n bash "$0" "$@"
  fi
  exec unshare -rn bash "$0" "$@"
fi
ip link set lo up

: "${BREVANTA:?BREVANTA must name the service program}"
: "${VELLMAR_SOURCE_DIR:?VELLMAR_SOURCE_DIR must name the repository}"

export VELLMAR_TEST=1
VELLMAR_DIR=$(mktemp -d /tmp/vellmar-system-XXXXXX)
VELLMAR_PIDS=()
cleanup() {
  for p in "${VELLMAR_PIDS[@]}"; do kill -9 "$p" 2>/dev/null || true; done
  if [ -n "${KEEP_TEST_DIR:-}" ]; then echo "kept $VELLMAR_DIR"; else rm -rf "$VELLMAR_DIR"; fi
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; [ -f "$VELLMAR_DIR/_FILE_LOG.TXT" ] && { echo "--- event log"; cat "$VELLMAR_DIR/_FILE_LOG.TXT"; } >&2; exit 1; }

# Lays out an installation folder (a copy of data/ and the program) and points the registry at it.
# Power actions are simulated into power.log. An optional argument is an agent.ini text (\n line
# ends are turned into CR LF).
vellmar_install() {
  cp -r "$VELLMAR_SOURCE_DIR/data/." "$VELLMAR_DIR/"
  chmod -R go-w "$VELLMAR_DIR"   # as an installation is: the service runs no script others can change
  cp "$BREVANTA" "$VELLMAR_DIR/Brevanta"
  printf '[Software\\Orvik Electronics, Inc.\\Vellmar\\1\\Main]\nPath=%s\n' "$VELLMAR_DIR" > "$VELLMAR_DIR/registry"
  export VELLMAR_REGISTRY="$VELLMAR_DIR/registry"
  export VELLMAR_POWER_SIMULATE="$VELLMAR_DIR/power.log"
  if [ $# -gt 0 ]; then printf '%s' "$1" | sed 's/$/\r/' > "$VELLMAR_DIR/agent.ini"; fi
}

# Starts the service in the background; its pid is in VELLMAR_PID.
# Returns once the start is logged and the stop signals are taken.
vellmar_start() {
  local lines
  lines=$(_log_lines)
  (cd "$VELLMAR_DIR" && exec ./Brevanta) > "$VELLMAR_DIR/brevanta.out" 2>&1 &
  VELLMAR_PID=$!
  VELLMAR_PIDS+=("$VELLMAR_PID")
  wait_for "service started" 10 _log_grew "$lines"
  sleep 0.2
}
_log_lines() { if [ -f "$VELLMAR_DIR/_FILE_LOG.TXT" ]; then wc -l < "$VELLMAR_DIR/_FILE_LOG.TXT"; else echo 0; fi; }
_log_grew() { [ "$(_log_lines)" -gt "$1" ]; }

# Stops it with SIGTERM and checks that it ends with exit code 0.
vellmar_stop() {
  kill -TERM "$VELLMAR_PID"
  local code=0
  wait "$VELLMAR_PID" || code=$?
  [ "$code" = 0 ] || fail "Brevanta ended with exit code $code"
}

# wait_for DESCRIPTION SECONDS COMMAND...: polls the command every 0.1 s.
wait_for() {
  local what=$1 seconds=$2
  shift 2
  local end=$((SECONDS + seconds))
  until "$@"; do
    [ "$SECONDS" -lt "$end" ] || fail "timed out waiting for: $what"
    sleep 0.1
  done
}

log_has() { grep -q -- "$1" "$VELLMAR_DIR/_FILE_LOG.TXT" 2>/dev/null; }
log_count() { grep -c -- "$1" "$VELLMAR_DIR/_FILE_LOG.TXT" 2>/dev/null || true; }

# agent.ini of the tests that send power traps from this machine: one trusted source, 127.0.0.1
# with community "public", factory settings otherwise.
LOCAL_SOURCE_INI="[Format]
Version=7
[Source IP]
Number=1
IP1=127.0.0.1
Community1=public
[End]
"
# agent.ini of the tests that use the SNMPv3 user "manager" with the factory pass phrases (a new
# installation makes pass phrases of its own): the pair written out, factory settings otherwise.
FACTORY_MANAGER_INI="[Format]
Version=7
[USM]
Password Encrypt=No
Number=1
User1=manager
Security1=2
Auth1=mq472816
Priv1=hv305749
Permission1=2
[End]
"
# local_power_trap SPECIFIC: a power trap from that source (3 power failure, 4 power restored).
local_power_trap() {
  snmptrap -v 1 -c public -m '' 127.0.0.1 1.3.6.1.4.1.7342.2.4.20 127.0.0.1 6 "$1" '' || fail "snmptrap failed"
}

# net-snmp's tools keep their state and read their configuration only inside the test folder.
use_net_snmp() {
  command -v snmptrap >/dev/null || fail "snmptrap (package snmp) is missing"
  export SNMP_PERSISTENT_DIR="$VELLMAR_DIR/net-snmp"
  export SNMPCONFPATH="$VELLMAR_DIR/net-snmp"
  mkdir -p "$SNMP_PERSISTENT_DIR"
}

# True when the process has ended (a zombie not yet reaped by whoever adopted it counts as ended).
# The process may end between two looks at /proc: a state that cannot be read counts as ended.
process_gone() {
  local state
  state=$(sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -c1) || true
  [ -z "$state" ] || [ "$state" = Z ]
}

# Reads systemd notify messages on the datagram socket $1 into the file $2, one line per message with
# its lines joined by "|", until STOPPING=1 or $3 silent seconds; sets NOTIFY_READER to its PID.
notify_listen() {
  python3 - "$1" "$3" > "$2" <<'PY' &
import socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
s.bind(sys.argv[1])
s.settimeout(float(sys.argv[2]))
try:
    while True:
        m = s.recv(8192).decode()
        print(m.replace("\n", "|"), flush=True)
        if m.startswith("STOPPING=1"):
            break
except socket.timeout:
    pass
PY
  NOTIFY_READER=$!
}

# The test service manager: its state folder lies in the test folder, so no installed service is
# ever touched. The service commands go through the helper program ($VELLMAR_HELPER sc ...).
use_test_service_manager() {
  export VELLMAR_SERVICE_STATE="$VELLMAR_DIR/services"
  mkdir -p "$VELLMAR_SERVICE_STATE"
}
# Installs Brevanta as the service "Vellmar" (when it is not yet) and starts it; returns once the
# start is logged. Its pid is in VELLMAR_SERVICE_PID.
vellmar_service_start() {
  "$VELLMAR_HELPER" sc query Vellmar > /dev/null 2>&1 ||
    "$VELLMAR_HELPER" sc create Vellmar "$VELLMAR_DIR/Brevanta" || fail "service not created"
  local lines
  lines=$(_log_lines)
  "$VELLMAR_HELPER" sc start Vellmar || fail "service not started"
  VELLMAR_SERVICE_PID=$(cut -d' ' -f1 "$VELLMAR_SERVICE_STATE/Vellmar/pid")
  VELLMAR_PIDS+=("$VELLMAR_SERVICE_PID")
  wait_for "service started" 10 _log_grew "$lines"
}
