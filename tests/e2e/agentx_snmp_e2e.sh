#!/usr/bin/env bash
# End to end over real SNMP: snmpd as the AgentX master (loopback ports only, our own config),
# oxbsim.exe bridging its AgentX connection to the channel, and the service's AgentX side
# (agentx_e2e_host.exe) answering from its store. net-snmp's clients must see exactly the objects
# the host put in (its own list, not the store's walk), snmptrapd must receive the service's trap,
# and a restarted simulator must bring the session back. Every process started here is stopped here.
#
#   agentx_snmp_e2e.sh WINE_RUN WINEDIR BINDIR WORKDIR [ROWS] [--bench RESULTFILE]
set -euo pipefail

wine_run=$1 winedir=$2 bindir=$3 work=$4
rows=${5:-200}
bench=""
host_args=()
if [ "${6:-}" = "--bench" ]; then
  bench=$7
  # The receive thread's polling delay (50 ms by default, before every read) would dominate
  # the per-object cost; the benchmark measures the path itself.
  host_args=(--receive-delay 0)
fi

# shellcheck source=snmp_e2e_lib.sh
. "$(dirname "$0")/snmp_e2e_lib.sh"
e2e_start axe2e
start_sim 1
"$wine_run" "$winedir" "$bindir/agentx_e2e_host.exe" --sim "$sim" --rows "$rows" --dir "$winwork" \
  "${host_args[@]}" >"$work/host.out" 2>&1 &
pids+=($!)
wait_for 180 test -s "$work/registered" || fail "the sub-agent did not register"

# Get: one scalar, one string, one row; and an instance the store does not hold.
got=$(snmpget "${snmp[@]}" $E.1.1.0 $E.1.2.0 $E.1.10.1.1.2)
want=$(grep -E "^($E.1.1.0|$E.1.2.0|$E.1.10.1.1.2) " "$work/expected.txt")
[ "$got" = "$want" ] || fail "snmpget: got [$got] want [$want]"
missing=$(snmpget "${snmp[@]}" $E.1.9.0 || true)
echo "$missing" | grep -q 'No Such' || fail "snmpget of a missing object: $missing"

# Walks: exactly the store, in order, both with GetNext and with GetBulk (answered by the master
# as GetNext calls, since the sub-agent refuses GetBulk).
w0=$(date +%s.%N)
snmpwalk "${snmp[@]}" $E >"$work/walk.txt"
w1=$(date +%s.%N)
echo "walk of $(wc -l <"$work/walk.txt") objects: $(python3 -c "print(round($w1 - $w0, 3))") s"
# The rows and the two scalars, and nothing else.
[ "$(wc -l <"$work/expected.txt")" -eq $((rows + 2)) ] || fail "expected.txt holds $(wc -l <"$work/expected.txt") objects"
[ "$(wc -l <"$work/walk.txt")" -eq $((rows + 2)) ] || fail "snmpwalk returned $(wc -l <"$work/walk.txt") objects, not $((rows + 2))"
diff -u "$work/expected.txt" "$work/walk.txt" || fail "snmpwalk differs from the objects put in"
snmpbulkwalk "${snmp[@]}" $E >"$work/bulkwalk.txt"
diff -u "$work/expected.txt" "$work/bulkwalk.txt" || fail "snmpbulkwalk differs from the objects put in"

# The trap queued before the session opened reached the manager.
wait_for 180 grep -q "$E.0.18013" "$work/traps.log" || fail "snmptrapd did not receive the trap"
grep -q "$E.11.1.0 = INTEGER: 5" "$work/traps.log" || fail "the trap lost its varbind"

if [ -n "$bench" ]; then
  count=$(wc -l <"$work/expected.txt")
  t0=$(date +%s.%N)
  snmpwalk "${snmp[@]}" $E >/dev/null
  t1=$(date +%s.%N)
  own=$(snmpwalk "${snmp[@]}" .1.3.6.1.2.1 2>/dev/null | wc -l)
  t2=$(date +%s.%N)
  snmpwalk "${snmp[@]}" .1.3.6.1.2.1 >/dev/null 2>&1
  t3=$(date +%s.%N)
  python3 - "$bench" "$count" "$t0" "$t1" "$own" "$t2" "$t3" <<'PY'
import sys
path, count, t0, t1, own, t2, t3 = sys.argv[1], int(sys.argv[2]), *map(float, sys.argv[3:5]), int(sys.argv[5]), *map(float, sys.argv[6:8])
sub = (t1 - t0) / count * 1e6
native = (t3 - t2) / own * 1e6
with open(path, "w") as f:
    f.write("# snmpwalk per-object cost, one run, same client (snmpwalk -v2c over UDP on loopback)\n")
    f.write(f"service objects via snmpd+AgentX bridge: {count} objects, {t1-t0:.3f} s, {sub:.1f} us/object\n")
    f.write(f"snmpd's own MIB-2/host-resources objects: {own} objects, {t3-t2:.3f} s, {native:.1f} us/object\n")
    f.write(f"ratio (service / snmpd own): {sub/native:.2f}\n")
print(open(path).read())
PY
fi
# The processor goes away and comes back: the session returns and the objects with it.
kill "$sim_pid"; wait "$sim_pid" 2>/dev/null || true
start_sim 2
registrations() { [ "$(wc -l <"$work/registered")" -ge "$1" ]; }
wait_for 180 registrations 2 || fail "the session did not come back"
got=$(snmpget "${snmp[@]}" $E.1.1.0)
[ "$got" = "$E.1.1.0 = INTEGER: 42" ] || fail "after the restart: $got"

echo "PASS"
