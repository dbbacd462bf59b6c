#!/usr/bin/env bash
# Configures and builds both flavours, then runs every test of both, the two runs side by side:
# the portable core natively under the sanitizers (with each fuzz target for a bounded number of
# iterations), and everything under Wine. Extra arguments go to both ctest runs (for example
# -L svc-host).
# At the end it prints how long each step took and, per label, the time its tests took
# (scripts/test_budget.txt records these figures for whole runs).
set -uo pipefail
cd "$(dirname "$0")/.."

jobs=${JOBS:-$(nproc)}
status=0
logs=build/test-logs
mkdir -p "$logs"
steps=()

step_line() {  # NAME START RC: a step's line of the closing table
  printf '%-16s %5d s%s' "$1" $(($(date +%s) - $2)) "$([ "$3" = 0 ] || echo '  (failed)')"
}

timed() {  # NAME COMMAND...: runs the command, records its wall time, returns its status
  local name=$1 start rc=0
  shift
  start=$(date +%s)
  "$@" || rc=$?
  steps+=("$(step_line "$name" "$start" $rc)")
  return $rc
}

build() {  # PRESET
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j "$jobs"
}

run_tests() {  # PRESET ARGS...: ctest's output to the terminal and to the step's log
  local preset=$1
  shift
  ctest --preset "$preset" -j "$jobs" "$@" 2>&1 | tee "$logs/ctest-$preset.log"
  return "${PIPESTATUS[0]}"
}

summary() {
  local passed=0 failed=0 line
  echo
  echo "==== make test: time per step (wall, -j $jobs on $(nproc) processors) ===="
  printf '%s\n' "${steps[@]}"
  printf '%-16s %5d s\n' total $(($(date +%s) - begin))
  for preset in native windows; do
    [ -f "$logs/ctest-$preset.log" ] || continue
    echo "==== $preset: time per label (the label's tests added up) ===="
    sed -n '/^Label Time Summary:/,/^$/p' "$logs/ctest-$preset.log" | sed '1d;/^$/d'
    # "97% tests passed, 3 tests failed out of 100"
    line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$logs/ctest-$preset.log" | tail -1)
    if [ -n "$line" ]; then
      set -- $(echo "$line" | sed -E 's/^[0-9]+% tests passed, ([0-9]+) tests? failed out of ([0-9]+).*/\1 \2/')
      failed=$((failed + $1)); passed=$((passed + $2 - $1))
    fi
  done
  echo "tests: $passed passed, $failed failed"
}

begin=$(date +%s)
rm -f "$logs"/ctest-*.log
timed "native build" build native || { summary; exit 1; }
timed "windows build" build windows || { summary; exit 1; }
# The two test runs go side by side: the Windows tests spend much of their time waiting on Wine
# and on the end-to-end peers, which the native tests (sanitizers, fuzz runs) fill. The native
# run's output goes to its log and is shown once the Windows run has ended.
native_tests() {
  local start=$(date +%s) rc=0
  ctest --preset native -j "$jobs" "$@" >"$logs/ctest-native.log" 2>&1 || rc=$?
  step_line "native tests" "$start" $rc >"$logs/native-step.txt"
  return $rc
}
native_tests "$@" &
native=$!
timed "windows tests" run_tests windows "$@" || status=1
wait "$native" || status=1
steps+=("$(cat "$logs/native-step.txt")")
echo "==== native tests (build/test-logs/ctest-native.log) ===="
if grep -q '^The following tests FAILED:' "$logs/ctest-native.log"; then
  cat "$logs/ctest-native.log"
else
  sed -n '/tests passed/,$p' "$logs/ctest-native.log"
fi
scripts/wine-stop.sh build/windows/wine
summary
exit $status
