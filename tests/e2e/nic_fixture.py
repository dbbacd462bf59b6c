#!/usr/bin/env python3
"""The NIC library's records for the NIC end-to-end test, as a .reg file, and the rows the
service must serve from them (snmpwalk -On lines).

    nic_fixture.py MAC REGFILE GOLDENFILE

MAC is the address of the host's Ethernet port (aa:bb:cc:dd:ee:ff): the records name that port,
so that the trap record belongs to one of the collector's adapters.
"""
import struct
import sys

mac = bytes(int(x, 16) for x in sys.argv[1].split(":"))
regfile, goldenfile = sys.argv[2], sys.argv[3]
E = ".1.3.6.1.4.1.32473"


def text(buf, offset, size, value):
    data = value.encode("latin-1")[: size - 1]
    buf[offset:offset + len(data)] = data


def phys(index, name, condition, speed, part, firmware, location, slot, port, port_mac):
    r = bytearray(972)
    struct.pack_into("<II", r, 0, index, 0)
    r[9:15] = port_mac
    struct.pack_into("<i", r, 15, slot)
    r[35], r[36], r[37], r[38], r[39], r[40] = port, 3, condition, 2, 2 if condition == 2 else 5, 1
    struct.pack_into("<15I", r, 41, *range(5000, 5015))
    text(r, 357, 33, part)
    struct.pack_into("<I", r, 390, speed)
    text(r, 410, 257, name)
    text(r, 671, 33, firmware)
    text(r, 708, 256, location)
    return r


def logical(index, description, connection, kind, ifindexes, members, lmac, speed, vlans, ipv6):
    r = bytearray(1403)
    struct.pack_into("<Ii", r, 0, index, len(ifindexes))
    struct.pack_into("<%di" % len(ifindexes), r, 8, *ifindexes)
    text(r, 264, 256, description)
    r[520], r[521], r[522] = kind, len(members), len(members)
    r[523:523 + len(members)] = bytes(members)
    r[539:545] = lmac
    r[545], r[546], r[547] = 1, 2, 2
    struct.pack_into("<I", r, 553, speed)
    r[561] = len(vlans)
    r[562:562 + len(vlans)] = bytes(vlans)
    text(r, 634, 256, ipv6)
    text(r, 890, 256, connection)
    r[1146] = 1
    return r


def vlan(index, parent, ifindex, vlan_id, name, ipv6, connection):
    r = bytearray(1040)
    struct.pack_into("<4i", r, 0, index, parent, ifindex, vlan_id)
    text(r, 16, 512, name)
    text(r, 528, 256, ipv6)
    text(r, 784, 256, connection)
    return r


def trap(mac_address):
    r = bytearray(604)
    struct.pack_into("<5i", r, 0, 11, 4, 1, 1, 2)
    r[20] = 1
    r[32] = 4
    text(r, 33, 257, "QZ Port 1")
    text(r, 290, 32, "PN-0001")
    r[322:326] = bytes([10, 0, 0, 5])
    text(r, 326, 256, "fe80::5")
    struct.pack_into("<3i", r, 582, 5, 0, 0)
    r[594:600] = mac_address
    struct.pack_into("<i", r, 600, 1)
    return r


other_mac = bytes([0x0a, 0, 0, 0, 0, 0x33])
keys = {
    r"SYSTEM\QZTLMNetwork\Interface\PhysInterface": [
        ("PhysAdapter000", phys(1, "QZ Port 1", 2, 1000, "PN-0001", "1.2.3", "0000:05:00.0", 2, 1, mac)),
        ("PhysAdapter001", phys(2, "DSC Management 1", 2, 1000, "N/A", "N/A", "", 0, 1, bytes(6))),
        ("PhysAdapter002", phys(3, "QZ Port 2", 4, 10000, "PN-0002", "2.0", "0000:05:00.1", 2, 2, other_mac)),
    ],
    r"SYSTEM\QZTLMNetwork\Interface\LogInterfaceMap": [
        ("InterfaceMap000", logical(1, "QZ Network Team #1", "Team 1", 3, [11, 12, 13], [1, 3], mac, 2000, [1],
                                    "fe80::10")),
    ],
    r"SYSTEM\QZTLMNetwork\Interface\VlanInterface": [
        ("VlanMap000", vlan(1, 9, 14, 100, "VLAN 100", "fe80::64", "team 1")),
    ],
    r"SYSTEM\QZTLMNetwork\Trap_ConnectivityLost": [
        ("TrapData01DC000000000001", trap(mac)),
    ],
}

with open(regfile, "w", newline="\r\n") as f:
    f.write("Windows Registry Editor Version 5.00\n\n")
    f.write("[HKEY_LOCAL_MACHINE\\SYSTEM\\QZTLMNetwork\\Interface]\n\"InterfaceData_Ready\"=dword:00000001\n\n")
    for key, values in keys.items():
        f.write("[HKEY_LOCAL_MACHINE\\%s]\n" % key)
        for name, data in values:
            f.write('"%s"=hex:%s\n' % (name, ",".join("%02x" % b for b in data)))
        f.write("\n")

P, L, V = E + ".18.2.3.1.1", E + ".18.2.2.1.1", E + ".18.2.4.1.1"
golden = [
    f'{P}.1.1 = INTEGER: 1', f'{P}.1.2 = INTEGER: 2',
    f'{P}.3.1 = INTEGER: 0',
    f'{P}.4.1 = Hex-STRING: ' + " ".join("%02X" % b for b in mac),
    f'{P}.5.1 = INTEGER: 2', f'{P}.10.2 = INTEGER: 2', f'{P}.12.1 = INTEGER: 2', f'{P}.12.2 = INTEGER: 4',
    f'{P}.16.1 = Counter32: 5000', f'{P}.30.1 = Counter32: 5014',
    f'{P}.32.1 = STRING: "PN-0001"', f'{P}.33.1 = Gauge32: 1000000000', f'{P}.33.2 = Gauge32: 0',
    f'{P}.36.2 = Gauge32: 10000', f'{P}.39.1 = STRING: "QZ Port 1"', f'{P}.39.2 = STRING: "QZ Port 2"',
    f'{P}.40.1 = INTEGER: -1', f'{P}.41.1 = STRING: "1.2.3"', f'{P}.43.2 = STRING: "0000:05:00.1"',
    f'{L}.1.1 = INTEGER: 1',
    f'{L}.2.1 = Hex-STRING: 0B 00 00 00 0C 00 00 00 0D 00 00 00',
    f'{L}.3.1 = STRING: "QZ Network Team #1"', f'{L}.4.1 = INTEGER: 3', f'{L}.5.1 = INTEGER: 2',
    f'{L}.7.1 = Hex-STRING: 01 02', f'{L}.14.1 = Gauge32: 2000000000', f'{L}.15.1 = INTEGER: 1',
    f'{L}.19.1 = Gauge32: 2000', f'{L}.20.1 = STRING: "fe80::10"', f'{L}.21.1 = STRING: "Team 1"',
    f'{V}.1.1 = INTEGER: 1', f'{V}.2.1 = INTEGER: 1', f'{V}.3.1 = INTEGER: 14', f'{V}.4.1 = INTEGER: 100',
    f'{V}.5.1 = STRING: "VLAN 100"', f'{V}.6.1 = STRING: "fe80::64"', f'{V}.7.1 = STRING: "team 1"',
]
with open(goldenfile, "w") as f:
    f.write("\n".join(golden) + "\n")
