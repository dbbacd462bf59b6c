#!/usr/bin/env python3
# The entries of the hardware events end-to-end test and the checks of what became of them.
#   events_e2e.py entries ENTRIES_FILE      writes the entries, prints the oxbsim directives
#   events_e2e.py check ENTRIES_FILE EVENTS_FILE ACP
#   events_e2e.py count EVENTS_FILE         prints how many hardware events were written
#   events_e2e.py first EVENTS_FILE         prints id and strings of the first hardware event
# The event file also holds the service's own events (started, stopped, ...): those are set aside
# here, and check requires the "started" one, so that the file is known to be the service's.
import json
import struct
import sys

SOURCE = 'NDX Velmarine Management Service'

# number, severity, class, code, class data, the decoded text (None: cannot be decoded).
ENTRIES = [
    (5, 9, 2, 1, bytes([1, 0, 0, 3, 4, 65, 0]),
     b'System Overheating (Temperature Sensor 3, Location Memory, Temperature 65C)'),
    (6, 15, 3, 2, bytes([0, 255]) + b'S\0', b'Uncorrectable Memory Error (System Memory, Serial Number S)'),
    (7, 2, 11, 22, b'', b'Server Powered On'),
    (8, 6, 34, 2, bytes([4, 0, 0, 7]) + b'ABC123\0',
     b'Server Blade Enclosure Blade Manual Power On (Enclosure Serial Number ABC123, Slot 7)'),
    (9, 3, 39, 3, bytes([0xE8, 0x03]), b'Power Cap Cannot Be Reached With Current System Configuration (Power Cap 1000W)'),
    (10, 9, 12, 5, bytes([1, 2, 3]), None),
    # A machine check: every 64-bit value printed high half first.
    (11, 15, 5, 6, bytes([2, 3]) + struct.pack('<8I', 0x11223344, 0x55667788, 0x0A0B0C0D, 0x01020304, 0xA1A2A3A4,
                                                0xB1B2B3B4, 0xC1C2C3C4, 0xD1D2D3D4) + bytes([7]),
     b"Uncorrectable Machine Check Exception (Proc 7 (Lower Tray, Processor 3), APIC ID 0x11223344, "
     b"Bank 0x55667788, Status 0x01020304'0A0B0C0D, Address 0xB1B2B3B4'A1A2A3A4, Misc 0xD1D2D3D4'C1C2C3C4)"),
    (12, 9, 19, 17, bytes([2, 6, 0]) + b'1I' + bytes([1, 2, 1, 3, 4, 2]) + b'Rack 2\0Embedded\0',
     b'External Storage Enclosure PHY Link Error (Detected By SATA Device, Box 1, Bay 2, '
     b'Attached To SAS Device, Box 3, Bay 4, Port 1I, Chassis Rack 2, Embedded)'),
    (13, 9, 37, 7, bytes([0x8A, 2, 3, 3]),
     b'QPI Link training failure between Proc 3 (Upper Tray, Processor 3) and Proc 4 (Upper Tray, Processor 4 '
     b'reported by upper VYR board service processor, link status 0x03'),
    (14, 15, 42, 2, bytes([1, 3, 5, 2]) + b'ABCDEFGHIJ\0',
     b'NVDIMM Error - Restore Error (Processor 3, Memory Module 5, Retry count 2, Serial Number ABCDEFGH). '
     b'Persistent data restore failed and data is not available. Action: Replace the NVDIMM.'),
    # A name with a byte from 0x80, converted with the ANSI code page; the event number 2^32-1.
    (0xFFFFFFFF, 9, 2, 3, bytes([1, 4, 0, 0, 0]) + b'Caf\xe9\0',
     b'External Chassis side panel removed or improperly installed (Chassis Caf\xe9)'),
]


def event_id(cls, severity):
    if not (2 <= cls <= 14 or 17 <= cls <= 20 or 32 <= cls <= 34 or 36 <= cls <= 42):
        return 0
    base = {2: 0x41010000, 3: 0x41010000, 6: 0x41010000, 9: 0x81010000, 15: 0xC1010000}.get(severity)
    return 0 if base is None else base + cls * 256 + severity


def event_type(eid):
    return [0, 4, 2, 1][eid >> 30]


def entry_bytes(number, severity, cls, code, data):
    header = struct.pack('<HIBBHH16s', 28 + len(data), number, 0, severity, cls, code, b'\0' * 16)
    return header + data


def unescape(field):
    out, i = [], 0
    while i < len(field):
        if field[i] == '\\' and i + 1 < len(field):
            out.append({'t': '\t', 'n': '\n', 'r': '\r', '\\': '\\'}[field[i + 1]])
            i += 2
        else:
            out.append(field[i])
            i += 1
    return ''.join(out)


# The service's own events: facility 0x101, values 100 to 112, written in category 0.
SERVICE_STARTED = 0x41010064


def is_service_event(event):
    eid, _, category, _, _ = event
    return category == 0 and (eid >> 16) & 0xFFF == 0x101 and 100 <= eid & 0xFFFF <= 112


def parse_events(path):
    events = []
    with open(path, encoding='utf-8') as f:
        for line in f:
            fields = line.rstrip('\n').split('\t')
            events.append((int(fields[0], 16), int(fields[1]), int(fields[2]), unescape(fields[3]),
                           [unescape(s) for s in fields[4:]]))
    return events


def hardware_events(path):
    return [event for event in parse_events(path) if not is_service_event(event)]


def main():
    what = sys.argv[1]
    if what == 'entries':
        with open(sys.argv[2], 'w') as f:
            for number, severity, cls, code, data, text in ENTRIES:
                f.write(json.dumps([number, severity, cls, code, data.hex(), text and text.hex()]) + '\n')
                print(f'agentx on passthru 1: kdl {entry_bytes(number, severity, cls, code, data).hex().upper()}')
        return 0
    if what == 'count':
        print(len(hardware_events(sys.argv[2])))
        return 0
    if what == 'first':
        eid, _, _, _, strings = hardware_events(sys.argv[2])[0]
        print(f'0x{eid:08X}', *strings)
        return 0
    entries = [json.loads(line) for line in open(sys.argv[2])]
    written = parse_events(sys.argv[3])
    events = [event for event in written if not is_service_event(event)]
    codepage = f'cp{sys.argv[4]}'
    ok = len(events) == len(entries)
    if not ok:
        print(f'{len(events)} events for {len(entries)} entries', file=sys.stderr)
    if not any(event[0] == SERVICE_STARTED for event in written):
        print(f'no event 0x{SERVICE_STARTED:08X}: not the service\'s event file', file=sys.stderr)
        ok = False
    for (number, severity, cls, code, _, text), event in zip(entries, events):
        eid = event_id(cls, severity) if text else 0
        signed = number - (1 << 32) if number >= 1 << 31 else number
        strings = [str(signed), str(cls), str(code), bytes.fromhex(text).decode(codepage, 'replace')] if text else []
        want = (eid, event_type(eid), 6, SOURCE, strings)
        if event != want:
            print(f'entry {number}: got {event!r}\n  want {want!r}', file=sys.stderr)
            ok = False
    return 0 if ok else 1


sys.exit(main())
