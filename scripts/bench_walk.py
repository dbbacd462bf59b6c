#!/usr/bin/env python3
"""A walk that times every step: SNMPv2c GetNext requests over UDP, one at a time, each step's
latency as the client sees it (send to answer). For `make bench` (scripts/bench.sh).

    bench_walk.py PORT SUBTREE OUT [--start OID] [--steps N] [--until FILE] [--min-steps N]

Walks SUBTREE on udp 127.0.0.1:PORT (community public) from --start (default SUBTREE itself),
starting again at SUBTREE when it leaves the subtree, and ends after --steps steps, or, with
--until, once FILE exists (and at least --min-steps steps are done). OUT receives a line per step:
"<unix time of the request, s> <latency, us>". Prints the step count.
"""
import argparse
import os
import random
import socket
import sys
import time


def ber_length(n):
    if n < 0x80:
        return bytes([n])
    body = n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([0x80 | len(body)]) + body


def tlv(tag, body):
    return bytes([tag]) + ber_length(len(body)) + body


def ber_int(v):
    return tlv(0x02, v.to_bytes(max(1, (v.bit_length() + 8) // 8), "big", signed=True))


def ber_oid(oid):
    arcs = [int(a) for a in oid.strip(".").split(".")]
    body = bytearray([40 * arcs[0] + arcs[1]])
    for a in arcs[2:]:
        chunk = [a & 0x7F]
        a >>= 7
        while a:
            chunk.append(0x80 | (a & 0x7F))
            a >>= 7
        body += bytes(reversed(chunk))
    return tlv(0x06, bytes(body))


def read_tlv(data, at):
    tag = data[at]
    n = data[at + 1]
    at += 2
    if n & 0x80:
        size = n & 0x7F
        n = int.from_bytes(data[at:at + size], "big")
        at += size
    return tag, at, at + n


def oid_text(body):
    arcs = [body[0] // 40, body[0] % 40]
    v = 0
    for b in body[1:]:
        v = v << 7 | (b & 0x7F)
        if not b & 0x80:
            arcs.append(v)
            v = 0
    return "." + ".".join(str(a) for a in arcs)


def get_next_request(request_id, oid):
    varbind = tlv(0x30, ber_oid(oid) + b"\x05\x00")
    pdu = tlv(0xA1, ber_int(request_id) + ber_int(0) + ber_int(0) + tlv(0x30, varbind))
    return tlv(0x30, ber_int(1) + tlv(0x04, b"public") + pdu)


def parse_response(data):
    """(request id, error status, next oid, value tag) of a Response-PDU."""
    _, at, _ = read_tlv(data, 0)            # message
    _, at, end = read_tlv(data, at)         # version
    _, at, end = read_tlv(data, end)        # community
    tag, at, _ = read_tlv(data, end)        # PDU
    _, at, end = read_tlv(data, at)
    request_id = int.from_bytes(data[at:end], "big", signed=True)
    _, at, end = read_tlv(data, end)
    status = int.from_bytes(data[at:end], "big")
    _, at, end = read_tlv(data, end)        # error index
    _, at, _ = read_tlv(data, end)          # varbind list
    _, at, _ = read_tlv(data, at)           # varbind
    _, at, end = read_tlv(data, at)         # name
    oid = oid_text(data[at:end])
    value_tag = data[end]
    return request_id, status, oid, value_tag


def main():
    p = argparse.ArgumentParser()
    p.add_argument("port", type=int)
    p.add_argument("subtree")
    p.add_argument("out")
    p.add_argument("--start")
    p.add_argument("--steps", type=int, default=0)
    p.add_argument("--until")
    p.add_argument("--min-steps", type=int, default=0)
    a = p.parse_args()
    subtree = "." + a.subtree.strip(".")
    oid = "." + (a.start or a.subtree).strip(".")
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.connect(("127.0.0.1", a.port))
    s.settimeout(10)
    request_id = random.randrange(1, 1 << 30)
    steps = 0
    lines = []
    while True:
        if a.steps and steps >= a.steps:
            break
        if a.until and steps >= a.min_steps and steps % 16 == 0 and os.path.exists(a.until):
            break
        request_id = request_id % (1 << 30) + 1
        packet = get_next_request(request_id, oid)
        began = time.time()
        t0 = time.perf_counter()
        for attempt in range(2):
            s.send(packet)
            try:
                while True:
                    got = parse_response(s.recv(65535))
                    if got[0] == request_id:
                        break
                break
            except socket.timeout:
                if attempt == 1:
                    sys.exit("bench_walk: no answer for %s" % oid)
        latency = (time.perf_counter() - t0) * 1e6
        _, status, next_oid, value_tag = got
        if status != 0:
            sys.exit("bench_walk: error status %d after %s" % (status, oid))
        lines.append("%.6f %.1f\n" % (began, latency))
        steps += 1
        if value_tag == 0x82 or not next_oid.startswith(subtree + "."):
            oid = subtree        # past the subtree: from its start again
        else:
            oid = next_oid
    with open(a.out, "w") as f:
        f.writelines(lines)
    print(steps)


if __name__ == "__main__":
    main()
