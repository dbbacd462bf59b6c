#!/usr/bin/env python3
"""Turns a Linux PCI tree (/sys/bus/pci/devices) into the PCI lines of a standard-equipment
fixture: one line per function, as the configuration manager would show it.

    pci_fixture.py [SYSFS_DIR]     (default /sys/bus/pci/devices)

Each line, tab-separated: "pci", the instance ID, bus, device, function (decimal), the name, and
the hardware IDs separated by ";" (most specific first, as Windows lists them).
"""
import os
import sys


def read_hex(folder, name):
    try:
        with open(os.path.join(folder, name)) as f:
            return int(f.read().strip(), 16)
    except (OSError, ValueError):
        return None


def lines(root):
    out = []
    for entry in sorted(os.listdir(root)):
        # domain:bus:device.function
        try:
            domain, bus, rest = entry.split(":")
            device, function = rest.split(".")
            bus, device, function = int(bus, 16), int(device, 16), int(function, 16)
        except ValueError:
            continue
        if int(domain, 16) != 0:
            continue
        folder = os.path.join(root, entry)
        vendor, dev = read_hex(folder, "vendor"), read_hex(folder, "device")
        if vendor is None or dev is None:
            continue
        sub_vendor = read_hex(folder, "subsystem_vendor") or 0
        sub_device = read_hex(folder, "subsystem_device") or 0
        klass = read_hex(folder, "class") or 0
        revision = read_hex(folder, "revision") or 0
        base = f"PCI\\VEN_{vendor:04X}&DEV_{dev:04X}"
        subsys = f"{base}&SUBSYS_{sub_device:04X}{sub_vendor:04X}"
        ids = [f"{subsys}&REV_{revision:02X}", subsys, f"{base}&CC_{klass:06X}", f"{base}&CC_{klass >> 8:04X}"]
        instance = f"{subsys}&REV_{revision:02X}\\3&11583659&{bus:02X}&{device << 3 | function:02X}"
        name = f"PCI device {vendor:04x}:{dev:04x}"
        out.append("\t".join(["pci", instance, str(bus), str(device), str(function), name, ";".join(ids)]))
    return out


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else "/sys/bus/pci/devices"
    if not os.path.isdir(root):
        return 0
    for line in lines(root):
        print(line)
    return 0


if __name__ == "__main__":
    sys.exit(main())
