#!/usr/bin/env bash
# Start, single instance and stop of the service program.
source "$(dirname "$0")/lib.sh"

# Log lines other than the listeners' status lines (the first instance may log those at any 5 s tick).
status_lines='-Trap: |-SNMP: |-HTTPS?: |Tray-Link: '
event_lines() { grep -vEc -- "$status_lines" "$VELLMAR_DIR/_FILE_LOG.TXT" || true; }
other_lines() { grep -vE -- "$status_lines" "$VELLMAR_DIR/_FILE_LOG.TXT" | md5sum; }

vellmar_install
# The VMware scripts' log of an earlier build, open to others: the start closes it to them.
echo "an older line" > "$VELLMAR_DIR/command/vmware-shutdown.log"
chmod 644 "$VELLMAR_DIR/command/vmware-shutdown.log"
vellmar_start
wait_for "settings file written" 5 test -s "$VELLMAR_DIR/agent.ini"
[ "$(stat -c %a "$VELLMAR_DIR/command/vmware-shutdown.log")" = 600 ] || fail "the VMware scripts' log is open to others"
grep -q $'^Version=8\r$' "$VELLMAR_DIR/agent.ini" || fail "agent.ini not in the current format"
grep -q $'^URL=http://127.0.0.1:80\r$' "$VELLMAR_DIR/Vellmar.url" || fail "browser shortcut missing"

# A second copy ends at once with exit code 1 and one line naming the folder and the running
# copy's pid, and changes nothing. The first one's start-up lines are all in first (the trap
# listeners' line comes last; a slow build may still be writing).
wait_for "trap listeners' line" 20 log_has "IPv4-Trap: "
sleep 1
before=$(other_lines)
second_copy_refused() {  # second_copy_refused WHAT [ENV...]
  local what=$1 code=0
  shift
  (cd "$VELLMAR_DIR" && env "$@" timeout 5 ./Brevanta) > "$VELLMAR_DIR/second.out" 2>&1 || code=$?
  [ "$code" = 1 ] || fail "$what ended with $code"
  [ "$(wc -l < "$VELLMAR_DIR/second.out")" = 1 ] || fail "$what said: $(cat "$VELLMAR_DIR/second.out")"
  grep -qF "another copy of the service (pid $VELLMAR_PID) runs on the installation folder $VELLMAR_DIR" \
    "$VELLMAR_DIR/second.out" || fail "$what said: $(cat "$VELLMAR_DIR/second.out")"
  [ "$(other_lines)" = "$before" ] || fail "$what wrote to the log"
  kill -0 "$VELLMAR_PID" || fail "first instance is gone after the $what"
}
second_copy_refused "second instance"

# So does one started through another registry file naming the same folder by a link.
ln -s "$VELLMAR_DIR" "$VELLMAR_DIR/self"
printf '[Software\\Orvik Electronics, Inc.\\Vellmar\\1\\Main]\nPath=%s/\n' "$VELLMAR_DIR/self" > "$VELLMAR_DIR/registry2"
second_copy_refused "second instance on the same folder through a link" VELLMAR_REGISTRY="$VELLMAR_DIR/registry2"
rm -f "$VELLMAR_DIR/self"

# SIGTERM is the stop request: WM_CLOSE 1 destroys the window, whose WM_DESTROY logs the stop.
stopped_name=$(grep -a '^name2=' "$VELLMAR_DIR/Language/English/event-common.ini" | cut -d= -f2- | tr -d '\r')
vellmar_stop
[ "$(event_lines)" = 2 ] || fail "expected the start and the stop line"
log_has "IPv4-Trap: OK" || fail "trap listeners not opened at start-up"
tail -n 1 "$VELLMAR_DIR/_FILE_LOG.TXT" | grep -qF "$stopped_name" || fail "stop event not logged"
head -n 1 "$VELLMAR_DIR/_FILE_LOG.TXT" | grep -q '^0\.0\.0\.0 ' || fail "start line has no service source"

# SIGINT (Ctrl-C of the demo) and SIGHUP (its terminal closed) stop it the same way.
lines=2
for sig in INT HUP; do
  vellmar_start
  kill -$sig "$VELLMAR_PID"
  code=0
  wait "$VELLMAR_PID" || code=$?
  [ "$code" = 0 ] || fail "SIG$sig stop ended with $code"
  lines=$((lines + 2))
  [ "$(event_lines)" = $lines ] || fail "SIG$sig run did not log start and stop"
  tail -n 1 "$VELLMAR_DIR/_FILE_LOG.TXT" | grep -qF "$stopped_name" || fail "stop event not logged after SIG$sig"
done

# The stop signals are blocked before any thread starts, so a stop that comes right away still
# runs the whole stop sequence.
for run in 1 2 3; do
  python3 "$(dirname "$0")/stop_during_start.py" "$VELLMAR_DIR" "$VELLMAR_DIR/early.out" blocked 0 ||
    fail "early stop, run $run: $(cat "$VELLMAR_DIR/early.out")"
done
[ "$(event_lines)" = 12 ] || fail "early stops did not each log start and stop"
tail -n 1 "$VELLMAR_DIR/_FILE_LOG.TXT" | grep -qF "$stopped_name" || fail "early stop not logged"

# A start that meets a FIFO for agent.ini (no writer) never hangs: it is refused at once. A stop
# request that comes while the start runs (READY=1 is out first) ends the process all the same.
mv "$VELLMAR_DIR/agent.ini" "$VELLMAR_DIR/agent.saved"
mkfifo "$VELLMAR_DIR/agent.ini"
python3 "$(dirname "$0")/stop_during_start.py" "$VELLMAR_DIR" "$VELLMAR_DIR/hang.out" ready 0,1 ||
  fail "start on a FIFO agent.ini: $(cat "$VELLMAR_DIR/hang.out")"
grep -q "agent.ini cannot be read (it is not a regular file): not started" "$VELLMAR_DIR/hang.out" ||
  fail "the FIFO was not named: $(cat "$VELLMAR_DIR/hang.out")"
rm "$VELLMAR_DIR/agent.ini"
mv "$VELLMAR_DIR/agent.saved" "$VELLMAR_DIR/agent.ini"
