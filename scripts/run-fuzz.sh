#!/usr/bin/env bash
# Runs one libFuzzer target for a bounded number of iterations, starting from its seed corpus.
# The seeds stay untouched; what the run finds goes to a work folder in the build tree.
#   run-fuzz.sh FUZZER SEED_DIR WORK_DIR RUNS
# The time cap keeps a slow machine from holding the test run up, but it must not quietly turn a
# run into a much shorter one: the executions reached are printed, and a run that reached less
# than a tenth of the asked iterations fails.
# The seed is fixed, so that a run of the same tree explores the same inputs and a test run's
# result does not change from one run to the next; FUZZ_SEED=0 asks libFuzzer for a random seed
# (for a longer hunt by hand).
set -euo pipefail
fuzzer=$1 seeds=$2 work=$3 runs=$4
mkdir -p "$work"
log="$work/last-run.log"
status=0
"$fuzzer" -seed="${FUZZ_SEED:-1}" -runs="$runs" -max_total_time=300 -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$work/" "$work" "$seeds" >"$log" 2>&1 || status=$?
cat "$log"
if [ "$status" -ne 0 ]; then
    exit "$status"
fi
done_line=$(grep -Eo 'Done [0-9]+ runs in [0-9]+ second' "$log" | tail -n 1 || true)
reached=$(sed -E 's/Done ([0-9]+) runs.*/\1/' <<<"$done_line")
if [ -z "$reached" ]; then
    echo "run-fuzz: no count of executions in the fuzzer's output" >&2
    exit 1
fi
echo "run-fuzz: $reached of $runs executions reached"
if [ $((reached * 10)) -lt "$runs" ]; then
    echo "run-fuzz: fewer than a tenth of the asked executions ran before the time cap" >&2
    exit 1
fi
