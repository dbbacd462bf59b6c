#!/usr/bin/env python3
"""Compares the MIB-2 interfaces and ip groups the service served with a reference agent's.

  mib2_compare.py OURS BEFORE AFTER

Each file is an snmpwalk -On output of 1.3.6.1.2.1.2 and 1.3.6.1.2.1.4 (the same client options
for all three): OURS through the AgentX master whose own modules serve nothing there, BEFORE and
AFTER from the reference agent read before the service's first collection and after OURS was
walked. Values that both read from the same kernel tables must be equal; counters must lie between
the two reference reads. What is not compared, and why, is listed at EXCLUDED.
"""
import re
import sys

IF = '.1.3.6.1.2.1.2.2.1.'
IP = '.1.3.6.1.2.1.4.'
ADDR = IP + '20.1.'
ROUTE = IP + '21.1.'

EXCLUDED = """\
ifSpeed, ifLastChange, ifAdminStatus: the IP Helper of Wine gives 0, 0 and 1 for them
ifOperStatus of interfaces that are not up: an interface down since it was first seen is 4 (unknown) here
ipAdEntBcastAddr of the loopback address: always 1 here, 0 in the reference agent
ipAdEntReasmMaxSize: the reference agent has no value
ipRouteMetric1-5, ipRouteProto, ipRouteAge, ipRouteInfo: the two agents take them from different sources
ipRouteNextHop of a direct route: Windows names the interface's own address, Linux 0.0.0.0; it is
  checked to be an address of the route's interface instead
ipReasmTimeout: the reference agent has no value
ipAddressTable (.4.34): rows of this service's own shape, not those of the reference agent
ifOutQLen: a queue length that goes up and down, not a counter
"""

LINE = re.compile(r'^(\.[0-9.]+) = (?:([A-Za-z0-9-]+): ?)?(.*)$')


def read(path):
    values = {}
    for line in open(path, encoding='utf-8', errors='replace'):
        match = LINE.match(line.rstrip('\n'))
        if match:
            values[match.group(1)] = (match.group(2) or '', match.group(3))
    return values


def column(values, prefix, col):
    """index -> (type, value) of one column."""
    start = prefix + str(col) + '.'
    return {oid[len(start):]: v for oid, v in values.items() if oid.startswith(start)}


def number(value):
    text = value[1].split()[0] if value[1].split() else ''
    return int(text) if text.lstrip('-').isdigit() else None


failures = []


def check(what, ours, want):
    if ours != want:
        failures.append('%s: ours %r, reference %r' % (what, ours, want))


def between(what, ours, lo, hi):
    o, a, b = number(ours) if ours else None, number(lo) if lo else None, number(hi) if hi else None
    if o is None or a is None or b is None or not (a <= o <= b):
        failures.append('%s: ours %s, reference %s before and %s after' % (what, o, a, b))


def main():
    ours, before, after = (read(p) for p in sys.argv[1:4])
    if not any(oid.startswith(IF) for oid in ours):
        print('FAIL: the service served no interfaces table')
        return 1

    check('ifNumber', ours.get('.1.3.6.1.2.1.2.1.0'), after.get('.1.3.6.1.2.1.2.1.0'))
    our_ifs, ref_ifs = column(ours, IF, 1), column(after, IF, 1)
    check('ifIndex set', sorted(our_ifs, key=int), sorted(ref_ifs, key=int))
    ref_oper = column(after, IF, 8)
    for index in sorted(set(our_ifs) & set(ref_ifs), key=int):
        for col, name in ((2, 'ifDescr'), (3, 'ifType'), (4, 'ifMtu'), (6, 'ifPhysAddress')):
            check('%s.%s' % (name, index), ours.get(IF + '%d.%s' % (col, index)), after.get(IF + '%d.%s' % (col, index)))
        if ref_oper.get(index) and number(ref_oper[index]) == 1:
            check('ifOperStatus.%s' % index, ours.get(IF + '8.' + index), ref_oper[index])
        for col in range(10, 21):
            oid = IF + '%d.%s' % (col, index)
            between('ifTable column %d.%s' % (col, index), ours.get(oid), before.get(oid), after.get(oid))

    for scalar, name in ((1, 'ipForwarding'), (2, 'ipDefaultTTL')):
        oid = IP + '%d.0' % scalar
        check(name, ours.get(oid), after.get(oid))
    for scalar in list(range(3, 13)) + list(range(14, 20)):
        oid = IP + '%d.0' % scalar
        between('ip scalar %d' % scalar, ours.get(oid), before.get(oid), after.get(oid))

    our_addrs, ref_addrs = column(ours, ADDR, 1), column(after, ADDR, 1)
    check('ipAddrTable rows', sorted(our_addrs), sorted(ref_addrs))
    for index in sorted(set(our_addrs) & set(ref_addrs)):
        for col in (1, 2, 3):
            check('ipAddrTable %d.%s' % (col, index), ours.get(ADDR + '%d.%s' % (col, index)),
                  after.get(ADDR + '%d.%s' % (col, index)))
        if not index.startswith('127.'):
            check('ipAdEntBcastAddr.%s' % index, ours.get(ADDR + '4.' + index), after.get(ADDR + '4.' + index))

    our_routes, ref_routes = column(ours, ROUTE, 1), column(after, ROUTE, 1)
    check('ipRouteTable rows', sorted(our_routes), sorted(ref_routes))
    for index in sorted(set(our_routes) & set(ref_routes)):
        for col, name in ((1, 'ipRouteDest'), (2, 'ipRouteIfIndex'), (11, 'ipRouteMask'), (8, 'ipRouteType')):
            check('%s.%s' % (name, index), ours.get(ROUTE + '%d.%s' % (col, index)),
                  after.get(ROUTE + '%d.%s' % (col, index)))
        hop = ours.get(ROUTE + '7.' + index)
        if after.get(ROUTE + '8.' + index) == ('INTEGER', '3'):
            interface = ours.get(ROUTE + '2.' + index)
            own = [v for i, v in column(ours, ADDR, 1).items() if ours.get(ADDR + '2.' + i) == interface]
            if hop not in own:
                failures.append('ipRouteNextHop.%s of a direct route: %r, not an address of interface %r' %
                                (index, hop, interface))
        else:
            check('ipRouteNextHop.%s' % index, hop, after.get(ROUTE + '7.' + index))

    compared = len(our_ifs) + len(our_addrs) + len(our_routes)
    if failures:
        print('FAIL: %d differences' % len(failures))
        for failure in failures:
            print('  ' + failure)
        return 1
    print('compared %d interfaces, %d addresses, %d routes; not compared:\n%s' %
          (len(our_ifs), len(our_addrs), len(our_routes), EXCLUDED))
    return 0 if compared else 1


if __name__ == '__main__':
    sys.exit(main())
