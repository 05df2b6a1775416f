"""Sends stdin (or the given data) to a TCP port as it stands and prints what comes back.

http_raw.py HOST PORT [SECONDS]: stops when the server closes or after SECONDS (10) of silence.
"""
import socket
import sys

host, port = sys.argv[1], int(sys.argv[2])
wait = float(sys.argv[3]) if len(sys.argv) > 3 else 10.0
data = sys.stdin.buffer.read()
s = socket.create_connection((host, port), timeout=wait)
s.sendall(data)
out = b""
try:
    while True:
        chunk = s.recv(65536)
        if not chunk:
            break
        out += chunk
except (socket.timeout, ConnectionResetError):
    pass
sys.stdout.buffer.write(out)
