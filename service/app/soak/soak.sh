#!/usr/bin/env bash
# The reliability soak, run by hand (it is no test): 100 start/stop cycles of the service under
# Wine's service control manager, for each program, and 100 OnStart/OnStop cycles in one process,
# with handle counts and private bytes before and after. The figures go to results.txt beside
# this script.
#
#   service/app/soak/soak.sh [CYCLES]     (after a Windows build: cmake --build --preset windows)
set -euo pipefail
cd "$(dirname "$0")/../../.."
cycles=${1:-100}
bin=$PWD/build/windows/bin
winedir=$PWD/build/windows/wine
export WINEPREFIX=$winedir/prefix-soak
out=service/app/soak/results.txt
run() { scripts/wine-run.sh "$winedir" "$@"; }
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

mib() { python3 -c "print(f'{$1 / 1048576:.2f} MiB')"; }
{
  echo "# Reliability soak ($(date -u '+%Y-%m-%d %H:%M UTC'), Wine $(wine --version 2>/dev/null), $cycles cycles each)"
  echo "# Handles: the system handle table's entries of the process. Private bytes: its committed"
  echo "# private memory. Before = after one warm-up cycle; after = after the cycles."
  for program in qzrtlm_sim qzrtlm; do
    path=$(realpath "$bin/$program.exe")
    start=$(date +%s.%N)
    read -r done h0 p0 h1 p1 sh0 sp0 sh1 sp1 < <(run "$bin/lifecycle_soak.exe" scm "$cycles" "Z:${path//\//\\}" | tr -d '\r')
    end=$(date +%s.%N)
    echo
    echo "$program.exe under the service control manager: $done start/stop cycles in $(python3 -c "print(round($end - $start, 1))") s"
    echo "  services.exe handles:        before $h0, after $h1 (change $((h1 - h0)))"
    echo "  services.exe private bytes:  before $(mib "$p0"), after $(mib "$p1") (change $(( (p1 - p0) / 1024 )) KiB)"
    echo "  the service process while RUNNING, first and last cycle: handles $sh0 / $sh1, private bytes $(mib "$sp0") / $(mib "$sp1")"
  done
  start=$(date +%s.%N)
  read -r done h0 p0 h1 p1 < <(run "$bin/lifecycle_soak.exe" cycles "$cycles" | tr -d '\r')
  end=$(date +%s.%N)
  echo
  echo "OnStart/OnStop in one process (qzrtlm_sim's code): $done cycles in $(python3 -c "print(round($end - $start, 1))") s"
  echo "  handles:        before $h0, after $h1 (change $((h1 - h0)))"
  echo "  private bytes:  before $(mib "$p0"), after $(mib "$p1") (change $(( (p1 - p0) / 1024 )) KiB)"
} | tee "$out"
