#!/usr/bin/env python3
"""UDP load for the trap benchmark (bench/trap_cpu_vs_snmptrapd.sh).

  capture PORT                      prints the hex of the first datagram received on 127.0.0.1:PORT
  replay HEX PORT COUNT RATE        sends the datagram COUNT times at RATE per second to 127.0.0.1:PORT
  burst HEX PORT COUNT              sends it COUNT times as fast as possible
  delay HEX PORT JUNK_RATE SECONDS TRACE [JUNK_PORT [JUNK_HEX]]
                                    junk from 127.0.0.2 at JUNK_RATE/s (to JUNK_PORT, default PORT;
                                    JUNK_HEX, default a malformed datagram) while the datagram is
                                    sent from 127.0.0.1 every 0.25 s; prints the delays (ms) until
                                    each trap shows in the TRACE file: "sent taken mean max"
"""
import os
import socket
import sys
import threading
import time


def sender(bind="127.0.0.1"):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind((bind, 0))
    return s


def paced(sock, data, port, count, rate):
    start = time.monotonic()
    for i in range(count):
        due = start + i / rate
        wait = due - time.monotonic()
        if wait > 0:
            time.sleep(wait)
        sock.sendto(data, ("127.0.0.1", port))


def lines(path):
    try:
        with open(path, "rb") as f:
            return f.read().count(b"\n")
    except FileNotFoundError:
        return 0


def cmd_capture(port):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.1", int(port)))
    s.settimeout(10)
    print(s.recv(65536).hex())


def cmd_replay(hexdata, port, count, rate):
    paced(sender(), bytes.fromhex(hexdata), int(port), int(count), float(rate))


def cmd_burst(hexdata, port, count):
    s = sender()
    data = bytes.fromhex(hexdata)
    for _ in range(int(count)):
        s.sendto(data, ("127.0.0.1", int(port)))


def cmd_delay(hexdata, port, junk_rate, seconds, trace, junk_port=None, junk_hex=None):
    port, junk_rate, seconds = int(port), float(junk_rate), float(seconds)
    junk_port = int(junk_port) if junk_port else port
    stop = threading.Event()

    def junk():
        s = sender("127.0.0.2")
        data = bytes.fromhex(junk_hex) if junk_hex else bytes([0x30, 0x40]) + bytes(64)
        start = time.monotonic()
        i = 0
        while not stop.is_set():
            due = start + i / junk_rate
            wait = due - time.monotonic()
            if wait > 0:
                time.sleep(wait)
            # A late sender catches up in small bursts to hold the rate.
            s.sendto(data, ("127.0.0.1", junk_port))
            i += 1

    t = threading.Thread(target=junk, daemon=True)
    t.start()
    time.sleep(1)
    s = sender()
    data = bytes.fromhex(hexdata)
    delays = []
    sent = 0
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        before = lines(trace)
        sent += 1
        t0 = time.monotonic()
        s.sendto(data, ("127.0.0.1", port))
        while lines(trace) <= before and time.monotonic() - t0 < 2:
            time.sleep(0.001)
        if lines(trace) > before:
            delays.append((time.monotonic() - t0) * 1000)
        time.sleep(max(0.0, 0.25 - (time.monotonic() - t0)))
    stop.set()
    mean = sum(delays) / len(delays) if delays else float("nan")
    print("%d %d %.1f %.1f" % (sent, len(delays), mean, max(delays) if delays else float("nan")))


if __name__ == "__main__":
    sys.exit({"capture": cmd_capture, "replay": cmd_replay, "burst": cmd_burst,
              "delay": cmd_delay}[sys.argv[1]](*sys.argv[2:]))
