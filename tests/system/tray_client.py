#!/usr/bin/env python3
"""A small tray-link client for the system tests: watches the service's frames, sends requests,
edited settings and bad frames, each on its own connection to 127.0.0.1:5515.

  watch OUT [SECONDS]     one line per received frame into OUT (appended, flushed):
                          "<time> <kind> <code> <chars> <record bytes> <detail>"; "CLOSED" at the end
  send KIND CODE [HOLD]   sends an empty SYS/STP frame; exit 0 if the link stays open HOLD seconds
  upc FIELD=VALUE...      waits for a CFG frame, changes the fields, sends it back as UPC
  bad CASE [HOLD]         sends a bad frame; exit 0 if the service closes the link within HOLD s,
                          3 if it stays open
  connect HOST            exit 0 if a connect to HOST:5515 is refused, 1 if it is accepted
  hold COUNT SECONDS OUT  opens COUNT connections one after another and keeps them SECONDS;
                          then writes "<i> open" or "<i> closed <seconds after the start>" per
                          connection into OUT
"""
import socket
import struct
import sys
import time

PORT = 5515
ALPHABET = "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
REVERSE = {c: i for i, c in enumerate(ALPHABET)}
KINDS = ["VAL", "LOG", "UHD", "PRO", "SYS", "STP", "UPC", "ICO", "ADO", "DEL", "CFG", "T01", "T02", "T03"]
RECORD_SIZE = {"VAL": 4528, "UHD": 2828, "UPC": 2828, "CFG": 2828, "T01": 2828, "T02": 2828, "T03": 2828}

# AgentSettings fields the tests change: offset, struct format or ("text16", units).
FIELDS = {
    "http_port": (1456, "<H"),
    "https_port": (1458, "<H"),
    "web_protocols": (1460, "<B"),
    "language": (1888, "<B"),
    "shutdown_type": (1, "<B"),
    "notify_enable": (936, "<B"),
    "location": (2346, ("text16", 65)),
    "description": (1956, ("text16", 129)),
    "vm_server": (32, ("text16", 129)),
    "vm_password": (356, ("text16", 33)),
    "account_password0": (1662, ("text16", 33)),
}
# The password fields a watching (non-administrator) client must get zeroed.
SECRETS = [(356, 66), (1662, 198)]
# What else it must get zeroed: web account names, VMware server and account, vCLI folder, command file.
PRIVATE = [(1464, 198), (32, 258), (290, 66), (424, 512), (944, 512)]


def encode(data):
    data = bytes(data) + b"\0" * (-len(data) % 3)
    out = []
    for i in range(0, len(data), 3):
        v = data[i] | data[i + 1] << 8 | data[i + 2] << 16
        out.extend(ALPHABET[(v >> (6 * k)) & 63] for k in range(4))
    return "".join(out).encode()


def decode(text):
    if len(text) % 4:
        raise ValueError("crypt64 length")
    out = bytearray()
    for i in range(0, len(text), 4):
        idx = [REVERSE[chr(c)] for c in text[i:i + 4]]
        out.append((idx[0] + 64 * (idx[1] & 3)) & 255)
        out.append(((idx[1] >> 2) + 16 * (idx[2] & 15)) & 255)
        out.append(((idx[2] >> 4) + 4 * idx[3]) & 255)
    return bytes(out)


def frame(kind, code=0, body=b""):
    text = encode(body) if body else b""
    return b"OrvikSNMP:%s%02d,00,%05d " % (kind.encode(), code, len(text)) + text


def connect():
    s = socket.create_connection(("127.0.0.1", PORT), timeout=5)
    s.settimeout(0.2)
    return s


def frames(sock, seconds):
    """Yields (kind, code, body text, decoded bytes) until the peer closes or time runs out; yields
    None once when the peer has closed."""
    buf = b""
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        try:
            chunk = sock.recv(65536)
        except socket.timeout:
            continue
        except ConnectionError:
            chunk = b""
        if not chunk:
            yield None
            return
        buf += chunk
        while len(buf) >= 25:
            if buf[:10] != b"OrvikSNMP:" or buf[24:25] != b" ":
                raise ValueError("bad header from the service: %r" % buf[:25])
            kind = buf[10:13].decode()
            code = int(buf[13:15])
            length = int(buf[19:24])
            if len(buf) < 25 + length:
                break
            text = buf[25:25 + length]
            buf = buf[25 + length:]
            yield kind, code, text, decode(text) if length else b""


def describe(kind, code, text, data):
    size = RECORD_SIZE.get(kind)
    record = data[:size] if size else data
    if size and (len(data) - size > 2 or any(data[size:])):
        raise ValueError("%s body of %d bytes" % (kind, len(data)))
    detail = ""
    if kind == "VAL":
        detail = "tray_state=%d cancelled=%d" % (record[256], record[257])
    elif kind == "CFG":
        secrets = int(any(any(record[o:o + n]) for o, n in SECRETS))
        private = int(any(any(record[o:o + n]) for o, n in PRIVATE))
        detail = "stop=%d http_port=%d language=%d secrets=%d private=%d" % (
            record[0], struct.unpack_from("<H", record, 1456)[0], record[1888], secrets, private)
    elif kind in ("LOG", "DEL"):
        detail = data.split(b"\0", 1)[0].decode("utf-8", "replace")
    return "%.3f %s %02d %d %d %s" % (time.time(), kind, code, len(text), len(record), detail)


def cmd_watch(out, seconds=3600):
    sock = connect()
    with open(out, "a") as f:
        for item in frames(sock, float(seconds)):
            f.write("CLOSED\n" if item is None else describe(*item) + "\n")
            f.flush()
    return 0


def stays_open(sock, hold):
    for item in frames(sock, hold):
        if item is None:
            return False
    return True


def cmd_send(kind, code, hold=1):
    sock = connect()
    sock.sendall(frame(kind, int(code)))
    return 0 if stays_open(sock, float(hold)) else 3


def wait_settings(sock):
    for item in frames(sock, 12):
        if item is None:
            raise SystemExit("service closed the link before a CFG frame")
        kind, _, _, data = item
        if kind == "CFG":
            return bytearray(data[:2828])
    raise SystemExit("no CFG frame within 12 s")


def set_field(rec, name, value):
    offset, fmt = FIELDS[name]
    if isinstance(fmt, tuple):
        units = fmt[1]
        raw = value.encode("utf-16-le")[: 2 * (units - 1)]
        rec[offset:offset + 2 * units] = raw + b"\0" * (2 * units - len(raw))
    else:
        struct.pack_into(fmt, rec, offset, int(value))


def cmd_upc(*assignments):
    sock = connect()
    rec = wait_settings(sock)
    for a in assignments:
        name, value = a.split("=", 1)
        set_field(rec, name, value)
    sock.sendall(frame("UPC", 0, rec))
    return 0 if stays_open(sock, 1.0) else 3


def bad_frame(case, sock):
    good = frame("UPC", 0, bytearray(2828))
    cases = {
        "kind_xyz": b"OrvikSNMP:XYZ00,00,00000 " + frame("STP", 1),
        "prefix": b"OrvikSNMQ:STP01,00,00000 ",
        "length_not_digits": b"OrvikSNMP:LOG00,00,00x04 V7qM",
        "length_oversize": b"OrvikSNMP:LOG00,00,30000 ",
        "upc_wrong_size": b"OrvikSNMP:UPC00,00,03768 " + good[25:25 + 3768],
        "not_crypt64": b"OrvikSNMP:LOG00,00,00004 V!qM",
        "middle_field": b"OrvikSNMP:STP01,07,00000 ",
        "junk": bytes((i * 131 + 17) & 255 for i in range(30 * 1024)),
    }
    if case in cases:
        return cases[case]
    # Well-formed UPC frames whose settings must be refused: built from the service's own.
    rec = wait_settings(sock)
    if case == "upc_language_9":
        rec[1888] = 9
    elif case == "upc_unterminated":
        rec[32:32 + 258] = "a".encode("utf-16-le") * 129
    elif case == "upc_line_break":
        set_field(rec, "description", "a\r\nType=3")
    else:
        raise SystemExit("unknown case " + case)
    rec[1456:1458] = struct.pack("<H", 8181)
    return frame("UPC", 0, rec)


def cmd_bad(case, hold=3):
    sock = connect()
    try:
        sock.sendall(bad_frame(case, sock))
    except ConnectionError:
        return 0
    return 3 if stays_open(sock, float(hold)) else 0


def cmd_connect(host):
    try:
        socket.create_connection((host, PORT), timeout=3).close()
    except ConnectionRefusedError:
        return 0
    return 1


def cmd_hold(count, seconds, out):
    start = time.monotonic()
    socks = []
    for _ in range(int(count)):
        s = socket.create_connection(("127.0.0.1", PORT), timeout=5)
        s.setblocking(False)
        socks.append(s)
        time.sleep(0.05)
    closed = [None] * len(socks)
    end = start + float(seconds)
    while time.monotonic() < end:
        for i, s in enumerate(socks):
            if closed[i] is not None:
                continue
            try:
                while s.recv(65536):
                    pass
                closed[i] = time.monotonic() - start
            except BlockingIOError:
                pass
            except ConnectionError:
                closed[i] = time.monotonic() - start
        time.sleep(0.05)
    with open(out, "w") as f:
        for i, c in enumerate(closed):
            f.write("%d open\n" % i if c is None else "%d closed %.1f\n" % (i, c))
    return 0


def main(argv):
    commands = {"watch": cmd_watch, "send": cmd_send, "upc": cmd_upc, "bad": cmd_bad, "connect": cmd_connect,
                "hold": cmd_hold}
    if len(argv) < 2 or argv[1] not in commands:
        print(__doc__, file=sys.stderr)
        return 2
    return commands[argv[1]](*argv[2:])


if __name__ == "__main__":
    sys.exit(main(sys.argv))
