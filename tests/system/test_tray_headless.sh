#!/usr/bin/env bash
# The tray program Lumisk, headless (what it would show is recorded in shown.log, the user's clicks
# and typing come from the input file), against the real service: the icon follows a real power
# trap, the alarm line and the countdown window, "Cancel Countdown" toggles the service's cancel,
# the property page's port reaches agent.ini, the account dialog, "Stop Service" and the icon of a
# silent link, the watcher's tray of a user who is no administrator, and one instance per session.
source "$(dirname "$0")/lib.sh"
: "${LUMISK:?LUMISK must name the tray program}"
use_net_snmp

vellmar_install "$LOCAL_SOURCE_INI"
INI="$VELLMAR_DIR/agent.ini"
LANG_INI="$VELLMAR_DIR/Language/English/language.ini"
# lang SECTION KEY: a text of the English language.ini.
lang() { tr -d '\r' < "$LANG_INI" | awk -v s="[$1]" -v k="$2" '/^\[/ { in_s = ($0 == s) } in_s && index($0, k "=") == 1 { print substr($0, length(k) + 2); exit }'; }
event_name() { grep -a "^name$1=" "$VELLMAR_DIR/Language/English/event-common.ini" | cut -d= -f2- | tr -d '\r' | sed 's/%s.*//'; }
CANCELLED=$(event_name 5)
WITHDRAWN=$(event_name 6)

TRAY="$VELLMAR_DIR/tray"
SHOWN="$TRAY/shown.log"
mkdir -p "$TRAY"
: > "$TRAY/input"
# user ACTION...: one line of the user's input.
user() { echo "$*" >> "$TRAY/input"; }
mark() { if [ -f "$SHOWN" ]; then wc -l < "$SHOWN"; else echo 0; fi; }
# shown_since MARK TEXT: the record holds the text (fixed string) after line MARK.
shown_since() { tail -n +"$(($1 + 1))" "$SHOWN" 2>/dev/null | grep -qF -- "$2"; }
wait_shown() { local m=$1 text=$2 seconds=${3:-10}; wait_for "shown: $text" "$seconds" shown_since "$m" "$text"; }

# The web monitor's pages stay in the test folder.
export XDG_RUNTIME_DIR="$VELLMAR_DIR/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
RUN=$XDG_RUNTIME_DIR

vellmar_start
sleep 5.5   # the trap receiver opens on the first housekeeping tick
start_tray() {  # start_tray DIR [ENV...]: a headless tray in its own folder
  local dir=$1
  shift
  (cd "$VELLMAR_DIR" && exec env VELLMAR_TRAY_HEADLESS="$dir" "$@" "$LUMISK") > "$dir/out" 2>&1 &
  VELLMAR_PIDS+=($!)
  TRAY_PID=$!
}
start_tray "$TRAY"
ADMIN_PID=$TRAY_PID
wait_shown 0 "icon add id=1001 icon=150 tip=Vellmar 2012"
wait_shown 0 "icon modify id=1001 icon=150 tip=Vellmar 2012"

# --- One instance per user and display.
code=0
(cd "$VELLMAR_DIR" && timeout 10 env VELLMAR_TRAY_HEADLESS="$TRAY" "$LUMISK") || code=$?
[ "$code" = 1 ] || fail "a second tray in the same session ran (exit $code)"

# --- A real power failure: the icon, the alarm line, the countdown window counting down.
m=$(mark)
local_power_trap 3
wait_shown "$m" "icon modify id=1001 icon=146 tip=$(lang Sys T_20)"
wait_shown "$m" "list 176 13 first "
shown_since "$m" "<127.0.0.1>: " || fail "alarm line without its source"
shown_since "$m" "screensaver off" || fail "screen saver left on"
wait_shown "$m" "dialog open 240"
wait_for "countdown counts down" 10 sh -c "tail -n +$((m + 1)) '$SHOWN' | grep -E '^draw 240 [0-9]{2}:[0-9]{2} ' | awk '{print \$3}' | sort -u | wc -l | grep -qv '^[01]$'"
first=$(tail -n +$((m + 1)) "$SHOWN" | grep -E '^draw 240 ' | head -n 1 | awk '{print $3}')
later=$(tail -n +$((m + 1)) "$SHOWN" | grep -E '^draw 240 ' | tail -n 1 | awk '{print $3}')
[[ "$later" < "$first" ]] || fail "countdown went from $first to $later"

# --- The popup menu, then "Cancel Countdown": SYS 02 toggles the service's cancel, the check follows.
m=$(mark)
user click
wait_shown "$m" "menu open 6"
for item in "40002 checked=0 enabled=1 Web Monitor..." "40007 checked=0 enabled=1 Property..." \
            "40016 checked=1 enabled=1 Show Countdown" "40017 checked=0 enabled=1 Cancel Countdown" \
            "40003 checked=0 enabled=1 Stop Service"; do
  shown_since "$m" "menu item $item" || fail "menu item $item"
done
shown_since "$m" "menu separator" || fail "no separator"
user menu 40017
wait_for "countdown cancelled" 5 log_has "$CANCELLED"
sleep 2
m=$(mark)
user click
wait_shown "$m" "menu item 40017 checked=1"
user menu 40017
wait_for "cancel withdrawn" 5 log_has "$WITHDRAWN"

# --- The web monitor of an administrator carries the login link in a page only its user reads;
# the browser's command line holds the page's path, no password. A real browser goes on from the
# page to the logged-in home page.
m=$(mark)
user dblclick
PAGE="$RUN/vellmar-tray/web-monitor-$ADMIN_PID.html"
wait_shown "$m" "open $PAGE"
[ "$(tail -n +"$((m + 1))" "$SHOWN" | grep '^open ')" = "open $PAGE" ] || fail "browser command: $(grep '^open ' "$SHOWN")"
grep -q "password=" "$SHOWN" && fail "a password is on the browser's command line"
[ "$(stat -c %a "$PAGE")" = 600 ] || fail "the page is open to others: $(stat -c %a "$PAGE")"
[ "$(stat -c %a "$RUN/vellmar-tray")" = 700 ] || fail "the page's folder is open to others"
grep -qF 'url=http://127.0.0.1:80?encrypt=1&amp;account=admin&amp;password=' "$PAGE" || fail "page: $(cat "$PAGE")"
NODE_DIR="$VELLMAR_SOURCE_DIR/build/node/node_modules"
[ -f "$NODE_DIR/playwright-core/package.json" ] || fail "playwright-core is missing: run scripts/node_deps.sh"
landed=$(HOME="$VELLMAR_DIR" NODE_PATH="$NODE_DIR" node "$VELLMAR_SOURCE_DIR/tests/system/browser_page.js" "$PAGE" /home.asp) ||
  fail "the browser did not get from the page to the home page: $landed"

# --- The property page: its controls, a new port through UPC into agent.ini.
m=$(mark)
user click
user menu 40007
wait_shown "$m" "sheet Vellmar - Property tab=$(lang Sys T_1)"
for line in "text 112 2001 $(lang About-Screen L_1)" "text 112 1145 Vellmar 2012" "text 112 1110 02.00.22" \
            "text 112 1157 80" "text 112 1158 443" "check 112 1076 1" "list 112 1162 add English" \
            "select 112 1162 0" "text 112 1081 Login Account..."; do
  shown_since "$m" "$line" || fail "page: $line"
done
user set 112 1157 8081
user press 112 1
wait_for "port 8081 saved" 10 grep -q $'^HTTP Port=8081\r$' "$INI"
wait_shown "$m" "dialog close 112"

# --- The account dialog: an emptied password is refused with its message, the rest is taken.
m=$(mark)
user click
user menu 40007
wait_shown "$m" "dialog open 112"
user press 112 1081
wait_shown "$m" "dialog open 1110"
shown_since "$m" "title 1110 $(lang WebAccount-Screen Title)" || fail "account dialog title"
user set 1110 1161 operator
user set 1110 1162 ""
user press 1110 1085
wait_shown "$m" "msgbox error Account: The account or password can't be empty."
wait_shown "$m" "dialog close 1110"
user press 112 2
wait_shown "$m" "dialog close 112"
wait_for "device manager account saved" 10 grep -q $'^User1=operator\r$' "$INI"

# --- Stop Service: STP 01 stops the reactions; the silent link gives state 10 after ten seconds.
m=$(mark)
user click
user menu 40003
wait_for "stop saved" 10 grep -q $'^Stop Service=Yes\r$' "$INI"
wait_shown "$m" "icon modify id=1001 icon=151 tip=$(lang Sys T_26)" 25
t_stop=$SECONDS
lines=$(wc -l < "$VELLMAR_DIR/_FILE_LOG.TXT")
local_power_trap 4
sleep 1
[ "$(wc -l < "$VELLMAR_DIR/_FILE_LOG.TXT")" = "$lines" ] || fail "a trap was taken while stopped"
# The tray reconnects right after dropping the silent link; resume.
sleep 2
m=$(mark)
user click
wait_shown "$m" "menu item 40003 checked=1"
user menu 40003
wait_for "resume saved" 10 grep -q $'^Stop Service=No\r$' "$INI"
wait_shown "$m" "icon modify id=1001 icon=146" 10
[ $((SECONDS - t_stop)) -lt 60 ] || fail "the resume took too long"

# --- A watcher's tray (a desktop user who is no administrator): it shows, it does not act.
WATCH="$VELLMAR_DIR/watcher"
mkdir -p "$WATCH"
: > "$WATCH/input"
start_tray "$WATCH" DISPLAY=:watcher VELLMAR_TRAY_WATCHER=1
wait_for "watcher icon" 10 grep -qF "icon add id=1001" "$WATCH/shown.log"
sleep 6   # a settings frame arrives
echo click >> "$WATCH/input"
wait_for "watcher menu" 5 grep -qF "menu item 40003 checked=0 enabled=0" "$WATCH/shown.log"
grep -qF "menu item 40007 checked=0 enabled=0" "$WATCH/shown.log" || fail "watcher may open the property page"
grep -qF "menu item 40017 checked=0 enabled=0" "$WATCH/shown.log" || fail "watcher may cancel"
grep -qF "menu item 40016 checked=1 enabled=1" "$WATCH/shown.log" || fail "watcher may not hide the countdown"
echo "menu 40017" >> "$WATCH/input"
wait_for "refused" 5 grep -qF "menu refused 40017" "$WATCH/shown.log"
echo dblclick >> "$WATCH/input"
wait_for "watcher's web monitor" 5 grep -qF "open http://127.0.0.1:8081" "$WATCH/shown.log"
grep -q "encrypt=" "$WATCH/shown.log" && fail "watcher's address carries the login token"

kill -0 "$ADMIN_PID" || fail "the tray is gone"
vellmar_stop
echo "tray headless: all checks passed"
