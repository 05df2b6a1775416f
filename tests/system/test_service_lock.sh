#!/usr/bin/env bash
# The service's single-instance lock against another local user: uid 65534 holds the abstract
# socket name that once stood for the service's folder and tries to take the lock file, and the
# service still starts; the lock file stays root's, readable by root only. Like the link access
# test, the namespace is made as real root so that uid 65534 is a user of its own.
VELLMAR_NETNS_AS_ROOT=1
source "$(dirname "$0")/lib.sh"
command -v setpriv >/dev/null || fail "setpriv (package util-linux) is missing"

vellmar_install
chmod 755 "$VELLMAR_DIR"   # others may look in, not write
LOCK="$VELLMAR_DIR/Vellmar-Service.lock"
NOBODY="$VELLMAR_DIR/nobody"
mkdir "$NOBODY"
chmod 777 "$NOBODY"

# as_nobody STEP: takes what it can, notes each try in $NOBODY/STEP.out, says "ready" and holds
# on until it is killed.
as_nobody() {
  setpriv --reuid=65534 --regid=65534 --clear-groups /usr/bin/python3 - "$VELLMAR_DIR" "$LOCK" "$NOBODY/$1.out" <<'PY' &
import fcntl, os, signal, socket, sys
folder, lock, out = sys.argv[1:4]
notes = []
def fnv1a(text):
    h = 1469598103934665603
    for b in text.encode():
        h = ((h ^ b) * 1099511628211) & 0xFFFFFFFFFFFFFFFF
    return h
held = []
name = "\0vellmar-mutex:Vellmar-Service:%016x" % (fnv1a(os.path.realpath(folder)) ^ fnv1a("folder:"))
s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
try:
    s.bind(name)
    held.append(s)
    notes.append("socket held")
except OSError as e:
    notes.append("socket refused: %s" % e.strerror)
for flags in (os.O_RDONLY, os.O_RDWR | os.O_CREAT):
    try:
        fd = os.open(lock, flags, 0o644)
        fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        held.append(fd)
        notes.append("lock taken")
    except OSError as e:
        notes.append("lock refused: %s" % e.strerror)
with open(out, "w") as f:
    f.write("\n".join(notes) + "\nready\n")
signal.pause()
PY
  VELLMAR_PIDS+=($!)
  NOBODY_PID=$!
  wait_for "uid 65534 in place" 10 grep -qsx ready "$NOBODY/$1.out"
}
stop_nobody() { kill "$NOBODY_PID"; wait "$NOBODY_PID" 2>/dev/null || true; }

# Before the first start: the name is held, the lock file cannot be made.
as_nobody before
grep -qx "socket held" "$NOBODY/before.out" || fail "uid 65534 could not hold the name: $(cat "$NOBODY/before.out")"
grep -q "lock taken" "$NOBODY/before.out" && fail "uid 65534 took the lock: $(cat "$NOBODY/before.out")"
vellmar_start
kill -0 "$VELLMAR_PID" 2>/dev/null || fail "the service did not start beside uid 65534: $(cat "$VELLMAR_DIR/brevanta.out")"
[ "$(stat -c '%u %a' "$LOCK")" = "0 600" ] || fail "lock file: $(stat -c '%u %a' "$LOCK" 2>&1)"
stop_nobody

# While it runs, and after it has stopped: the lock file is no one else's to take.
as_nobody running
grep -q "lock taken" "$NOBODY/running.out" && fail "uid 65534 took the running service's lock"
stop_nobody
vellmar_stop
as_nobody stopped
grep -q "lock taken" "$NOBODY/stopped.out" && fail "uid 65534 took the stopped service's lock"
vellmar_start
kill -0 "$VELLMAR_PID" 2>/dev/null || fail "the service did not start again beside uid 65534"
stop_nobody
vellmar_stop
echo "service lock: all checks passed"
