#!/usr/bin/env bash
# The NIC group end to end: the test writes the NIC library's records (physical adapters, a team,
# a VLAN and a ConnectivityLost trap record for this host's Ethernet port) and plays the library's
# readiness mark; collector_e2e_host.exe runs the NIC collector, from a folder without the library,
# under the real scheduler and sub-agent; oxbsim.exe bridges it to snmpd. The walk of the group
# must hold the golden rows, snmptrapd must receive zdtNic3ConnectivityLost, and the trap record
# must be gone.
#
#   nic_snmp_e2e.sh WINE_RUN WINEDIR BINDIR WORKDIR
set -euo pipefail

wine_run=$1 winedir=$2 bindir=$3 work=$4
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=snmp_e2e_lib.sh
. "$here/snmp_e2e_lib.sh"
e2e_start nice2e
run() { "$wine_run" "$winedir" "$@"; }

mac=$(host_ethernet_mac)
[ -n "$mac" ] || fail "no Ethernet port that is up"

python3 "$here/nic_fixture.py" "$mac" "$work/records.reg" "$work/golden.txt"
run reg import "$(printf 'Z:%s' "${work//\//\\}")\\records.reg" >/dev/null 2>&1 || fail "the records were not imported"

keep_nic_library_ready 0.5

# The host from a folder of its own: netvarix.dll beside it would rewrite the records.
mkdir -p "$work/nic-host"
cp "$bindir/collector_e2e_host.exe" "$work/nic-host/"
start_sim 1
run "$work/nic-host/collector_e2e_host.exe" --sim "$sim" --dir "$winwork" --collectors ZDTNIC \
  --nic-wait-ms 1000 >"$work/host.out" 2>&1 &
pids+=($!)
wait_for 180 test -s "$work/registered" || fail "the sub-agent did not register"
grep -q 'result 0$' "$work/registered" || fail "a registration failed: $(cat "$work/registered")"

served() { snmpget "${snmp[@]}" "$E.18.2.3.1.1.39.1" 2>/dev/null | grep -q STRING; }
wait_for 180 served || fail "the physical adapter table was not served: $(snmpget "${snmp[@]}" "$E.18.2.3.1.1.39.1" 2>&1)"
snmpwalk "${snmp[@]}" "$E.18" | sed 's/[[:space:]]*$//' >"$work/walk.txt"

missing=$(grep -vxF -f "$work/walk.txt" "$work/golden.txt" || true)
[ -z "$missing" ] || fail "rows missing from the walk (walk in $work/walk.txt):
$missing"
# The DSC port has no row, and every row after the
# library's two is one of the host's other links (role 255).
grep -q '"DSC Management' "$work/walk.txt" && fail "the DSC port has a row"
while read -r line; do
  row=${line##*.}; row=${row%% *}
  [ "$row" -le 2 ] && continue
  grep -qx "$E.18.2.3.1.1.3.$row = INTEGER: 255" "$work/walk.txt" || fail "row $row is not a port of the host's own"
done < <(grep "^$E\.18\.2\.3\.1\.1\.1\." "$work/walk.txt")

lost() { grep -q "$E\.0\.18012" "$work/traps.log" 2>/dev/null; }
wait_for 180 lost || fail "no zdtNic3ConnectivityLost: $(cat "$work/traps.log")"
grep -q 'QZ Port 1' "$work/traps.log" || fail "the trap does not name its adapter: $(cat "$work/traps.log")"
grep -qE "$E\.11\.2\.11\.1\.0 = INTEGER: 18" "$work/traps.log" || fail "trap flags: $(cat "$work/traps.log")"
# Every value of the record in its varbind: slot, port, member status, the member's name under
# its PCI bus and device, part number, IPv4 and IPv6 addresses.
for varbind in "$E.18.2.3.1.1.5.1 = INTEGER: 2" "$E.18.2.3.1.1.10.1 = INTEGER: 1" \
  "$E.18.2.3.1.1.14.1 = INTEGER: 4" "$E.1.2.13.1.1.5.5.0 = STRING: \"QZ Port 1\"" \
  "$E.18.2.3.1.1.32.1 = STRING: \"PN-0001\"" ".1.3.6.1.2.1.4.20.1.1.10.0.0.5 = IpAddress: 10.0.0.5" \
  "$E.18.2.2.1.1.20.1 = STRING: \"fe80::5\""; do
  grep -qF "$varbind" "$work/traps.log" || fail "no varbind $varbind: $(cat "$work/traps.log")"
done
if run reg query 'HKLM\SYSTEM\QZTLMNetwork\Trap_ConnectivityLost' 2>/dev/null | grep -q TrapData; then
  fail "the trap record was not deleted"
fi
echo "PASS"
