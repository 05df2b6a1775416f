#!/usr/bin/env bash
# The tray link against a small client (tray_client.py): the listener only on 127.0.0.1:5515, the
# status frame every second and the settings frame every five, an alarm line after a real power
# trap, the cancel toggle, stop and resume of the reactions, an edited settings record, and bad
# frames, each on its own connection, that close only their own link and change nothing.
source "$(dirname "$0")/lib.sh"

CLIENT=(python3 "$VELLMAR_SOURCE_DIR/tests/system/tray_client.py")
use_net_snmp

vellmar_install "$LOCAL_SOURCE_INI"
LANG_DIR="$VELLMAR_DIR/Language/English"
event_name() { grep -a "^name$2=" "$LANG_DIR/$1" | cut -d= -f2- | tr -d '\r' | sed 's/%s.*//'; }
CANCELLED=$(event_name event-common.ini 5)
WITHDRAWN=$(event_name event-common.ini 6)
COUNTDOWN=$(event_name event-common.ini 7)
INI="$VELLMAR_DIR/agent.ini"

power_trap() {  # power_trap SPECIFIC: 3 power failure, 4 power restored
  snmptrap -v 1 -c public -m '' 127.0.0.1 1.3.6.1.4.1.7342.2.4.20 127.0.0.1 6 "$1" '' \
    || fail "snmptrap failed"
}
now() { date +%s.%N; }
WATCH="$VELLMAR_DIR/watch.log"
# count KIND SINCE [UNTIL]: frames of the kind the watcher logged in that time span.
count() { awk -v k="$1" -v t="$2" -v u="${3:-9e99}" '$2 == k && $1 > t && $1 < u' "$WATCH" | wc -l; }
last() { awk -v k="$1" '$2 == k' "$WATCH" | tail -n 1; }

vellmar_start
wait_for "tray listener" 10 sh -c "ss -ltn | grep -q '127.0.0.1:5515 '"

# --- Only 127.0.0.1 is served: 127.0.0.2 is local too, and so is the namespace's other address.
ip addr add 10.77.0.1/24 dev lo
ss -ltn | grep -q '0.0.0.0:5515 ' && fail "listener bound to every address"
for host in 127.0.0.2 10.77.0.1; do
  "${CLIENT[@]}" connect "$host" || fail "a connect to $host:5515 was accepted"
done

# --- The status and settings frames.
"${CLIENT[@]}" watch "$WATCH" &
VELLMAR_PIDS+=($!)
WATCH_PID=$!
t0=$(now)
sleep 12
t1=$(now)
vals=$(count VAL "$t0" "$t1")
# The timers keep a fixed rate; a busy machine may still delay or skip a period, never burst.
[ "$vals" -ge 6 ] && [ "$vals" -le 13 ] || fail "$vals status frames in 12 s"
awk '$2 == "VAL" && ($4 != 6040 || $5 != 4528)' "$WATCH" | grep -q . && fail "status frame of the wrong size"
awk '$2 == "VAL" { if (p && ($1 - p < 0.3 || $1 - p > 5)) bad = 1; p = $1 } END { exit bad }' "$WATCH" \
  || fail "status frames not once a second"
cfgs=$(count CFG "$t0" "$t1")
[ "$cfgs" -ge 1 ] && [ "$cfgs" -le 3 ] || fail "$cfgs settings frames in 12 s"
awk '$2 == "CFG" && ($4 != 3772 || $5 != 2828)' "$WATCH" | grep -q . && fail "settings frame of the wrong size"
awk '$2 == "CFG" { if (p && ($1 - p < 3.5 || $1 - p > 10.5)) bad = 1; p = $1 } END { exit bad }' "$WATCH" \
  || fail "settings frames not every five seconds"

# --- A power failure from the listed source becomes an alarm line.
t=$(now)
power_trap 3
wait_for "alarm line" 5 sh -c "[ \$(awk -v t=$t '\$2 == \"LOG\" && \$1 > t' '$WATCH' | wc -l) -ge 1 ]"
line=$(last LOG | cut -d' ' -f6-)
echo "$line" | grep -Eq '^[0-3] [0-9]{2}/[0-9]{2}/[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2} <127\.0\.0\.1>: .+' \
  || fail "alarm line not in its format: $line"

# --- The cancel toggle, both ways, once the failure's countdown runs.
wait_for "countdown started" 5 log_has "$COUNTDOWN"
"${CLIENT[@]}" send SYS 2 || fail "link closed after SYS 02"
wait_for "countdown cancelled" 5 log_has "$CANCELLED"
wait_for "cancel flag in the status" 3 sh -c "awk '\$2 == \"VAL\"' '$WATCH' | tail -n 1 | grep -q cancelled=1"
"${CLIENT[@]}" send SYS 2 || fail "link closed after the second SYS 02"
wait_for "cancel withdrawn" 5 log_has "$WITHDRAWN"
wait_for "cancel flag cleared" 3 sh -c "awk '\$2 == \"VAL\"' '$WATCH' | tail -n 1 | grep -q cancelled=0"
"${CLIENT[@]}" send SYS 3 || fail "link closed after SYS 03"
sleep 1
[ "$(log_count "$CANCELLED")" = 1 ] || fail "SYS 03 toggled the cancel"

# --- Stop the reactions: no status, no settings frames, no trap taken; then resume.
lines_before=$(wc -l < "$VELLMAR_DIR/_FILE_LOG.TXT")
"${CLIENT[@]}" send STP 1 || fail "link closed after STP 01"
wait_for "stop saved" 5 grep -q $'^Stop Service=Yes\r$' "$INI"
t=$(now)
sleep 0.5
power_trap 4
sleep 6
[ "$(count VAL "$t")" = 0 ] || fail "status frames while stopped"
[ "$(count CFG "$t")" = 0 ] || fail "settings frames while stopped"
[ "$(count LOG "$t")" = 0 ] || fail "a trap was taken while stopped"
[ "$(wc -l < "$VELLMAR_DIR/_FILE_LOG.TXT")" = "$lines_before" ] || fail "the log grew while stopped"
t=$(now)
"${CLIENT[@]}" send STP 0 || fail "link closed after STP 00"
wait_for "resume saved" 5 grep -q $'^Stop Service=No\r$' "$INI"
wait_for "status frames again" 3 sh -c "[ \$(awk -v t=$t '\$2 == \"VAL\" && \$1 > t' '$WATCH' | wc -l) -ge 1 ]"
sleep 5.5   # the housekeeping tick opens the trap receiver again
t=$(now)
power_trap 4
wait_for "trap taken after the resume" 5 sh -c "[ \$(awk -v t=$t '\$2 == \"LOG\" && \$1 > t' '$WATCH' | wc -l) -ge 1 ]"

# --- Edited settings: a new web port is applied and saved.
"${CLIENT[@]}" upc http_port=8080 || fail "link closed after UPC"
wait_for "new port saved" 5 grep -q $'^HTTP Port=8080\r$' "$INI"
grep -q '^URL=http://127.0.0.1:8080' "$VELLMAR_DIR/Vellmar.url" || fail "shortcut not rewritten"
t=$(now)
wait_for "new port in the settings frame" 7 sh -c "awk -v t=$t '\$2 == \"CFG\" && \$1 > t' '$WATCH' | grep -q http_port=8080"

# --- Bad frames, each on its own connection: that link closes (or, for settings that must be
# refused, stays open), nothing changes, the watcher is still served.
ini_before=$(md5sum < "$INI")
for case in kind_xyz prefix length_not_digits length_oversize upc_wrong_size not_crypt64 middle_field junk; do
  code=0
  "${CLIENT[@]}" bad "$case" || code=$?
  [ "$code" = 0 ] || fail "bad frame $case did not close its link (exit $code)"
done
for case in upc_language_9 upc_unterminated upc_line_break; do
  code=0
  "${CLIENT[@]}" bad "$case" || code=$?
  [ "$code" = 3 ] || fail "refused settings $case: exit $code"
done
sleep 1
[ "$(md5sum < "$INI")" = "$ini_before" ] || fail "a bad frame changed agent.ini"
grep -q $'^HTTP Port=8080\r$' "$INI" || fail "port changed by a bad frame"
kill -0 "$VELLMAR_PID" || fail "the service is gone"
kill -0 "$WATCH_PID" || fail "the watching client lost its link"
grep -q '^CLOSED' "$WATCH" && fail "the watching client was closed"
t=$(now)
wait_for "watcher still served" 3 sh -c "[ \$(awk -v t=$t '\$2 == \"VAL\" && \$1 > t' '$WATCH' | wc -l) -ge 1 ]"

kill "$WATCH_PID"
vellmar_stop
echo "tray link: all checks passed"
