#!/usr/bin/env bash
# The project's benchmark, in one run (`make bench`); figures as medians and ratios, since absolute
# times on a shared machine are noisy. Writes scripts/bench_results.txt (or $BENCH_RESULTS).
#
#   1. The walk: snmpwalk of the service's subtree (snmpd -> AgentX -> oxbsim.exe bridge -> pipe ->
#      the sub-agent with "ReceiveThreadDelayMS" 0) against snmpwalk of snmpd's own objects, same
#      client, interleaved, BENCH_ROUNDS times each.
#   2. Per-hop table of those walks, from the time stamps of a build with hop tracing on
#      (build/bench-windows; the shipped build has none).
#   3. The floor: a named-pipe message round trip between two Wine processes, a native-to-Wine TCP
#      round trip, one thread hand-off through an event (floor_bench.exe).
#   4. The store benchmark (store_bench, an optimised native build in build/bench-native).
#   5. The idle service: qzrtlm_sim.exe under Wine's service control manager with its AgentX
#      session open (default settings), CPU seconds over BENCH_IDLE_SECONDS (300) of the service
#      and of the prefix's wineserver, and its resident set next to snmpd's.
#
# Parameters (environment): BENCH_ROWS (2000), BENCH_ROUNDS (5), BENCH_IDLE_SECONDS (300).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
rows=${BENCH_ROWS:-2000}
rounds=${BENCH_ROUNDS:-5}
idle_seconds=${BENCH_IDLE_SECONDS:-300}
results=${BENCH_RESULTS:-$root/scripts/bench_results.txt}
export WINEDEBUG=-all
wine_run=$root/scripts/wine-run.sh
out=$root/build/bench
rm -rf "$out"; mkdir -p "$out"

echo "== building the traced Windows tree and the optimised native store benchmark"
cmake -S . -B build/bench-windows -G Ninja --toolchain cmake/toolchain-mingw64.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTLM_HOP_TRACE=ON >/dev/null
cmake --build build/bench-windows -j4 --target agentx_e2e_host oxbsim floor_bench
cmake -S . -B build/bench-native -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DTLM_BENCHMARKS=ON >/dev/null
cmake --build build/bench-native -j4 --target store_bench
cmake --preset windows >/dev/null
cmake --build --preset windows -j4 --target qzrtlm_sim oxbsim floor_bench

median() { python3 -c 'import statistics,sys; print(f"{statistics.median(float(x) for x in sys.argv[1:]):.1f}")' "$@"; }

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

# ---- 5: the idle service under the service control manager --------------------------------------
idle_part() {
  # The shipped build's binaries, in a prefix of the benchmark's tree: tests running in
  # build/windows meanwhile end that tree's wineservers when they finish.
  winedir=$root/build/bench-windows/wine
  bindir=$root/build/windows/bin
  work=$out/idle
  # shellcheck source=../tests/e2e/snmp_e2e_lib.sh
  . tests/e2e/snmp_e2e_lib.sh
  run() { "$wine_run" "$winedir" "$@"; }
  # The service serves the host's MIB-2 groups itself: snmpd runs only its AgentX master module,
  # as the management processor's agent does, or those registrations would be duplicates.
  snmpd_modules=(-I agentx)
  e2e_start idle
  trap service_cleanup EXIT
  sim=oxbsim    # the simulation build's default channel name
  start_sim 1
  start_service
  wait_for 60 grep -q 'axforward .*type=1$' "$work/sim1.txt" || fail "the service opened no AgentX session"
  sleep 5   # start-up work done
  # The prefix's processes, by their environment and command line (not the wrapper scripts).
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
  service_pid=$(prefix_pid qzrtlm_sim.exe) || fail "the service's process was not found"
  server_pid=$(prefix_pid wineserver) || server_pid=""
  rss() { awk '/^VmRSS/ {print $2}' "/proc/$1/status"; }
  # For scale: what any Wine program holds resident (one that only waits).
  run "$bindir/floor_bench.exe" wait 6 >/dev/null 2>&1 &
  pids+=($!)
  wait_for 20 prefix_pid "floor_bench.exe wait" >/dev/null || true
  sleep 3
  bare_pid=$(prefix_pid "floor_bench.exe wait") && bare=$(rss "$bare_pid") || bare=0
  sleep 4   # gone before the idle period
  ticks() { [ -n "$1" ] && awk '{print $14 + $15}' "/proc/$1/stat" || echo 0; }
  s0=$(ticks "$service_pid") w0=$(ticks "$server_pid")
  sleep "$idle_seconds"
  s1=$(ticks "$service_pid") w1=$(ticks "$server_pid")
  hz=$(getconf CLK_TCK)
  echo "$idle_seconds $(( s1 - s0 )) $(( w1 - w0 )) $hz $(rss "$service_pid") $(rss "$(cat "$work/snmpd.pid")") $bare" \
    >"$work/idle.txt"
}

echo "== walk benchmark, hop trace and floor ($rounds rounds, $rows rows)"
( walk_part )
scripts/wine-stop.sh build/bench-windows/wine >/dev/null 2>&1 || true
echo "== store benchmark"
store_bench=$(find build/bench-native -name store_bench -type f | head -1)
"$store_bench" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true 2>/dev/null \
  | grep '_median' >"$out/store.txt"
echo "== idle service under the service control manager (${idle_seconds} s)"
( idle_part )
scripts/wine-stop.sh build/bench-windows/wine >/dev/null 2>&1 || true

# ---- the results file ---------------------------------------------------------------------------
python3 - "$out" "$results" "$rows" "$rounds" <<'PY'
import glob, statistics, subprocess, sys
out, results, rows, rounds = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
lines = []
svc, own = [], []
for line in open(f"{out}/walk/walks.txt"):
    n1, t0, t1, n2, t2 = line.split()
    svc.append((float(t1) - float(t0)) / int(n1) * 1e6)
    own.append((float(t2) - float(t1)) / int(n2) * 1e6)
s, o = statistics.median(svc), statistics.median(own)
floor = dict(l.split() for l in open(f"{out}/walk/floor.txt") if l.strip())
pipe, tcp, event = (float(floor[k]) for k in ("pipe_round_trip_us", "tcp_round_trip_us", "event_hand_off_us"))
# A walk step crosses what snmpd's own step crosses, plus one TCP round trip to the bridge, one pipe
# round trip to the service and one hand-off to its "AgentX" thread.
floor_sum = o + tcp + pipe + event
lines += ["# make bench: medians (us) and ratios; absolute times on this shared machine are noisy", "",
          f"## walk ({rounds} interleaved rounds, same client: snmpwalk -v2c over UDP on loopback)",
          f"service subtree via snmpd + AgentX bridge: {s:.1f} us/object ({rows + 2} objects)",
          f"snmpd's own objects:                      {o:.1f} us/object",
          f"ratio service / snmpd own:                {s / o:.2f}", "",
          "## floor components, measured in this run",
          f"named-pipe message round trip between two Wine processes: {pipe:.1f}",
          f"native-to-Wine TCP round trip:                            {tcp:.1f}",
          f"one thread hand-off through an event:                     {event:.1f}",
          f"floor of a walk step (snmpd's own + TCP + pipe + hand-off): {floor_sum:.1f}",
          f"ratio walk / floor:                                        {s / floor_sum:.2f}", "",
          "## per hop (traced build)"]
traces = sorted(glob.glob(f"{out}/walk/trace.*"))
table = subprocess.run([sys.executable, "tests/e2e/hop_table.py", *traces],
                       capture_output=True, text=True).stdout
lines += table.rstrip().splitlines() + ["", "## store benchmark (store_bench, optimised native build, medians of 3)"]
lines += [l.rstrip() for l in open(f"{out}/store.txt")]
seconds, svc_ticks, srv_ticks, hz, svc_rss, snmpd_rss, bare_rss = (int(x) for x in open(f"{out}/idle/idle.txt").read().split())
lines += ["", f"## idle service under the service control manager, AgentX session open, default settings ({seconds} s)",
          f"service CPU: {svc_ticks / hz:.2f} s = {100 * svc_ticks / hz / seconds:.3f} % of one core",
          f"its wineserver's CPU: {srv_ticks / hz:.2f} s = {100 * srv_ticks / hz / seconds:.3f} % of one core",
          f"service resident set: {svc_rss} KiB; snmpd's: {snmpd_rss} KiB; ratio {svc_rss / snmpd_rss:.2f}",
          f"for scale, a Wine program that only waits: {bare_rss} KiB; the service above it: {svc_rss - bare_rss} KiB"]
open(results, "w").write("\n".join(lines) + "\n")
print("\n".join(lines))
PY
# Every prefix the benchmark used keeps its wineserver up between programs: end them all.
scripts/wine-stop.sh "$root/build/bench-windows/wine"
echo "== results in $results"
