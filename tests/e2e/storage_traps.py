#!/usr/bin/env python3
"""snmptrapd's log (-Lf, -On) on stdin as the storage end-to-end golden holds it: one varbind a
line, a blank line after each trap. What differs from run to run goes: the header line (time stamp
and addresses), sysUpTime's value, and the value of sysName, which is this machine's name. So do
the traps that snmpd sends of its own (its coldStart, carrying its own enterprise): whether
snmptrapd hears them is snmpd's business, not the product's."""
import re
import sys

HEADER = re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d ")
VARBIND = re.compile(r"^(\.[0-9.]+) = (.*)$")
UPTIME = ".1.3.6.1.2.1.1.3.0"
SYSNAME = ".1.3.6.1.2.1.1.5.0"
TRAP_ENTERPRISE = ".1.3.6.1.6.3.1.1.4.3.0"
SNMPD_OWN = "OID: .1.3.6.1.4.1.8072."


def from_snmpd(trap):
    return any(line.startswith(TRAP_ENTERPRISE + " = " + SNMPD_OWN) for line in trap)


def main():
    traps, current = [], None
    for line in sys.stdin.read().splitlines():
        if HEADER.match(line):
            if current is not None:
                traps.append(current)
            current = []
            # A header may carry the first varbinds after its colon.
            line = line.split("]:", 1)[1] if "]:" in line else ""
        if current is None:
            continue
        for part in line.split("\t"):
            match = VARBIND.match(part.strip())
            if not match:
                continue
            name, value = match.groups()
            if name == UPTIME:
                value = "Timeticks: <uptime>"
            elif name == SYSNAME:
                value = 'STRING: "<host>"'
            current.append("%s = %s" % (name, value))
    if current is not None:
        traps.append(current)
    for trap in traps:
        if from_snmpd(trap):
            continue
        print("\n".join(trap))
        print()


if __name__ == "__main__":
    main()
