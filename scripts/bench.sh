#!/usr/bin/env bash
# The project's benchmark, in one run (`make bench`); figures as medians and ratios, since absolute
# times on a shared machine are noisy. Writes scripts/bench_results.txt (or $BENCH_RESULTS), with
# the commit measured, and prints the five figures of an administrator's questions beside their aims.
#
#   1. The walk: snmpwalk of the service's subtree (snmpd -> AgentX -> oxbsim.exe bridge -> pipe ->
#      the sub-agent with "ReceiveThreadDelayMS" 0) against snmpwalk of snmpd's own objects, same
#      client, interleaved, BENCH_ROUNDS times each.
#   2. Per-hop table of those walks, from the time stamps of a build with hop tracing on
#      (build/bench-windows; the shipped build has none).
#   3. The floor: a named-pipe message round trip between two Wine processes, a native-to-Wine TCP
#      round trip, one thread hand-off through an event (floor_bench.exe).
#   4. The store benchmark (store_bench, an optimised native build in build/bench-native).
#   5. Collection cycles (figures A, B, C): collector_e2e_host.exe of the shipped build (the real
#      "Data Collection" thread, scheduler, sub-agent, traps and black box) with every collector of
#      the service's list over simulated hardware where Wine has none: the storage end-to-end
#      server (storage_server.h, HBA API fixture), the NIC test's records (nic_fixture.py) with
#      the library's handshake played by the host, the software seams. Cycles run in lock-step
#      (every collector due in each) at the scheduler's own pauses, BENCH_CYCLES (100) of them.
#      A: resident set and private bytes after cycle 1 and after the last, beside a floor program
#         (floor_bench.exe floor) that loads the same system DLLs (those mapped in the measured
#         process) and opens the same two WMI namespaces, then idles.
#      B: processor and wall time of a cycle, of each collector and of the scheduler's pauses.
#      C: per-step walk latency (bench_walk.py, one GetNext at a time) with collection idle, then
#         while BENCH_BUSY_CYCLES (5) cycles run back to back; steps inside a cycle's window count.
#   6. The idle service (figure D): qzrtlm_sim.exe under Wine's service control manager with every
#      collector enabled, default settings otherwise, after its first full collection; CPU of the
#      service and of the prefix's wineserver over BENCH_IDLE_SECONDS (180); its resident set and
#      private bytes beside snmpd's and beside the floor program loaded with its DLLs.
#   7. Growth (figure E): walk cost per object of agentx_e2e_host.exe (shipped build) holding
#      1k, 10k and 100k rows, BENCH_GROWTH_STEPS (4000) steps from the middle of the table each
#      (0: the whole table), same client. The store heap's maximum is raised for it (the service's
#      4 MiB holds some tens of thousands of objects).
#
# Memory: VmRSS of /proc/PID/status (resident set); private bytes are Private_Dirty of
# /proc/PID/smaps_rollup: the pages the process alone has written (heap, stacks, data, the image
# sections Wine copies in). Private_Clean is left out: it counts the file pages of Wine's DLLs as
# private whenever no other process of the prefix happens to map them at that moment (a step of
# megabytes that comes and goes with the `reg` processes of the NIC scenario). Processor time:
# utime + stime of /proc/PID/stat. Wine processes are found by their prefix and command line.
#
# Parameters (environment): BENCH_ROWS (2000), BENCH_ROUNDS (5), BENCH_IDLE_SECONDS (180),
# BENCH_CYCLES (100), BENCH_BUSY_CYCLES (5), BENCH_WALK_STEPS (3000), BENCH_GROWTH_STEPS (4000),
# BENCH_NOTE (a line written under the commit, e.g. "provisional (busy machine)"); for working on
# one part: BENCH_PARTS (walk store cycles idle growth), BENCH_OUT (build/bench),
# BENCH_CYCLE_COLLECTORS (the collectors of the cycles, by group name; all by default).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
rows=${BENCH_ROWS:-2000}
rounds=${BENCH_ROUNDS:-5}
idle_seconds=${BENCH_IDLE_SECONDS:-180}
cycles=${BENCH_CYCLES:-100}
busy_cycles=${BENCH_BUSY_CYCLES:-5}
walk_steps=${BENCH_WALK_STEPS:-3000}
growth_steps=${BENCH_GROWTH_STEPS:-4000}
note=${BENCH_NOTE:-}
commit=$(git rev-parse --short HEAD 2>/dev/null || echo unknown)
git diff --quiet HEAD 2>/dev/null || commit="$commit (with uncommitted changes)"
results=${BENCH_RESULTS:-$root/scripts/bench_results.txt}
export WINEDEBUG=-all
wine_run=$root/scripts/wine-run.sh
out=${BENCH_OUT:-$root/build/bench}
rm -rf "$out"; mkdir -p "$out"

echo "== building the traced Windows tree and the optimised native store benchmark"
cmake -S . -B build/bench-windows -G Ninja --toolchain cmake/toolchain-mingw64.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTLM_HOP_TRACE=ON >/dev/null
cmake --build build/bench-windows -j4 --target agentx_e2e_host oxbsim floor_bench
cmake -S . -B build/bench-native -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DTLM_BENCHMARKS=ON >/dev/null
cmake --build build/bench-native -j4 --target store_bench
cmake --preset windows >/dev/null
cmake --build --preset windows -j4 --target qzrtlm_sim netvarix oxbsim floor_bench collector_e2e_host agentx_e2e_host

# ---- helpers for Wine processes ----------------------------------------------------------------
# The pid of the process of this prefix whose command line holds $1 (not the wrapper scripts).
prefix_pid() {
  local p
  for p in /proc/[0-9]*; do
    tr '\0' '\n' 2>/dev/null <"$p/environ" | grep -qx "WINEPREFIX=$WINEPREFIX" || continue
    case "$(tr '\0' ' ' 2>/dev/null <"$p/cmdline")" in
      *wine-run.sh*) ;;
      *$1*) echo "${p#/proc/}"; return 0 ;;
    esac
  done
  return 1
}
rss() { awk '/^VmRSS/ {print $2}' "/proc/$1/status"; }
threads() { awk '/^Threads/ {print $2}' "/proc/$1/status"; }
private() { awk '/^Private_Dirty/ {s += $2} END {print s + 0}' "/proc/$1/smaps_rollup"; }
ticks() { [ -n "$1" ] && awk '{print $14 + $15}' "/proc/$1/stat" || echo 0; }
# The system DLLs a process has mapped (Wine's own, not the product's or a test's), by name.
system_dlls() {
  awk '{print $6}' "/proc/$1/maps" | grep -i '\.dll$' | grep -i '/wine/' | sort -u | xargs -r -n1 basename
}
# floor_of NAME PID: the floor program with the DLLs of PID, once as it is (one thread) and once
# with as many threads as PID has (Wine gives each thread about 1 MB of private memory of its
# own); its memory into $work/floor-NAME.txt as "rss private threads loaded/named namespaces" and
# $work/floor-NAME-threads.txt.
floor_of() {
  local dlls n=0 threads
  mapfile -t dlls < <(system_dlls "$2")
  threads=$(threads "$2")
  for extra in 0 $((threads - 1)); do
    n=$((n + 1))
    "$wine_run" "$winedir" "$bindir/floor_bench.exe" floor 15 "$extra" "${dlls[@]}" >"$work/floor-$1-$n.out" 2>&1 &
    local wrapper=$! fpid=""
    wait_for 60 grep -q '^ready' "$work/floor-$1-$n.out" || fail "the floor program did not start"
    fpid=$(prefix_pid "floor_bench.exe floor") || fail "the floor program's process was not found"
    sleep 3
    echo "$(rss "$fpid") $(private "$fpid") $(threads "$fpid") $(tr -d '\r' <"$work/floor-$1-$n.out" |
      awk '/^ready/ {print $3 "/" $4 " " $6}')" >"$work/floor-$1$([ "$n" = 2 ] && echo -threads).txt"
    wait "$wrapper" || true
  done
}

# ---- 1, 2, 3: the walk, its hops and the floor (one prefix, the traced build) -------------------
walk_part() {
  winedir=$root/build/bench-windows/wine
  bindir=$root/build/bench-windows/bin
  work=$out/walk
  # shellcheck source=../tests/e2e/snmp_e2e_lib.sh
  . tests/e2e/snmp_e2e_lib.sh
  e2e_start bench
  export TLM_HOP_TRACE_FILE=$work/trace
  start_sim 1
  "$wine_run" "$winedir" "$bindir/agentx_e2e_host.exe" --sim "$sim" --rows "$rows" --dir "$winwork" \
    --receive-delay 0 >"$work/host.out" 2>&1 &
  pids+=($!)
  wait_for 60 test -s "$work/registered" || fail "the sub-agent did not register"
  snmpwalk "${snmp[@]}" $E >/dev/null   # warm-up
  : >"$work/walks.txt"
  for _ in $(seq "$rounds"); do
    t0=$(date +%s.%N); n1=$(snmpwalk "${snmp[@]}" $E | wc -l); t1=$(date +%s.%N)
    n2=$(snmpwalk "${snmp[@]}" .1.3.6.1.2.1 2>/dev/null | wc -l); t2=$(date +%s.%N)
    echo "$n1 $t0 $t1 $n2 $t2" >>"$work/walks.txt"
  done
  unset TLM_HOP_TRACE_FILE

  # The floor, in the same prefix while nothing else runs in it.
  "$wine_run" "$winedir" "$bindir/floor_bench.exe" pipe 3000 >"$work/floor.txt"
  "$wine_run" "$winedir" "$bindir/floor_bench.exe" event 20000 >>"$work/floor.txt"
  port=$(free_port 1)
  python3 - "$port" <<'PY' &
import socket, sys
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", int(sys.argv[1]))); s.listen(4)
while True:
    c, _ = s.accept(); c.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    while True:
        data = c.recv(4096)
        if not data:
            break
        c.sendall(data)
    c.close()
PY
  echo_pid=$!
  pids+=($echo_pid)
  wait_for 10 bash -c "exec 3<>/dev/tcp/127.0.0.1/$port" 2>/dev/null || true
  "$wine_run" "$winedir" "$bindir/floor_bench.exe" tcp "$port" 3000 >>"$work/floor.txt"
  tr -d '\r' <"$work/floor.txt" >"$work/floor.clean" && mv "$work/floor.clean" "$work/floor.txt"
}

# The start of the parts that run the product's collectors (5 and 6): the shipped build's
# binaries, in a prefix of the benchmark's tree (tests running in build/windows meanwhile end that
# tree's wineservers when they finish), a fresh work folder NAME, and snmpd with only its AgentX
# master module: the product serves the host's MIB-2 groups itself, as it does beside the
# management processor's agent, or those registrations would be duplicates.
service_part_start() {  # NAME
  winedir=$root/build/bench-windows/wine
  bindir=$root/build/windows/bin
  work=$out/$1
  # shellcheck source=../tests/e2e/snmp_e2e_lib.sh
  . tests/e2e/snmp_e2e_lib.sh
  run() { "$wine_run" "$winedir" "$@"; }
  snmpd_modules=(-I agentx)
  e2e_start "$1"
}

# ---- 5: collection cycles with every collector over simulated hardware ---------------------------
cycles_part() {
  service_part_start cycles
  # Every collector due in every lock-step cycle (as in the storage end-to-end test): the
  # service-wide interval below the cycles' spacing.
  run reg add 'HKLM\SYSTEM\CurrentControlSet\Services\ndxtlm\Parameters' /v PollInterval \
    /t REG_DWORD /d 10 /f >/dev/null 2>&1
  # Requests answered without the receive thread's pause (as in the walk above): what is measured
  # is what collection does to them, not the pause.
  run reg add 'HKLM\SYSTEM\CurrentControlSet\Services\ndxtlm\Parameters' /v ReceiveThreadDelayMS \
    /t REG_DWORD /d 0 /f >/dev/null 2>&1
  # The NIC scenario: the NIC test's records for this host's first Ethernet port that is up.
  local mac="" dev
  for dev in /sys/class/net/*; do
    [ "$(basename "$dev")" = lo ] && continue
    [ "$(cat "$dev/operstate" 2>/dev/null)" = up ] || continue
    mac=$(cat "$dev/address"); break
  done
  [ -n "$mac" ] || mac=02:00:00:00:00:01
  python3 tests/e2e/nic_fixture.py "$mac" "$work/records.reg" "$work/nic-rows.txt"
  run reg import "$winwork\\records.reg" >/dev/null 2>&1 || fail "the NIC records were not imported"
  keep_nic_library_ready 2
  # The host from a folder of its own (netvarix.dll beside it would rewrite the records).
  mkdir -p "$work/host" "$work/d"
  # Without its debug sections, as the product's binaries ship (Wine reads every section of an
  # image into memory): what is measured is the collection's memory, not the test host's DWARF.
  x86_64-w64-mingw32-objcopy --strip-debug "$bindir/collector_e2e_host.exe" "$work/host/collector_e2e_host.exe"
  start_sim 1
  run "$work/host/collector_e2e_host.exe" --sim "$sim" --dir "$winwork\\d" --lockstep \
    --collectors "${BENCH_CYCLE_COLLECTORS:-ZDTSTDEQ,ZDTHOST,ZDTSCSI,ZDTSAS,ZDTIDE,ZDTFCA,ZDTISCSI,ZDTNIC,MIB-2}" \
    --storage-server "Z:${bindir//\//\\}\\e2e_hba\\HBAAPI.dll" --software-seams --blackbox --nic-library-pass \
    >"$work/host.out" 2>&1 &
  pids+=($!)
  wait_for 120 test -s "$work/d/registered" || fail "the collectors did not register: $(tail -5 "$work/host.out")"
  host_pid=$(prefix_pid collector_e2e_host.exe) || fail "the host's process was not found"
  sleep 2
  : >"$work/cpu.txt"
  cycle() {  # N: lets cycle N run, waits for its record; its process ticks into cpu.txt
    local t0 t1
    t0=$(ticks "$host_pid")
    touch "$work/d/go-$1"
    wait_for 600 test -s "$work/d/cycle-$1.txt" || fail "cycle $1 did not end: $(tail -5 "$work/host.out")"
    t1=$(ticks "$host_pid")
    echo "$1 $((t1 - t0)) $(private "$host_pid")" >>"$work/cpu.txt"
  }
  cycle 1
  echo "$(rss "$host_pid") $(private "$host_pid") $(threads "$host_pid")" >"$work/mem-first.txt"
  cp "/proc/$host_pid/smaps" "$work/smaps-first.txt" 2>/dev/null || true
  # C: the walk with collection idle (after the first cycle: the objects are there), then during
  # cycles run back to back.
  python3 scripts/bench_walk.py "$snmp_port" "$E" "$work/walk-idle.txt" --steps "$walk_steps" >/dev/null ||
    fail "the idle walk failed"
  python3 scripts/bench_walk.py "$snmp_port" "$E" "$work/walk-busy.txt" --until "$work/busy-done" --min-steps 200 \
    >"$work/walk-busy.out" &
  local walker=$!
  for n in $(seq 2 $((busy_cycles + 1))); do cycle "$n"; done
  touch "$work/busy-done"
  wait "$walker" || fail "the walk during collection failed"
  # The rest of the cycles, nothing else asked of the host.
  for n in $(seq $((busy_cycles + 2)) "$cycles"); do cycle "$n"; done
  echo "$(rss "$host_pid") $(private "$host_pid") $(threads "$host_pid")" >"$work/mem-last.txt"
  cp "/proc/$host_pid/smaps" "$work/smaps-last.txt" 2>/dev/null || true
  echo "$(getconf CLK_TCK) $busy_cycles $cycles" >"$work/params.txt"
  floor_of host "$host_pid"
}

# ---- 7: walk cost per object as the table grows ---------------------------------------------------
growth_part() {
  winedir=$root/build/bench-windows/wine
  bindir=$root/build/windows/bin
  work=$out/growth
  # shellcheck source=../tests/e2e/snmp_e2e_lib.sh
  . tests/e2e/snmp_e2e_lib.sh
  e2e_start growth
  start_sim 1
  : >"$work/growth.txt"
  local n dir host objects start steps
  for n in 1000 10000 100000; do
    dir=$work/rows-$n; mkdir -p "$dir"
    "$wine_run" "$winedir" "$bindir/agentx_e2e_host.exe" --sim "$sim" --rows "$n" --dir "$winwork\\rows-$n" \
      --receive-delay 0 --store-heap-mb 256 >"$dir/host.out" 2>&1 &
    host=$!
    wait_for 120 test -s "$dir/registered" || fail "the sub-agent of $n rows did not register: $(tail -3 "$dir/host.out")"
    objects=$(wc -l <"$dir/expected.txt")
    if [ "$growth_steps" = 0 ] || [ "$growth_steps" -ge "$objects" ]; then
      start=$E; steps=$objects
    else
      # From the middle of the table: a step costs what it costs where the table is.
      start=$(sed -n "$((objects / 2))p" "$dir/expected.txt" | awk '{print $1}'); steps=$growth_steps
    fi
    python3 scripts/bench_walk.py "$snmp_port" "$E" "$dir/walk.txt" --start "$start" --steps 200 >/dev/null  # warm-up
    python3 scripts/bench_walk.py "$snmp_port" "$E" "$dir/walk.txt" --start "$start" --steps "$steps" >/dev/null ||
      fail "the walk of $n rows failed"
    echo "$n $objects $steps" >>"$work/growth.txt"
    touch "$dir/stop"
    wait "$host" || true
  done
}

# ---- 6: the idle service under the service control manager --------------------------------------
idle_part() {
  service_part_start idle
  trap service_cleanup EXIT
  sim=oxbsim    # the simulation build's default channel name
  start_sim 1
  # Every collector on; everything else (intervals, the receive thread's pause) at its default.
  only_collectors ZDTHOST ZDTIDE ZDTNIC ZDTSAS ZDTSTDEQ ZDTFCA ZDTISCSI MIB2
  start_service
  wait_for 60 grep -q 'axforward .*type=1$' "$work/sim1.txt" || fail "the service opened no AgentX session"
  # The first full collection of every collector done (the scheduler's own mark).
  first_done() {
    "$wine_run" "$winedir" reg query 'HKLM\SYSTEM\CurrentControlSet\Services\ndxtlm' /v FirstDataCollectionDone \
      2>/dev/null | tr -d '\r' | grep -q 'REG_DWORD.*0x1$'
  }
  local waited=0
  until first_done; do
    sleep 2; waited=$((waited + 2))
    [ "$waited" -lt 600 ] || fail "the service's first collection did not end"
  done
  sleep 5   # the cycle's last pause, and start-up work done
  service_pid=$(prefix_pid qzrtlm_sim.exe) || fail "the service's process was not found"
  server_pid=$(prefix_pid wineserver) || server_pid=""
  first_rss=$(rss "$service_pid") first_private=$(private "$service_pid")
  cp "/proc/$service_pid/smaps" "$work/smaps-first.txt" 2>/dev/null || true
  threads "$service_pid" >"$work/threads.txt"
  # For scale: what any Wine program holds resident (one that only waits), and the floor.
  "$wine_run" "$winedir" "$bindir/floor_bench.exe" wait 6 >/dev/null 2>&1 &
  pids+=($!)
  wait_for 20 prefix_pid "floor_bench.exe wait" >/dev/null || true
  sleep 3
  bare_pid=$(prefix_pid "floor_bench.exe wait") && bare=$(rss "$bare_pid") || bare=0
  floor_of service "$service_pid"
  sleep 4   # gone before the idle period
  s0=$(ticks "$service_pid") w0=$(ticks "$server_pid")
  sleep "$idle_seconds"
  s1=$(ticks "$service_pid") w1=$(ticks "$server_pid")
  hz=$(getconf CLK_TCK)
  echo "$idle_seconds $(( s1 - s0 )) $(( w1 - w0 )) $hz $(rss "$service_pid") $(rss "$(cat "$work/snmpd.pid")") $bare" \
    "$first_rss $first_private $(private "$service_pid")" >"$work/idle.txt"
}

# BENCH_PARTS picks parts (walk store cycles idle growth; all by default), for working on one.
parts=" ${BENCH_PARTS:-walk store cycles idle growth} "
want() { [[ "$parts" == *" $1 "* ]]; }
stop_prefixes() { scripts/wine-stop.sh build/bench-windows/wine >/dev/null 2>&1 || true; }
if want walk; then
  echo "== walk benchmark, hop trace and floor ($rounds rounds, $rows rows)"
  ( walk_part ); stop_prefixes
fi
if want store; then
  echo "== store benchmark"
  store_bench=$(find build/bench-native -name store_bench -type f | head -1)
  "$store_bench" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true 2>/dev/null \
    | grep '_median' >"$out/store.txt"
fi
if want cycles; then
  echo "== collection cycles, every collector over simulated hardware ($cycles cycles)"
  ( cycles_part ); stop_prefixes
fi
if want idle; then
  echo "== idle service under the service control manager, every collector on (${idle_seconds} s)"
  ( idle_part ); stop_prefixes
fi
if want growth; then
  echo "== walk cost per object at 1k, 10k and 100k rows"
  ( growth_part ); stop_prefixes
fi

# ---- the results file ---------------------------------------------------------------------------
python3 scripts/bench_report.py "$out" "$results" "$rows" "$rounds" "$commit" "$note"
# Every prefix the benchmark used keeps its wineserver up between programs: end them all.
scripts/wine-stop.sh "$root/build/bench-windows/wine"
echo "== results in $results ($SECONDS s)"
