"""Slow clients: opens N connections to HOST:PORT and sends each a request head one byte every
INTERVAL seconds, reopening a connection that the server closes, for DURATION seconds.

slow_clients.py HOST PORT N INTERVAL DURATION [PER_SOURCE]
With PER_SOURCE (IPv4 loopback only) connection i comes from 127.0.0.(10 + i // PER_SOURCE), as many
clients would, since the server lets one address hold only a few connections.
"""
import socket
import sys
import time

host, port, n = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
interval, duration = float(sys.argv[4]), float(sys.argv[5])
per_source = int(sys.argv[6]) if len(sys.argv) > 6 else 0
head = b"GET /login.asp HTTP/1.1\r\nHost: slow\r\nX-Pad: " + b"a" * 4000


def opened(i):
    s = socket.socket(socket.AF_INET6 if ":" in host else socket.AF_INET)
    if per_source:
        s.bind(("127.0.0.%d" % (10 + i // per_source), 0))
    s.setblocking(False)
    try:
        s.connect((host, port))
    except BlockingIOError:
        pass
    return [s, 0, i]


conns = [opened(i) for i in range(n)]
end = time.time() + duration
while time.time() < end:
    for c in conns:
        try:
            c[0].send(head[c[1] % len(head):c[1] % len(head) + 1])
            c[1] += 1
        except (BlockingIOError, InterruptedError):
            pass
        except OSError:
            c[0].close()
            c[0], c[1], c[2] = opened(c[2])
    time.sleep(interval)
