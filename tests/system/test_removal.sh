#!/usr/bin/env bash
# The removal library: StopRunning, loaded with dlopen, closes the tray windows of every session,
# stops the service under the test service manager, waits for it and deletes it; with the service or
# the manager missing it shows its message on standard error and returns 0.
source "$(dirname "$0")/lib.sh"
: "${FARNHIDE:?}" "${VELLMAR_HELPER:?}"

vellmar_install
use_test_service_manager
stopped_name=$(grep -a '^name2=' "$VELLMAR_DIR/Language/English/event-common.ini" | cut -d= -f2- | tr -d '\r')

stop_running() { "$VELLMAR_HELPER" stoprunning "$FARNHIDE" > "$VELLMAR_DIR/stop.out" 2> "$VELLMAR_DIR/stop.err"; }

# A tray window titled "Vellmar-Status": the helper's hidden window.
start_tray() {
  "$VELLMAR_HELPER" window Vellmar-Status > "$VELLMAR_DIR/tray$1.out" &
  VELLMAR_PIDS+=("$!")
  eval "tray$1=$!"
  wait_for "tray window $1" 10 grep -q ready "$VELLMAR_DIR/tray$1.out"
}
# The tray program Lumisk, headless, in a desktop session of its own (display :9N); started when the
# build has it.
start_lumisk() {
  local dir="$VELLMAR_DIR/lumisk$1"
  mkdir -p "$dir"
  : > "$dir/input"
  (cd "$VELLMAR_DIR" && exec env VELLMAR_TRAY_HEADLESS="$dir" DISPLAY=":9$1" "$LUMISK") > "$dir/out" 2>&1 &
  VELLMAR_PIDS+=("$!")
  eval "lumisk$1=$!"
  wait_for "Lumisk $1 shows its icon" 15 grep -q "^icon add" "$dir/shown.log"
}

# The library's one exported function.
[ "$(nm -D --defined-only "$FARNHIDE" | awk '$2 == "T" { print $3 }')" = StopRunning ] || fail "exports: $(nm -D --defined-only "$FARNHIDE")"

# 1. Running service and the tray windows of two sessions (and two Lumisk trays when built): all
# closed, the service stopped and deleted.
vellmar_service_start
service_pid=$VELLMAR_SERVICE_PID
start_tray 1
start_tray 2
if [ -n "${LUMISK:-}" ]; then
  start_lumisk 1
  start_lumisk 2
fi
stop_running || fail "the loader failed"
[ "$(cat "$VELLMAR_DIR/stop.out")" = "StopRunning=0" ] || fail "StopRunning result: $(cat "$VELLMAR_DIR/stop.out")"
[ ! -s "$VELLMAR_DIR/stop.err" ] || fail "unexpected message: $(cat "$VELLMAR_DIR/stop.err")"
for t in 1 2; do
  pid_var="tray$t"
  wait "${!pid_var}" || fail "tray $t ended badly"
  grep -q '^WM_CLOSE 1$' "$VELLMAR_DIR/tray$t.out" || fail "tray $t got no WM_CLOSE 1"
  if [ -n "${LUMISK:-}" ]; then
    pid_var="lumisk$t"
    wait "${!pid_var}" || fail "Lumisk $t ended badly"
    grep -q "^icon delete id=1001" "$VELLMAR_DIR/lumisk$t/shown.log" || fail "Lumisk $t did not take its icon away"
  fi
done
process_gone "$service_pid" || fail "the service still runs"
tail -n 1 "$VELLMAR_DIR/_FILE_LOG.TXT" | grep -qF "$stopped_name" || fail "the service's stop is not logged"
[ ! -e "$VELLMAR_SERVICE_STATE/Vellmar" ] || fail "the service was not deleted"

# 2. The service missing: its message, result 0; the tray windows are closed all the same.
start_tray 3
stop_running || fail "the loader failed"
[ "$(cat "$VELLMAR_DIR/stop.out")" = "StopRunning=0" ] || fail "StopRunning result without the service"
[ "$(cat "$VELLMAR_DIR/stop.err")" = "Fail to open Vellmar!" ] || fail "message: $(cat "$VELLMAR_DIR/stop.err")"
wait "$tray3" || fail "tray 3 ended badly"

# 3. No service manager.
VELLMAR_SERVICE_STATE="$VELLMAR_DIR/no-such-folder" stop_running || fail "the loader failed"
[ "$(cat "$VELLMAR_DIR/stop.out")" = "StopRunning=0" ] || fail "StopRunning result without a manager"
[ "$(cat "$VELLMAR_DIR/stop.err")" = "Fail to open Service Control Manager!" ] || fail "message: $(cat "$VELLMAR_DIR/stop.err")"

# 4. Service installed but stopped, its program started by hand: its window "Vellmar-Service" is
# closed, then the service is deleted.
"$VELLMAR_HELPER" sc create Vellmar "$VELLMAR_DIR/Brevanta" || fail "service not created"
vellmar_start
stop_running || fail "the loader failed"
[ "$(cat "$VELLMAR_DIR/stop.out")" = "StopRunning=0" ] || fail "StopRunning result with a stopped service"
code=0
wait "$VELLMAR_PID" || code=$?
[ "$code" = 0 ] || fail "Brevanta started by hand ended with $code"
tail -n 1 "$VELLMAR_DIR/_FILE_LOG.TXT" | grep -qF "$stopped_name" || fail "the hand-started service's stop is not logged"
[ ! -e "$VELLMAR_SERVICE_STATE/Vellmar" ] || fail "the stopped service was not deleted"

# 5. Service installed and stopped, nothing running: deleted without waiting.
"$VELLMAR_HELPER" sc create Vellmar "$VELLMAR_DIR/Brevanta" || fail "service not created"
start=$SECONDS
stop_running || fail "the loader failed"
[ "$(cat "$VELLMAR_DIR/stop.out")" = "StopRunning=0" ] || fail "StopRunning result with nothing running"
[ $((SECONDS - start)) -lt 10 ] || fail "StopRunning waited with nothing to wait for"
[ ! -e "$VELLMAR_SERVICE_STATE/Vellmar" ] || fail "the stopped service was not deleted"
