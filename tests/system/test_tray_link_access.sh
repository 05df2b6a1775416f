#!/usr/bin/env bash
# The tray link's access rule with a client of another user: an administrator's client (root) gets
# every frame and may act; a client of an unprivileged user gets the status, the alarm lines and
# the settings with their passwords zeroed, and anything it sends closes its link. The usual
# harness maps only uid 0 into its namespace, where every client looks like root to the kernel's
# socket tables, so this test makes its network namespace as real root and runs the unprivileged
# client under setpriv.
VELLMAR_NETNS_AS_ROOT=1
source "$(dirname "$0")/lib.sh"

use_net_snmp
vellmar_install "[Format]
Version=7
[Source IP]
Number=1
IP1=127.0.0.1
Community1=public
[End]
"
INI="$VELLMAR_DIR/agent.ini"
# A folder the unprivileged client can reach, with its own copy of the client.
chmod 711 "$VELLMAR_DIR"
NOBODY_DIR="$VELLMAR_DIR/nobody"
mkdir "$NOBODY_DIR"
cp "$VELLMAR_SOURCE_DIR/tests/system/tray_client.py" "$NOBODY_DIR/"
chmod 777 "$NOBODY_DIR"
chmod 644 "$NOBODY_DIR/tray_client.py"
ROOT_CLIENT=(python3 "$VELLMAR_SOURCE_DIR/tests/system/tray_client.py")
NOBODY_CLIENT=(setpriv --reuid=65534 --regid=65534 --clear-groups /usr/bin/python3 "$NOBODY_DIR/tray_client.py")

vellmar_start
wait_for "tray listener" 10 sh -c "ss -ltn | grep -q '127.0.0.1:5515 '"

# An administrator stores the passwords.
"${ROOT_CLIENT[@]}" upc vm_password=vm-secret account_password0=web-secret vm_server=esx.example \
  || fail "administrator's UPC refused"
wait_for "passwords saved" 5 grep -q '^VM Password=.' "$INI"

# Both watch for a while; a power failure gives an alarm line to both.
ROOT_WATCH="$VELLMAR_DIR/root.log"
NOBODY_WATCH="$NOBODY_DIR/watch.log"
"${ROOT_CLIENT[@]}" watch "$ROOT_WATCH" 14 &
VELLMAR_PIDS+=($!)
ROOT_PID=$!
"${NOBODY_CLIENT[@]}" watch "$NOBODY_WATCH" 14 &
VELLMAR_PIDS+=($!)
NOBODY_PID=$!
# Both are connected (their first status frame came) before the trap is sent.
wait_for "both watching" 10 sh -c "grep -q ' VAL ' '$ROOT_WATCH' 2>/dev/null && grep -q ' VAL ' '$NOBODY_WATCH' 2>/dev/null"
snmptrap -v 1 -c public -m '' 127.0.0.1 1.3.6.1.4.1.7342.2.4.20 127.0.0.1 6 3 '' || fail "snmptrap failed"
wait "$ROOT_PID" || fail "administrator's watcher failed"
wait "$NOBODY_PID" || fail "unprivileged watcher failed"
has() { awk -v k="$2" '$2 == k' "$1" | grep -q -- "$3"; }
for w in "$ROOT_WATCH" "$NOBODY_WATCH"; do
  has "$w" VAL . || fail "no status frame in $w"
  has "$w" LOG '<127\.0\.0\.1>' || fail "no alarm line in $w"
  has "$w" CFG . || fail "no settings frame in $w"
  grep -q '^CLOSED' "$w" && fail "watcher closed by the service: $w"
done
has "$ROOT_WATCH" CFG 'secrets=1' || fail "administrator's settings frame without the passwords"
has "$NOBODY_WATCH" CFG 'secrets=1' && fail "unprivileged client got the passwords"
has "$NOBODY_WATCH" CFG 'secrets=0' || fail "unprivileged settings frame missing"
# Nor the account names, the VMware server and account, the vCLI folder or the command file.
has "$ROOT_WATCH" CFG 'private=1' || fail "administrator's settings frame without the account names and paths"
has "$NOBODY_WATCH" CFG 'private=1' && fail "unprivileged client got the account names, VMware server or paths"
echo "ok   unprivileged client watches, without the passwords"

# Whatever the unprivileged client sends closes its link and changes nothing.
ini_before=$(md5sum < "$INI")
for request in "send STP 1" "send SYS 2" "upc http_port=8181"; do
  code=0
  # shellcheck disable=SC2086
  "${NOBODY_CLIENT[@]}" $request || code=$?
  [ "$code" = 3 ] || fail "unprivileged '$request' left open (exit $code)"
done
sleep 1
[ "$(md5sum < "$INI")" = "$ini_before" ] || fail "an unprivileged client changed agent.ini"
grep -q $'^Stop Service=No\r$' "$INI" || fail "reactions stopped by an unprivileged client"
echo "ok   unprivileged requests refused"

# The administrator still acts.
"${ROOT_CLIENT[@]}" send STP 1 || fail "administrator's STP 01 closed"
wait_for "stop saved" 5 grep -q $'^Stop Service=Yes\r$' "$INI"
"${ROOT_CLIENT[@]}" send STP 0 || fail "administrator's STP 00 closed"
wait_for "resume saved" 5 grep -q $'^Stop Service=No\r$' "$INI"
echo "ok   administrator acts"

vellmar_stop
echo "tray link access: all checks passed"
