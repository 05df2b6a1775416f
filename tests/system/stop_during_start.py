"""Starts ./Brevanta in FOLDER, sends SIGTERM while it starts and checks that it ends.

Usage: stop_during_start.py FOLDER OUT WHEN CODES
  WHEN blocked  once the main thread has blocked the stop signals (it must get there)
       ready    once READY=1 reached the notify socket, or the start ended before
  CODES         the exit codes taken, comma-separated
The program's output goes to OUT. Exit status 0 when it ended with one of CODES within 30 s of
the signal.
"""
import os, re, signal, socket, subprocess, sys, time

folder, out_path, when, codes = sys.argv[1:5]
exe = os.path.realpath(os.path.join(folder, "Brevanta"))
env = dict(os.environ)
if when == "ready":
    path = os.path.join(folder, "start.sock")
    if os.path.exists(path):
        os.unlink(path)
    s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    s.bind(path)
    s.settimeout(0.2)
    env["NOTIFY_SOCKET"] = path
out = open(out_path, "w")
p = subprocess.Popen(["./Brevanta"], cwd=folder, stdout=out, stderr=out, env=env)
end = time.monotonic() + 30


# The main thread blocks them before it starts any other (which inherit its mask); the
# dispatcher thread, waiting in sigwait, shows them unblocked while it waits.
def main_thread_blocks():
    try:
        if os.readlink("/proc/%d/exe" % p.pid) != exe:
            return False
        with open("/proc/%d/status" % p.pid) as f:
            mask = int(re.search(r"SigBlk:\s*([0-9a-f]+)", f.read()).group(1), 16)
        return bool(mask & (1 << (signal.SIGTERM - 1)))
    except (OSError, AttributeError):
        return False


def ready():
    try:
        return s.recv(4096).startswith(b"READY=1")
    except socket.timeout:
        return False


if when == "blocked":
    while not main_thread_blocks():
        if time.monotonic() > end or p.poll() is not None:
            p.kill()
            sys.exit("the stop signals were not blocked at start (ended: %s)" % p.poll())
else:
    while p.poll() is None and time.monotonic() < end and not ready():
        pass
if p.poll() is None:
    p.send_signal(signal.SIGTERM)
try:
    code = p.wait(30)
except subprocess.TimeoutExpired:
    p.kill()
    sys.exit("still running 30 s after the stop request")
sys.exit(0 if str(code) in codes.split(",") else "ended with %d" % code)
