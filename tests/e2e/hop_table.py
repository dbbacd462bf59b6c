#!/usr/bin/env python3
"""Turns the hop traces of a walk into a per-hop table.

   hop_table.py TRACE_FILE...   (the <base>.<pid> files of every traced process)

Each file holds "frequency F" and "name ticks" lines; the ticks of all processes come from one
clock. A walk is strictly one request at a time, so the merged, time-ordered marks fall into
steps: the bridge takes the master's PDU (sim.bridge.in), writes it into the channel's pipe
(sim.written), the receive thread has read it (ax.received) and queued it (ax.push), the "AgentX"
thread took it (ax.pop) and sends the answer (ax.send), the simulator read it (sim.read) and the
bridge gave it to the master (sim.bridge.out); then snmpd, the client and the kernel until the next
sim.bridge.in. Prints the median of every hop in microseconds, as a table.
"""
import statistics
import sys

CHAIN = ["sim.bridge.in", "sim.written", "ax.received", "ax.push", "ax.pop", "ax.send", "sim.read", "sim.bridge.out"]
HOPS = [
    ("simulator: bridge PDU into the channel's pipe", "sim.bridge.in", "sim.written", "sim"),
    ("pipe to the service and its receive thread's read", "sim.written", "ax.received", "wine"),
    ("transport: route and queue", "ax.received", "ax.push", "product"),
    ("hand-off to the \"AgentX\" thread", "ax.push", "ax.pop", "product"),
    ("session: decode, store, encode", "ax.pop", "ax.send", "product"),
    ("device write and pipe to the simulator", "ax.send", "sim.read", "wine"),
    ("simulator: channel packet to the master", "sim.read", "sim.bridge.out", "sim"),
]
OUTSIDE = "snmpd, snmpwalk and the kernel (to the next PDU)"
# A gap longer than this between one answer and the next PDU is the pause between two walks.
MAX_OUTSIDE_US = 20000


def load(paths):
    marks = []
    for path in paths:
        frequency = 10_000_000
        with open(path) as f:
            for line in f:
                name, _, value = line.strip().partition(" ")
                if not value:
                    continue
                if name == "frequency":
                    frequency = int(value)
                else:
                    marks.append((int(value) * 1e6 / frequency, name))
    marks.sort()
    return marks


def steps(marks):
    current = None
    for at, name in marks:
        if name == CHAIN[0]:
            current = {name: at}
        elif current is not None and len(current) < len(CHAIN) and name == CHAIN[len(current)]:
            current[name] = at
            if len(current) == len(CHAIN):
                yield current
                current = None


def main(paths):
    found = list(steps(load(paths)))
    if not found:
        print("no complete walk step in the traces")
        return 1
    rows = []
    for label, start, end, owner in HOPS:
        rows.append((label, owner, statistics.median(s[end] - s[start] for s in found)))
    gaps = [b["sim.bridge.in"] - a["sim.bridge.out"] for a, b in zip(found, found[1:])]
    gaps = [g for g in gaps if 0 <= g < MAX_OUTSIDE_US]
    if gaps:
        rows.append((OUTSIDE, "outside", statistics.median(gaps)))
    print(f"per-hop medians over {len(found)} walk steps (us)")
    for label, owner, value in rows:
        print(f"  {label:<52} {owner:<8} {value:8.1f}")
    for owner in ("product", "sim", "wine", "outside"):
        print(f"  {'sum ' + owner:<52} {'':<8} {sum(v for _, o, v in rows if o == owner):8.1f}")
    print(f"  {'sum of the medians':<52} {'':<8} {sum(v for _, _, v in rows):8.1f}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
