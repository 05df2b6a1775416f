#!/usr/bin/env bash
# The tray program Lumisk on a real X display: Xvfb with trayer as the system tray, xdotool as the
# user, ImageMagick for the screenshots (kept in the build tree's artifacts folder). The icon embeds
# and shows its picture, a click opens the menu with its five items, a power trap brings the
# countdown window with its digits, the tray going away and coming back brings the icon back, and
# the end of the session closes the program cleanly.
source "$(dirname "$0")/lib.sh"
: "${LUMISK:?LUMISK must name the tray program}"
for tool in Xvfb trayer xdotool import convert; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/deps.sh installs it)"
done
use_net_snmp
ARTIFACTS=${VELLMAR_ARTIFACTS:-$VELLMAR_DIR/artifacts}/tray
mkdir -p "$ARTIFACTS"
export NO_AT_BRIDGE=1
# GTK, GLib, Pango and fontconfig keep one-time allocations; our own leaks stay reported.
export LSAN_OPTIONS="suppressions=$VELLMAR_SOURCE_DIR/tests/lsan-desktop.supp:print_suppressions=0"

vellmar_install "$LOCAL_SOURCE_INI"
SHOWN="$VELLMAR_DIR/shown.log"
vellmar_start

Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5> "$VELLMAR_DIR/display" 2> "$VELLMAR_DIR/xvfb.err" &
VELLMAR_PIDS+=($!)
wait_for "X display" 15 test -s "$VELLMAR_DIR/display"
export DISPLAY=":$(cat "$VELLMAR_DIR/display")"

start_trayer() {
  trayer --edge bottom --align right --widthtype request --height 24 --SetDockType true --transparent false \
    > "$VELLMAR_DIR/trayer.out" 2>&1 &
  VELLMAR_PIDS+=($!)
  TRAYER_PID=$!
}
start_trayer
sleep 1

# The browser stand-in notes the addresses it is asked to open; the web monitor's pages stay in
# the test folder.
export XDG_RUNTIME_DIR="$VELLMAR_DIR/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
mkdir "$VELLMAR_DIR/bin"
printf '#!/bin/sh\necho "$1" >> "%s/opened"\n' "$VELLMAR_DIR" > "$VELLMAR_DIR/bin/xdg-open"
chmod 755 "$VELLMAR_DIR/bin/xdg-open"
(cd "$VELLMAR_DIR" && VELLMAR_TRAY_RECORD="$SHOWN" PATH="$VELLMAR_DIR/bin:$PATH" exec "$LUMISK") > "$VELLMAR_DIR/tray.out" 2>&1 &
VELLMAR_PIDS+=($!)
TRAY_PID=$!

count() { grep -cF -- "$1" "$SHOWN" 2>/dev/null || true; }
# The last place the icon was embedded at, once it has a size: "x y w h".
icon_place() { grep -E "^icon embedded id=1001 1 at [0-9]+ [0-9]+ ([2-9]|[0-9]{2,}) " "$SHOWN" | tail -n 1 | awk '{print $6, $7, $8, $9}'; }
has_place() { [ -n "$(icon_place)" ]; }
# colour_pixels IMAGE HEX: pixels of exactly that colour.
colour_pixels() { convert "$1" -format %c histogram:info:- | grep -i "#$2 " | awk '{s += $1} END {print s + 0}'; }

# --- The icon embeds in the tray and shows the normal picture.
wait_for "icon added" 10 grep -qF "icon add id=1001 icon=150 tip=Vellmar 2012" "$SHOWN"
wait_for "icon embedded" 10 has_place
sleep 0.5
import -window root "$ARTIFACTS/icon.png"
read -r x y w h < <(icon_place)
convert "$ARTIFACTS/icon.png" -crop "${w}x${h}+${x}+${y}" +repage "$ARTIFACTS/icon-crop.png"
[ "$(colour_pixels "$ARTIFACTS/icon-crop.png" 2E9E3E)" -ge 20 ] || fail "the icon's picture is not on the screen"

# --- A click opens the menu with its five items and the separator.
xdotool mousemove $((x + w / 2)) $((y + h / 2)) click 1
wait_for "menu shown" 10 grep -qF "menu shown items=5 separators=1" "$SHOWN"
sleep 0.5
import -window root "$ARTIFACTS/menu.png"

# --- A click on "Property..." opens the property sheet with its page; Esc closes it. (On a busy
# machine a click can come before the menu is in place: then the menu is opened again.)
shown_after() { tail -n +"$(($1 + 1))" "$SHOWN" | grep -qF -- "$2"; }
opened=0
for attempt in 1 2 3; do
  if [ "$attempt" -gt 1 ]; then
    xdotool key Escape
    m=$(wc -l < "$SHOWN")
    xdotool mousemove $((x + w / 2)) $((y + h / 2)) click 1
    wait_for "menu shown again" 10 shown_after "$m" "menu shown items=5"
  fi
  read -r px py pw ph < <(grep -E "^menu item at 40007 " "$SHOWN" | tail -n 1 | awk '{print $5, $6, $7, $8}')
  [ -n "$ph" ] && [ "$ph" -gt 0 ] || fail "no place of the Property item"
  xdotool mousemove $((px + pw / 2)) $((py + ph / 2))
  sleep 0.3
  xdotool click 1
  for _ in $(seq 50); do
    grep -qF "dialog open 112" "$SHOWN" && { opened=1; break; }
    sleep 0.1
  done
  [ "$opened" = 1 ] && break
done
[ "$opened" = 1 ] || fail "the property sheet did not open"
wait_for "sheet window" 10 sh -c "xdotool search --name '^Vellmar - Property\$' >/dev/null"
sleep 1
import -window root "$ARTIFACTS/property.png"
sheet=$(xdotool search --name '^Vellmar - Property$' | head -n 1)
xdotool windowfocus --sync "$sheet" key Escape
wait_for "sheet closed" 10 grep -qF "dialog close 112" "$SHOWN"

# --- A right press opens the menu too; a left double click opens the web monitor and leaves no
# menu open.
menu_open_after() {   # the last menu line since line $1 says shown
  tail -n +"$(($1 + 1))" "$SHOWN" | grep -E '^menu (shown|closed)' | tail -n 1 | grep -q '^menu shown'
}
m=$(wc -l < "$SHOWN")
xdotool mousemove $((x + w / 2)) $((y + h / 2)) click 3
wait_for "menu of the right button" 10 shown_after "$m" "menu shown items=5"
xdotool key Escape
sleep 1
m=$(wc -l < "$SHOWN")
xdotool mousemove $((x + w / 2)) $((y + h / 2)) click --repeat 2 --delay 80 1
PAGE="$XDG_RUNTIME_DIR/vellmar-tray/web-monitor-$TRAY_PID.html"
wait_for "web monitor" 10 shown_after "$m" "open $PAGE"
wait_for "browser started" 10 test -s "$VELLMAR_DIR/opened"
# The browser is handed the private page, which holds the login address; its command line does not.
[ "$(cat "$VELLMAR_DIR/opened")" = "$PAGE" ] || fail "browser's command line: $(cat "$VELLMAR_DIR/opened")"
[ "$(stat -c %a "$PAGE")" = 600 ] || fail "the web monitor's page is open to others"
grep -q 'url=http://127.0.0.1:[0-9]*?encrypt=1&amp;account=' "$PAGE" || fail "web monitor page: $(cat "$PAGE")"
sleep 1
import -window root "$ARTIFACTS/double-click.png"
menu_open_after "$m" && fail "the menu stayed open after the double click"
[ "$(tail -n +"$((m + 1))" "$SHOWN" | grep -c '^open ')" = 1 ] || fail "the web monitor opened other than once"
import -window root "$ARTIFACTS/double-click.png"

# --- A power failure: the countdown window shows its digits (white: five minutes left).
sleep 5   # the trap receiver opens on the service's first housekeeping tick
local_power_trap 3
wait_for "countdown drawn" 10 grep -qE "^draw 240 0[45]:[0-9]{2} fg=ffffff" "$SHOWN"
wait_for "countdown window" 10 sh -c "xdotool search --name '^Vellmar\$' >/dev/null"
sleep 1
wid=$(xdotool search --name '^Vellmar$' | head -n 1)
import -window "$wid" "$ARTIFACTS/countdown.png"
[ "$(colour_pixels "$ARTIFACTS/countdown.png" 202020)" -ge 100 ] || fail "countdown background missing"
[ "$(colour_pixels "$ARTIFACTS/countdown.png" FFFFFF)" -ge 30 ] || fail "countdown digits missing"
import -window root "$ARTIFACTS/alarm.png"

# --- The tray goes away and comes back: the icon comes back.
adds=$(count "icon add id=1001")
lines=$(wc -l < "$SHOWN")
kill "$TRAYER_PID"
wait "$TRAYER_PID" 2>/dev/null || true
sleep 2.5
start_trayer
wait_for "icon added again" 10 sh -c "[ \$(grep -cF 'icon add id=1001' '$SHOWN') -gt $adds ]"
wait_for "icon embedded again" 10 sh -c "tail -n +$((lines)) '$SHOWN' | grep -qE '^icon embedded id=1001 1 at [0-9]+ [0-9]+ ([2-9]|[0-9]{2,}) '"
sleep 0.5
import -window root "$ARTIFACTS/icon-back.png"

# --- The end of the session closes the window, deletes the icon and ends the program cleanly.
kill -TERM "$TRAY_PID"
code=0
wait "$TRAY_PID" || code=$?
[ "$code" = 0 ] || { cat "$VELLMAR_DIR/tray.out" >&2; fail "Lumisk ended with exit code $code"; }
grep -qF "icon delete id=1001" "$SHOWN" || fail "icon not deleted at the end"
vellmar_stop
echo "tray desktop: all checks passed (screenshots in $ARTIFACTS)"
