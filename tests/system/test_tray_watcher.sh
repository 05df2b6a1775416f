#!/usr/bin/env bash
# The tray program of a desktop user who is no administrator (nobody, under setpriv), headless,
# against the service and its link access rule: it cannot read the private agent.ini and starts
# from the settings frames, shows the status, the alarm lines and the countdown, keeps its link
# (it sends nothing), its acting menu items are disabled and its web monitor opens the plain
# address. Like the link access test, the namespace is made as real root so that the service sees
# the tray's own user.
VELLMAR_NETNS_AS_ROOT=1
source "$(dirname "$0")/lib.sh"
: "${LUMISK:?LUMISK must name the tray program}"
command -v setpriv >/dev/null || fail "setpriv (package util-linux) is missing"

use_net_snmp
# The web port is not the factory one: the watcher can only learn it from the settings frames.
vellmar_install "${LOCAL_SOURCE_INI%\[End\]*}[Web]
HTTP Port=8088
[End]
"
chmod 600 "$VELLMAR_DIR/agent.ini"   # as the service makes it: the tray cannot read it
LANG_INI="$VELLMAR_DIR/Language/English/language.ini"
tip() { tr -d '\r' < "$LANG_INI" | awk -v k="$1" 'index($0, k "=") == 1 { print substr($0, length(k) + 2); exit }'; }
chmod 711 "$VELLMAR_DIR"
cp "$LUMISK" "$VELLMAR_DIR/Lumisk"
TRAY="$VELLMAR_DIR/watcher"
mkdir "$TRAY"
: > "$TRAY/input"
chmod 777 "$TRAY"
chmod 666 "$TRAY/input"
SHOWN="$TRAY/shown.log"
user() { echo "$*" >> "$TRAY/input"; }
mark() { if [ -f "$SHOWN" ]; then wc -l < "$SHOWN"; else echo 0; fi; }
shown_since() { tail -n +"$(($1 + 1))" "$SHOWN" 2>/dev/null | grep -qF -- "$2"; }

vellmar_start
wait_for "tray listener" 10 sh -c "ss -ltn | grep -q '127.0.0.1:5515 '"
(cd "$VELLMAR_DIR" && exec setpriv --reuid=65534 --regid=65534 --clear-groups \
  env VELLMAR_TRAY_HEADLESS="$TRAY" "$VELLMAR_DIR/Lumisk") > "$VELLMAR_DIR/tray.out" 2>&1 &
VELLMAR_PIDS+=($!)
TRAY_PID=$!
wait_for "icon added" 10 shown_since 0 "icon add id=1001 icon=150"
sleep 6   # a settings frame has come

# --- The acting items are disabled; the others work.
m=$(mark)
user click
wait_for "menu" 5 shown_since "$m" "menu item 40003"
for item in "40002 checked=0 enabled=1" "40007 checked=0 enabled=0" "40016 checked=1 enabled=1" \
            "40017 checked=0 enabled=0" "40003 checked=0 enabled=0"; do
  shown_since "$m" "menu item $item" || fail "watcher's menu item $item"
done
user menu 40007
wait_for "property refused" 5 shown_since "$m" "menu refused 40007"
m=$(mark)
user dblclick
wait_for "web monitor" 5 shown_since "$m" "open http://127.0.0.1:8088"
tail -n +"$((m + 1))" "$SHOWN" | grep -q "encrypt=" && fail "the watcher's address carries the login token"

# --- A power failure reaches the watcher: icon, alarm line, countdown.
sleep 1
m=$(mark)
local_power_trap 3
wait_for "power-failure icon" 10 shown_since "$m" "icon modify id=1001 icon=146 tip=$(tip T_20)"
wait_for "alarm line" 5 shown_since "$m" "<127.0.0.1>: "
wait_for "countdown" 5 shown_since "$m" "draw 240 0"

# --- Its link stays: the status keeps coming (no state 10) and the service still has the client.
sleep 12
grep -qF "tip=$(tip T_26)" "$SHOWN" && fail "the watcher lost its link"
ss -tn state established '( dport = :5515 )' | grep -q 127.0.0.1 || fail "no link of the watcher"
kill -0 "$TRAY_PID" || fail "the watcher's tray is gone"
grep -q $'^Stop Service=No\r$' "$VELLMAR_DIR/agent.ini" || fail "the watcher changed the settings"

vellmar_stop
echo "tray watcher: all checks passed"
