#!/usr/bin/env bash
# Runs one libFuzzer target for a bounded number of iterations, starting from its seed corpus.
# The seeds stay untouched; what the run finds goes to a work folder in the build tree.
#   run-fuzz.sh FUZZER SEED_DIR WORK_DIR RUNS
set -euo pipefail
fuzzer=$1 seeds=$2 work=$3 runs=$4
mkdir -p "$work"
exec "$fuzzer" -runs="$runs" -max_total_time=120 -timeout=10 -rss_limit_mb=2048 \
     -artifact_prefix="$work/" "$work" "$seeds"
