#!/usr/bin/env bash
# Configures and builds both flavours, then runs every test of both: the portable core natively
# under the sanitizers (with each fuzz target for a bounded number of iterations), and everything
# under Wine. Extra arguments go to both ctest runs (for example -L svc-host).
set -uo pipefail
cd "$(dirname "$0")/.."

jobs=${JOBS:-$(nproc)}
status=0

cmake --preset native >/dev/null && cmake --build --preset native -j "$jobs" || exit 1
cmake --preset windows >/dev/null && cmake --build --preset windows -j "$jobs" || exit 1

ctest --preset native -j "$jobs" "$@" || status=1
ctest --preset windows -j "$jobs" "$@" || status=1
scripts/wine-stop.sh build/windows/wine
exit $status
