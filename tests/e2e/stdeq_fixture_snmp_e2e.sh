#!/usr/bin/env bash
# The standard-equipment collector end to end over a fixture: this machine's PCI functions (from
# /sys/bus/pci/devices), an NVMe disk and the SD/USB kit, served through snmpd; fixtures changed
# between cycles bring the PCI, PCIe disk and kit traps to snmptrapd with their flags and varbinds.
# Where the machine shows no PCI function that the function table holds (none at all, or only
# memory controllers, bridges and interrupt controllers, which the collector leaves out and does
# not count), every check that needs one is skipped: the comparison with lspci and trap 1019 (a
# first cycle without a counted function leaves nothing to compare the added one with); the
# function table must then be empty.
#
#   stdeq_fixture_snmp_e2e.sh WINE_RUN WINEDIR BINDIR WORKDIR GENERATOR [PCI_SYSFS]
# PCI_SYSFS is the PCI device tree (a folder like /sys/bus/pci/devices) the fixture is made from
# and lspci reads (default: this machine's).
set -euo pipefail

wine_run=$1 winedir=$2 bindir=$3 work=$4 generator=$5
pci_sysfs=("${@:6}")
# shellcheck source=snmp_e2e_lib.sh
. "$(dirname "$0")/snmp_e2e_lib.sh"
e2e_start stdeqfix

controller='PCI\VEN_144D&DEV_A808&SUBSYS_A801144D&REV_00\4&2B8F0C1&0&0018'
kit_log=(
  "2026:12:10:18:30:01:5:Active Fw Version 1.20"
  "2026:12:10:18:30:02:5:System State Redundant Active"
  "2026:12:10:18:30:03:5:SD0 State Active"
  "2026:12:10:18:30:04:5:SD1 State Active"
)
python3 "$generator" "${pci_sysfs[@]}" >"$work/pci.txt"
# The functions of the fixture that the function table holds, as bus.device.function: those whose
# class code (the first CC_ of their hardware IDs) is no memory controller (05), bridge (06) or
# interrupt controller (0800).
python3 -c '
import sys
for line in open(sys.argv[1]):
    fields = line.rstrip("\n").split("\t")
    codes = [i.split("CC_")[1] for i in fields[6].split(";") if "CC_" in i]
    klass = codes[0] if codes else "000000"
    if klass.startswith(("05", "06")) or klass.startswith("0800"):
        continue
    print("%s.%s.%s" % tuple(fields[2:5]))' "$work/pci.txt" >"$work/held.txt"
pci_held=false
[ -s "$work/held.txt" ] && pci_held=true
$pci_held || echo "SKIP: this machine shows no PCI function the function table holds" \
  "($(wc -l <"$work/pci.txt") in its tree, none held)"
fixture() {  # temperature status percent-used [extra lines...]
  {
    printf 'os\t10.0.17763\n'
    cat "$work/pci.txt"
    printf 'nvme\t0\tSERE2E0001\tE2E NVMe Disk\t%s\t55\t%s\t%s\t%s\tPCI Slot 3 (3,0,0)\n' "$1" "$3" "$2" "$controller"
    for record in "${kit_log[@]}"; do printf 'kitlog\t%s\n' "$record"; done
    for extra in "${@:4}"; do printf '%s\n' "$extra"; done
  } >"$work/fixture.tmp"
  mv "$work/fixture.tmp" "$work/fixture.txt"
}
fixture 40 OK 3

# A collection every 10 seconds.
"$wine_run" "$winedir" reg add 'HKLM\SYSTEM\CurrentControlSet\Services\ndxtlm\Parameters' /v PollInterval \
  /t REG_DWORD /d 10 /f >/dev/null 2>&1
start_sim 1
"$wine_run" "$winedir" "$bindir/collector_e2e_host.exe" --sim "$sim" --dir "$winwork" \
  --collectors ZDTSTDEQ --stdeq-fixture "$winwork\\fixture.txt" >"$work/host.out" 2>&1 &
pids+=($!)
wait_for 180 test -s "$work/registered" || fail "the sub-agent did not register"

D=$E.1.2.23
get() { snmpget "${snmp[@]}" "$1" 2>/dev/null | sed -n 's/^[^=]* = //p'; }
served() { [ "$(get "$D.1.1.6.3.0.0")" = 'STRING: "SERE2E0001"' ]; }
wait_for 180 served || fail "the PCIe disk row was not served: $(get "$D.1.1.6.3.0.0")"
[ "$(get "$D.2.0")" = "INTEGER: 2" ] || fail "overall PCIe disk condition: $(get "$D.2.0")"
[ "$(get "$D.1.1.12.3.0.0")" = 'STRING: "Disk 0"' ] || fail "disk name: $(get "$D.1.1.12.3.0.0")"
[ "$(get "$D.1.1.13.3.0.0")" = "INTEGER: 2" ] || fail "health code: $(get "$D.1.1.13.3.0.0")"
[ "$(get "$E.1.2.15.1.1.1.1")" = "INTEGER: 1" ] || fail "the kit row was not served: $(get "$E.1.2.15.1.1.1.1")"
[ "$(get "$E.1.2.15.1.1.10.1")" = 'STRING: "ZSKE2E0001"' ] || fail "kit serial number: $(get "$E.1.2.15.1.1.10.1")"

# The PCI function table against lspci (reading the same tree as the fixture, domain 0 as the
# fixture), less memory controllers, bridges and interrupt controllers.
snmpwalk "${snmp[@]}" "$E.1.2.13.2.1.1" >"$work/walk-functions.txt" 2>&1 ||
  fail "the PCI function table could not be walked: $(cat "$work/walk-functions.txt")"
sed -n "s/^$E\.1\.2\.13\.2\.1\.1\.\([0-9.]*\) = .*/\1/p" "$work/walk-functions.txt" | sort >"$work/walked.txt"
if $pci_held; then
  command -v lspci >/dev/null || fail "lspci is needed to check the PCI function table"
  mkdir -p "$work/pci-root"
  ln -sfn "$(realpath "${pci_sysfs[0]:-/sys/bus/pci/devices}")" "$work/pci-root/devices"
  lspci -n -D -A linux-sysfs -O sysfs.path="$work/pci-root" >"$work/lspci.out" 2>"$work/lspci.err" ||
    fail "lspci could not read the PCI tree: $(cat "$work/lspci.err")"
  python3 -c '
import sys
for line in sys.stdin:
    address, klass = line.split()[0], line.split()[1].rstrip(":")
    if klass.startswith(("05", "06")) or klass == "0800":
        continue
    domain, bus, rest = address.split(":")
    if int(domain, 16) != 0:
        continue
    device, function = rest.split(".")
    print("%d.%d.%d" % (int(bus, 16), int(device, 16), int(function, 16)))' <"$work/lspci.out" |
    sort >"$work/lspci.txt"
  [ -s "$work/lspci.txt" ] || fail "lspci shows no function the table would hold"
  diff "$work/lspci.txt" "$work/walked.txt" >"$work/pci.diff" ||
    fail "the PCI function table differs from lspci: $(cat "$work/pci.diff")"
else
  echo "SKIP: no comparison with lspci"
  [ ! -s "$work/walked.txt" ] || fail "PCI function rows without a function the table holds: $(head -3 "$work/walked.txt")"
fi
grep -qE "$E\.0\.(101[0-9]|1020)\b" "$work/traps.log" && fail "a trap in the first cycle: $(grep -E "$E\.0\." "$work/traps.log" | head -3)"

# Next cycles: one more PCI function, the disk hot, degraded and worn out, the kit's redundancy lost.
# A request for the collector's objects asks for a collection within 120 seconds, which holds
# until that collection; so after each change of the fixture a collection is asked for now, as the
# service's watchers ask for one when something changes.
kit_log+=("2026:12:10:18:31:00:5:Redundancy lost on card SD1")
fixture 60 Degraded 100 \
  "$(printf 'pci\tPCI\\VEN_1F7A&DEV_0001&SUBSYS_00011F7A&REV_01\\3&E2E&FA&00\t250\t0\t0\tE2E added\tPCI\\VEN_1F7A&DEV_0001&SUBSYS_00011F7A&REV_01;PCI\\VEN_1F7A&DEV_0001&CC_010802')"
ask_collection ZDTSTDEQ
trap_line() { grep "$E\.0\.$1\b" "$work/traps.log" | head -1; }
expected=(1015 1017 1018 1012)
if $pci_held; then
  expected=(1019 "${expected[@]}")
else
  echo "SKIP: no trap 1019"
fi
for n in "${expected[@]}"; do
  wait_for 240 bash -c "grep -q '$E\.0\.$n\b' '$work/traps.log'" ||
    fail "trap $n did not arrive; temperature now $(get "$D.1.1.9.3.0.0"), PCI rows $(snmpwalk "${snmp[@]}" "$E.1.2.13.2.1.1" | wc -l)"
done
flags() { trap_line "$1" | grep -q "$E\.11\.2\.11\.1\.0 = INTEGER: $2\b"; }
if $pci_held; then
  flags 1019 8 || fail "1019 flags: $(trap_line 1019)"
  trap_line 1019 | grep -q "$E\.1\.2\.13\.2\.1\.1\.250\.0\.0 = INTEGER: 250" || fail "1019 varbinds: $(trap_line 1019)"
fi
flags 1015 16 || fail "1015 flags: $(trap_line 1015)"
flags 1017 12 || fail "1017 flags: $(trap_line 1017)"
flags 1018 16 || fail "1018 flags: $(trap_line 1018)"
flags 1012 12 || fail "1012 flags: $(trap_line 1012)"
trap_line 1015 | grep -q "$D\.1\.1\.9\.3\.0\.0 = INTEGER: 60" || fail "1015 varbinds: $(trap_line 1015)"
trap_line 1017 | grep -q "$D\.1\.1\.8\.3\.0\.0 = STRING: \"Degraded\"" || fail "1017 varbinds: $(trap_line 1017)"
trap_line 1018 | grep -q "$D\.1\.1\.13\.3\.0\.0 = INTEGER: 6" || fail "1018 varbinds: $(trap_line 1018)"

# Cooling down: one 1016.
fixture 50 Degraded 100 \
  "$(printf 'pci\tPCI\\VEN_1F7A&DEV_0001&SUBSYS_00011F7A&REV_01\\3&E2E&FA&00\t250\t0\t0\tE2E added\tPCI\\VEN_1F7A&DEV_0001&SUBSYS_00011F7A&REV_01;PCI\\VEN_1F7A&DEV_0001&CC_010802')"
ask_collection ZDTSTDEQ
wait_for 180 bash -c "grep -q '$E\.0\.1016\b' '$work/traps.log'" || fail "trap 1016 did not arrive"
flags 1016 8 || fail "1016 flags: $(trap_line 1016)"
[ "$(get "$D.2.0")" = "INTEGER: 3" ] || fail "overall condition after the change: $(get "$D.2.0")"
echo "PASS"
