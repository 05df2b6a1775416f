#!/usr/bin/env bash
# The tray link's client slots against local users who are no administrators: one such user holds
# at most two slots, and when watchers of several users fill the table, an administrator's tray
# (root) takes the slot of the oldest watching connection and gets its frames. As in the link
# access test, the namespace is made as real root so that the service sees each client's own user.
VELLMAR_NETNS_AS_ROOT=1
source "$(dirname "$0")/lib.sh"
command -v setpriv >/dev/null || fail "setpriv (package util-linux) is missing"

vellmar_install "[Format]
Version=7
[End]
"
chmod 711 "$VELLMAR_DIR"
OUT="$VELLMAR_DIR/clients"
mkdir "$OUT"
cp "$VELLMAR_SOURCE_DIR/tests/system/tray_client.py" "$OUT/"
chmod 777 "$OUT"
chmod 644 "$OUT/tray_client.py"
as_user() { local uid=$1; shift; setpriv --reuid="$uid" --regid="$uid" --clear-groups /usr/bin/python3 "$OUT/tray_client.py" "$@"; }
ROOT_CLIENT=(python3 "$VELLMAR_SOURCE_DIR/tests/system/tray_client.py")
frames_ok() {   # frames_ok LOG: status and settings frames came and the link stayed
  awk '$2 == "VAL"' "$1" | grep -q . && awk '$2 == "CFG"' "$1" | grep -q . && ! grep -q '^CLOSED' "$1"
}

vellmar_start
wait_for "tray listener" 10 sh -c "ss -ltn | grep -q '127.0.0.1:5515 '"

# --- One user, ten connections: two are kept, eight closed at once; root still gets its frames.
as_user 65534 hold 10 14 "$OUT/nobody.held" &
VELLMAR_PIDS+=($!)
HOLD_PID=$!
sleep 3
"${ROOT_CLIENT[@]}" watch "$VELLMAR_DIR/root1.log" 8 || fail "root's watcher failed"
wait "$HOLD_PID" || fail "holder failed"
[ "$(grep -c ' open$' "$OUT/nobody.held")" = 2 ] || fail "one user kept other than two slots: $(cat "$OUT/nobody.held"; tail "$VELLMAR_DIR/root1.log")"
grep -qx '0 open' "$OUT/nobody.held" && grep -qx '1 open' "$OUT/nobody.held" || fail "the first two were not kept"
frames_ok "$VELLMAR_DIR/root1.log" || fail "root's tray got no frames beside the holder"
echo "ok   one user holds two slots"

# --- Five users fill the table with two each; root's tray takes the oldest watcher's slot.
HOLDERS=()
for uid in 65530 65531 65532 65533 65534; do
  as_user "$uid" hold 2 16 "$OUT/$uid.held" &
  VELLMAR_PIDS+=($!)
  HOLDERS+=($!)
  sleep 0.5
done
sleep 2
"${ROOT_CLIENT[@]}" watch "$VELLMAR_DIR/root2.log" 8 || fail "root's watcher failed"
for p in "${HOLDERS[@]}"; do wait "$p" || fail "holder failed"; done
frames_ok "$VELLMAR_DIR/root2.log" || fail "root's tray got no frames with the table full of watchers"
grep -q '^0 closed' "$OUT/65530.held" || fail "the oldest watcher was not closed: $(cat "$OUT/65530.held")"
grep -qx '1 open' "$OUT/65530.held" || fail "the second oldest was closed too"
for uid in 65531 65532 65533 65534; do
  [ "$(grep -c ' open$' "$OUT/$uid.held")" = 2 ] || fail "watcher of $uid closed: $(cat "$OUT/$uid.held")"
done
echo "ok   an administrator takes the oldest watcher's slot"

vellmar_stop
echo "tray link slots: all checks passed"
