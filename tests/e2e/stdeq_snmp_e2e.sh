#!/usr/bin/env bash
# The standard-equipment collector end to end with the real parts only: Wine has no PCI
# functions, PCIe disks or SD/USB kit to show, so after a collection nothing is served under the
# PCI, PCIe disk and kit subtrees and snmptrapd receives none of their traps (1010 to 1020).
# The host collector runs beside it, so that a served host object shows a finished cycle.
#
#   stdeq_snmp_e2e.sh WINE_RUN WINEDIR BINDIR WORKDIR
set -euo pipefail

wine_run=$1 winedir=$2 bindir=$3 work=$4
# shellcheck source=snmp_e2e_lib.sh
. "$(dirname "$0")/snmp_e2e_lib.sh"
e2e_start stdeqe2e

start_sim 1
"$wine_run" "$winedir" "$bindir/collector_e2e_host.exe" --sim "$sim" --dir "$winwork" \
  --collectors ZDTSTDEQ,ZDTHOST >"$work/host.out" 2>&1 &
pids+=($!)
wait_for 180 test -s "$work/registered" || fail "the sub-agent did not register"
grep -q 'result 0$' "$work/registered" || fail "a registration failed: $(cat "$work/registered")"

served() { snmpget "${snmp[@]}" "$E.11.2.13.1.0" 2>/dev/null | grep -q INTEGER; }
wait_for 180 served || fail "the first collection was not served"

for subtree in 1.2.13 1.2.23 1.2.15; do
  snmpwalk "${snmp[@]}" "$E.$subtree" >"$work/walk-$subtree.txt" 2>&1 || true
  if grep -q "^$E.$subtree\." "$work/walk-$subtree.txt"; then
    fail "objects under $subtree: $(head -3 "$work/walk-$subtree.txt")"
  fi
done
# The registrations of the collector reached the master agent: the subtrees answer as empty.
grep -qE 'No Such Object|No more variables' "$work/walk-1.2.13.txt" ||
  fail "the PCI subtree did not answer: $(cat "$work/walk-1.2.13.txt")"

# Traps of the cycle leave on the trap thread after the collection: give them time to arrive.
sleep 3
if grep -qE "$E\.0\.(101[0-9]|1020)\b" "$work/traps.log"; then
  fail "a standard-equipment trap was sent: $(grep -E "$E\.0\.(101[0-9]|1020)" "$work/traps.log" | head -3)"
fi
echo "PASS"
