#!/usr/bin/env python3
"""SNMPv1 load for the agent benchmark (bench/agent_cpu_vs_snmpd.sh).

  gets PORT COUNT COMMUNITY OID     COUNT GetRequests one after the other from one socket, each
                                    sent when the answer to the previous one came (2 s time-out);
                                    prints "answered seconds"
  hex COMMUNITY OID                 prints the hex of one GetRequest datagram
"""
import socket
import sys
import time


def length(n):
    if n < 0x80:
        return bytes([n])
    b = n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([0x80 | len(b)]) + b


def tlv(tag, content):
    return bytes([tag]) + length(len(content)) + content


def integer(v):
    return tlv(0x02, v.to_bytes(max(1, (v.bit_length() + 8) // 8), "big", signed=True))


def oid(text):
    ids = [int(x) for x in text.strip(".").split(".")]
    out = bytes([40 * ids[0] + ids[1]])
    for i in ids[2:]:
        part = [i & 0x7F]
        i >>= 7
        while i:
            part.append(0x80 | (i & 0x7F))
            i >>= 7
        out += bytes(reversed(part))
    return tlv(0x06, out)


def get_request(community, name, request_id):
    varbind = tlv(0x30, oid(name) + b"\x05\x00")
    pdu = tlv(0xA0, integer(request_id) + integer(0) + integer(0) + tlv(0x30, varbind))
    return tlv(0x30, integer(0) + tlv(0x04, community.encode()) + pdu)


def cmd_gets(port, count, community, name):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.settimeout(2)
    answered = 0
    start = time.monotonic()
    for i in range(int(count)):
        s.sendto(get_request(community, name, 1000 + i), ("127.0.0.1", int(port)))
        try:
            s.recv(65536)
            answered += 1
        except socket.timeout:
            pass
    print("%d %.6f" % (answered, time.monotonic() - start))


def cmd_hex(community, name):
    print(get_request(community, name, 77).hex())


if __name__ == "__main__":
    sys.exit({"gets": cmd_gets, "hex": cmd_hex}[sys.argv[1]](*sys.argv[2:]))
