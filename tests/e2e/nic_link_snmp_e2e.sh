#!/usr/bin/env bash
# A pulled cable and its return, end to end through the NIC library's own code: collector_e2e_host.exe
# runs the NIC collector under the real scheduler and sub-agent with the library beside it (the
# fixture build netvarix_fixture.dll under the product's file name: the whole library, its
# collection thread and handshake, over a described host instead of the machine's drivers).
# nic_scenario_e2e.exe describes that host, the adapter model's scenario with NIC A on this
# machine's Ethernet address (the collector relays only trap records of its own adapters), and
# pulls NIC A's cable and puts it back; the test then asks for a NIC collection as the service's
# network watcher does. Through snmpd and snmptrapd: no trap while the link is up, then
# zdtNic3ConnectivityLost for NIC A, NIC A still served while its link is down (failed, speed 0),
# then zdtNic3ConnectivityRestored and NIC A working again; the trap records are gone. Both traps
# carry every value of NIC A's trap record as the scenario makes it, varbind by varbind.
#
#   nic_link_snmp_e2e.sh WINE_RUN WINEDIR BINDIR WORKDIR
set -euo pipefail

wine_run=$1 winedir=$2 bindir=$3 work=$4
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=snmp_e2e_lib.sh
. "$here/snmp_e2e_lib.sh"
e2e_start niclink
run() { "$wine_run" "$winedir" "$@"; }

mac=$(host_ethernet_mac)
[ -n "$mac" ] || fail "no Ethernet port that is up"
hexmac=$(tr 'a-f:' 'A-F ' <<<"$mac")

description="$winwork\\scenario.txt"
scenario() {  # link up|down, further arguments passed on
  run "$bindir/nic_scenario_e2e.exe" --file "$description" --mac "$mac" --link "$@" >>"$work/scenario.out" 2>&1 ||
    fail "the scenario could not be written: $(cat "$work/scenario.out")"
}
scenario up --registry

# The host with the library from a folder of its own.
mkdir -p "$work/nic-host"
cp "$bindir/collector_e2e_host.exe" "$work/nic-host/"
cp "$bindir/nicfixture/netvarix_fixture.dll" "$work/nic-host/netvarix.dll"
start_sim 1
NIC_FIXTURE_HOST=$description run "$work/nic-host/collector_e2e_host.exe" --sim "$sim" --dir "$winwork" \
  --collectors ZDTNIC >"$work/host.out" 2>&1 &
pids+=($!)
wait_for 180 test -s "$work/registered" || fail "the sub-agent did not register"
grep -q 'result 0$' "$work/registered" || fail "a registration failed: $(cat "$work/registered")"

P=$E.18.2.3.1.1 L=$E.18.2.2.1.1
# NIC A's rows: the physical adapter table's row and the logical interface table's row that carry
# its address.
row= lrow=
row_of() {  # column OID; prints the index of the first row whose value is NIC A's address
  snmpwalk "${snmp[@]}" "$1" 2>/dev/null | awk -v p="$1." -v m="Hex-STRING: $hexmac" \
    'index($0, p) == 1 && index($0, m) { sub("^" p, ""); print $1; exit }'
}
find_rows() {
  row=$(row_of "$P.4") && lrow=$(row_of "$L.8") && [ -n "$row" ] && [ -n "$lrow" ]
}
wait_for 180 find_rows || fail "NIC A is not served: $(snmpwalk "${snmp[@]}" "$E.18" 2>&1)"
value() { snmpget "${snmp[@]}" "$1" 2>/dev/null | sed 's/[[:space:]]*$//'; }
is() { [ "$(value "$1")" = "$1 = $2" ]; }
conditions_are() { is "$P.12.$row" "INTEGER: $1" && is "$L.10.$lrow" "INTEGER: $1"; }
wait_for 180 conditions_are 2 || fail "NIC A is not working before its cable is pulled: $(value "$P.12.$row") $(value "$L.10.$lrow")"
walk() { snmpwalk "${snmp[@]}" "$E.18" | sed 's/[[:space:]]*$//' >"$1"; }
walk "$work/walk-up.txt"
grep -qxF "$L.7.$lrow = Hex-STRING: $(printf '%02X' "$row")" "$work/walk-up.txt" ||
  fail "NIC A's logical row does not list its physical row: $(grep "^$L\.7\.$lrow " "$work/walk-up.txt")"
name=$(grep "^$P\.39\.$row = STRING: " "$work/walk-up.txt" | sed 's/^[^=]*= //')
[ -n "$name" ] || fail "NIC A has no name"

lost() { grep -q "$E\.0\.18012" "$work/traps.log" 2>/dev/null; }
restored() { grep -q "$E\.0\.18011" "$work/traps.log" 2>/dev/null; }
if lost || restored; then fail "a connectivity trap while every link is up: $(cat "$work/traps.log")"; fi

# The trap names NIC A by its row, with its new status: slot and port as the row has them, its
# name under its PCI place (bus 3, device 12 in the scenario).
names_nic_a() {  # trap log, status
  local varbind
  for varbind in "$P.5.$row = $(value "$P.5.$row" | sed 's/^[^=]*= //')" \
    "$P.10.$row = $(value "$P.10.$row" | sed 's/^[^=]*= //')" "$P.14.$row = INTEGER: $2" \
    "$E.1.2.13.1.1.5.3.12 = $name"; do
    grep -qF "$varbind" "$1" || fail "the trap does not name NIC A ($varbind): $(cat "$1")"
  done
}
# The whole trap, varbind by varbind in order, with the values of NIC A's trap record as the
# scenario makes them: slot 6, port 2 (PCI function 1), bus 3 and device 12, the member's status,
# no part number known, IPv4 address 192.168.10.10 (its Tcpip key, DHCP off: trap flags are the
# status times 4), its IPv6 address, the connectivity traps' logical index 0. sysUpTime and sysName
# vary from run to run; this machine has no maker's system id.
is_nic_a_trap() {  # trap log, trap number, status
  local expected actual
  expected=$(printf '%s\n' ".1.3.6.1.2.1.1.3.0 = Timeticks: <uptime>" ".1.3.6.1.6.3.1.1.4.1.0 = OID: $E.0.$2" \
    '.1.3.6.1.2.1.1.5.0 = STRING: "<host>"' "$E.11.2.11.1.0 = INTEGER: $(($3 * 4))" "$P.5.$row = INTEGER: 6" \
    "$P.10.$row = INTEGER: 2" "$E.2.2.4.17.0 = STRING: \"N/A\"" "$P.14.$row = INTEGER: $3" \
    "$E.1.2.13.1.1.5.3.12 = STRING: \"QZ Ethernet 1Gb 2-port Adapter\"" "$P.32.$row = STRING: \"N/A\"" \
    ".1.3.6.1.2.1.4.20.1.1.192.168.10.10 = IpAddress: 192.168.10.10" "$E.18.2.2.1.1.20.0 = STRING: \"fd00:5c::a\"")
  actual=$(python3 "$here/storage_traps.py" <"$1" | awk -v oid="OID: $E.0.$2" \
    'BEGIN { RS = ""; FS = "\n" } index($0, oid) { print; exit }')
  [ "$actual" = "$expected" ] || fail "trap $2 is not NIC A's record:
$(diff <(echo "$expected") <(echo "$actual"))"
}

# The cable is pulled.
scenario down
ask_collection ZDTNIC
wait_for 180 lost || fail "no zdtNic3ConnectivityLost: $(cat "$work/traps.log")"
cp "$work/traps.log" "$work/traps-lost.log"
is_nic_a_trap "$work/traps-lost.log" 18012 4
names_nic_a "$work/traps-lost.log" 4
restored && fail "zdtNic3ConnectivityRestored while the link is down: $(cat "$work/traps.log")"

# Still served while down: both rows failed, the physical one at speed 0, and the group holds
# every object it held with the link up.
wait_for 180 conditions_are 4 || fail "NIC A is not shown failed while down: $(value "$P.12.$row") $(value "$L.10.$lrow")"
walk "$work/walk-down.txt"
grep -qxF "$P.4.$row = Hex-STRING: $hexmac" "$work/walk-down.txt" || fail "NIC A's row is gone while down"
grep -qxF "$P.33.$row = Gauge32: 0" "$work/walk-down.txt" || fail "NIC A's speed while down: $(grep "^$P\.33\.$row " "$work/walk-down.txt")"
objects() { sed 's/ = .*//' "$1" | sort; }
missing=$(comm -23 <(objects "$work/walk-up.txt") <(objects "$work/walk-down.txt"))
[ -z "$missing" ] || fail "objects missing from the walk while NIC A is down: $missing"
if grep -q "TrapData" <(run reg query 'HKLM\SYSTEM\QZTLMNetwork\Trap_ConnectivityLost' 2>/dev/null); then
  fail "the connectivity-lost record was not deleted"
fi

# The cable is back.
scenario up
ask_collection ZDTNIC
wait_for 180 restored || fail "no zdtNic3ConnectivityRestored: $(cat "$work/traps.log")"
tail -n +"$(($(wc -l <"$work/traps-lost.log") + 1))" "$work/traps.log" >"$work/traps-restored.log"
is_nic_a_trap "$work/traps-restored.log" 18011 2
names_nic_a "$work/traps-restored.log" 2
[ "$(grep -c "$E\.0\.18012" "$work/traps.log")" = 1 ] || fail "the lost link was reported again: $(cat "$work/traps.log")"
wait_for 180 conditions_are 2 || fail "NIC A is not working again: $(value "$P.12.$row") $(value "$L.10.$lrow")"
if grep -q "TrapData" <(run reg query 'HKLM\SYSTEM\QZTLMNetwork\Trap_ConnectivityRegained' 2>/dev/null); then
  fail "the connectivity-regained record was not deleted"
fi
echo "PASS"
