#!/usr/bin/env bash
# The five storage collectors together under the real scheduler, sub-agent and traps, end to end
# through oxbsim.exe's bridge and snmpd.
#
# First over one simulated server (storage_server.h): collection cycles run in lock-step with this
# script, with the server's scripted changes before cycles 2 and 3 and none before 4. Checked: the
# QZTLMStorage tree (reg export) and `snmpwalk -On` of the groups 5, 14, 16 and 169 after the last
# cycle, and snmptrapd's log, against goldens; every cycle's device requests against the recorded
# budget and its open handles against the handles the layers keep.
# Then on Wine itself, without simulator or HBA API library: empty tables, the keys and their
# SoftwareRevisions present (goldens again), no trap, and a host that ends cleanly.
#
#   storage_e2e.sh WINE_RUN WINEDIR BINDIR WORKDIR GOLDENDIR
# With STORAGE_E2E_UPDATE=1 the goldens, the budget and the figures are written instead.
set -euo pipefail

wine_run=$1 winedir=$2 bindir=$3 work=$4 golden=$5
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=snmp_e2e_lib.sh
. "$here/snmp_e2e_lib.sh"
e2e_start storage
update=${STORAGE_E2E_UPDATE:-0}
groups=(5 14 16 169)
cycles=4

"$wine_run" "$winedir" reg add 'HKLM\SYSTEM\CurrentControlSet\Services\ndxtlm\Parameters' /v PollInterval \
  /t REG_DWORD /d 10 /f >/dev/null 2>&1
"$wine_run" "$winedir" reg add 'HKLM\SYSTEM\CurrentControlSet\Services\ndxtlm\Parameters' /v ReceiveThreadDelayMS \
  /t REG_DWORD /d 0 /f >/dev/null 2>&1

# compare NAME FILE: FILE against the golden NAME (written in update mode).
failures=0
compare() {
  if [ "$update" = 1 ]; then
    cp "$2" "$golden/$1"
  elif ! diff -u "$golden/$1" "$2" >"$work/$1.diff"; then
    echo "FAIL: $1 differs from its golden:" >&2
    head -60 "$work/$1.diff" >&2
    failures=$((failures + 1))
  fi
}

# host PHASE [ARG...]: collector_e2e_host.exe over the storage collectors in lock-step, its files
# in $work/PHASE; sets host_pid.
host() {
  mkdir -p "$work/$1"
  "$wine_run" "$winedir" "$bindir/collector_e2e_host.exe" --sim "$sim" --dir "$winwork\\$1" \
    --collectors ZDTSCSI,ZDTSAS,ZDTIDE,ZDTFCA,ZDTISCSI --lockstep "${@:2}" >"$work/$1.out" 2>&1 &
  host_pid=$!
  pids+=($host_pid)
  wait_for 180 test -s "$work/$1/registered" || fail "the sub-agent of $1 did not register: $(tail -5 "$work/$1.out")"
}

# cycle PHASE N: lets cycle N run and waits for its record.
cycle() {
  touch "$work/$1/go-$2"
  wait_for 180 test -s "$work/$1/cycle-$2.txt" || fail "cycle $2 of $1 did not end: $(tail -5 "$work/$1.out")"
}

# stop_host PHASE: asks the host to stop; it must end with 0.
stop_host() {
  touch "$work/$1/stop"
  local rc=0
  wait "$host_pid" || rc=$?
  [ "$rc" = 0 ] || fail "the host of $1 ended with $rc: $(tail -5 "$work/$1.out")"
}

walk() {  # the groups, each walked, into a file
  for g in "${groups[@]}"; do snmpwalk "${snmp[@]}" "$E.$g"; done |
    grep -v 'No more variables\|No Such Object' >"$1" || true
}

# The QZTLMStorage tree as reg export writes it, in UTF-8.
export_tree() {
  rm -f "$work/tree.reg"
  "$wine_run" "$winedir" reg export 'HKLM\SYSTEM\QZTLMStorage' "$winwork\\tree.reg" /y >/dev/null 2>&1 ||
    fail "reg export of the QZTLMStorage tree failed"
  iconv -f UTF-16LE -t UTF-8 "$work/tree.reg" | sed '1s/^\xEF\xBB\xBF//; s/\r$//' >"$1"
}

# snmptrapd's log from line $1 on, one varbind a line and a blank line between traps; the
# uptime, the time stamps and this host's name are taken out.
traps_from() {
  tail -n +"$1" "$work/traps.log" | python3 "$here/storage_traps.py"
}

# ---- The simulated server ----------------------------------------------------------------------
start_sim 1
host sim --storage-server "Z:${bindir//\//\\}\\e2e_hba\\HBAAPI.dll"
for n in $(seq 1 $cycles); do cycle sim "$n"; done
# Every trap of the cycles reaches snmptrapd before the log is read: as many as the script asks
# (5022 twice, 5026, 16028, 169001).
wait_for 240 bash -c "[ \$(grep -c '$E\.0\.' '$work/traps.log') -ge 5 ]" ||
  fail "the cycles' traps did not arrive: $(grep -c "$E\.0\." "$work/traps.log") of 5"
# A trap too many would follow within moments; the golden then shows it.
sleep 2
walk "$work/walk-sim.txt"
traps_from 1 >"$work/traps-sim.txt"
export_tree "$work/tree-sim.txt"
stop_host sim

compare walk-sim.golden "$work/walk-sim.txt"
compare traps-sim.golden "$work/traps-sim.txt"
compare tree-sim.golden "$work/tree-sim.txt"

# Requests and handles of every cycle. The budget is the most any cycle sent of each kind; the
# handles left open at a cycle's end are the ones the device layers keep between collections.
python3 - "$work/sim" "$cycles" "$golden/requests.budget" "$update" >"$work/cycles.txt" <<'PY' || failures=$((failures + 1))
import sys
folder, cycles, budget_path, update = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4] == "1"
records = []
for n in range(1, cycles + 1):
    requests, handles, other = {}, [], {}
    for line in open("%s/cycle-%d.txt" % (folder, n)):
        parts = line.split()
        if parts[0] == "requests":
            requests[parts[1]] = int(parts[2])
        elif parts[0] == "open":
            handles.append(" ".join(parts[1:]))
        else:
            other[parts[0]] = int(parts[1])
    records.append((requests, handles, other))
    print("cycle %d: %d ms (%d of them the scheduler's pauses), %d requests, %d handles open" % (
        n, other["ms"], other["pause-ms"], sum(v for k, v in requests.items() if not k.startswith("open")), len(handles)))
    for h in handles:
        print("  open " + h)
kinds = sorted({k for r, _, _ in records for k in r})
if update:
    with open(budget_path, "w") as out:
        out.write("# kind: the most device requests of that kind one collection cycle of the storage\n")
        out.write("# end-to-end server may send (open: successful opens; open-attempt: opens asked)\n")
        for k in kinds:
            out.write("%s %d\n" % (k, max(r.get(k, 0) for r, _, _ in records)))
    sys.exit(0)
budget = {}
for line in open(budget_path):
    if line.strip() and not line.startswith("#"):
        k, v = line.split()
        budget[k] = int(v)
bad = []
for n, (requests, handles, other) in enumerate(records, 1):
    for k, v in requests.items():
        if k not in budget:
            bad.append("cycle %d: %d requests of a kind not in the budget: %s" % (n, v, k))
        elif v > budget[k]:
            bad.append("cycle %d: %s %d over the budget of %d" % (n, k, v, budget[k]))
    if other.get("double-closes") or other.get("unknown-handles"):
        bad.append("cycle %d: double closes %d, unknown handles %d" % (n, other["double-closes"], other["unknown-handles"]))
    # A cycle keeps no more handles than the one before it: whatever a cycle opens beyond what
    # the layers keep, it closes.
    if n > 1 and len(handles) > len(records[n - 2][1]):
        bad.append("cycle %d: %d handles open after %d: %s" % (n, len(handles), len(records[n - 2][1]), handles))
for b in bad:
    print("FAIL: " + b, file=sys.stderr)
sys.exit(1 if bad else 0)
PY
cat "$work/cycles.txt"
grep '^  open ' "$work/cycles.txt" | sort -u >"$work/handles.txt" || true
compare handles.golden "$work/handles.txt"
if [ "$update" = 1 ]; then
  {
    echo "# Wall time of one collection cycle of the storage end-to-end server (storage_server.h)"
    echo "# under Wine: all five collectors collect in it. Recorded by STORAGE_E2E_UPDATE=1; not a"
    echo "# timed test. Columns: cycle, milliseconds, of them the scheduler's own pauses (50 ms each),"
    echo "# device requests of the cycle."
    date -u '+# recorded %Y-%m-%d on Wine '"$(wine --version 2>/dev/null)"
    for n in $(seq 1 $cycles); do
      awk -v n="$n" '$1 == "ms" {ms = $2} $1 == "pause-ms" {p = $2}
        $1 == "requests" && $2 !~ /^open/ {r += $3} END {print "cycle " n "  " ms " ms  " p " ms  " r " requests"}' \
        "$work/sim/cycle-$n.txt"
    done
  } >"$golden/figures.txt"
fi

# ---- Wine itself: no simulator, no HBA API library ---------------------------------------------
kill "$sim_pid"; wait "$sim_pid" 2>/dev/null || true
"$wine_run" "$winedir" reg delete 'HKLM\SYSTEM\QZTLMStorage' /f >/dev/null 2>&1 || true
trap_lines=$(wc -l <"$work/traps.log")
start_sim 2
host wine
for n in 1 2; do cycle wine "$n"; done
# A trap that should not be sent would follow within moments; the count below then shows it.
sleep 2
walk "$work/walk-wine.txt"
export_tree "$work/tree-wine.txt"
stop_host wine
compare walk-wine.golden "$work/walk-wine.txt"
compare tree-wine.golden "$work/tree-wine.txt"
new_traps=$(tail -n +$((trap_lines + 1)) "$work/traps.log" | grep -c "$E\.0\." || true)
[ "$new_traps" = 0 ] || { echo "FAIL: $new_traps traps on Wine without storage" >&2; failures=$((failures + 1)); }
grep -h '^ms ' "$work"/wine/cycle-*.txt | awk '{print "wine cycle " NR ": " $2 " ms"}'

[ "$failures" = 0 ] || fail "$failures checks failed"
echo "PASS"
