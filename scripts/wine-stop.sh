#!/usr/bin/env bash
# Stops the wineserver of every prefix under WINEDIR (the end of a test run or demo).
winedir=${1:?usage: wine-stop.sh WINEDIR}
[ -d "$winedir" ] || exit 0
for prefix in "$winedir"/template "$winedir"/prefix-*; do
  [ -f "$prefix/.tlm-ready" ] || [ -f "$prefix/system.reg" ] || continue
  WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
done
exit 0
