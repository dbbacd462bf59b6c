#!/usr/bin/env bash
# The demo: the service program installed in Wine's service control manager, started, asked for
# its status and stopped, showing every state it passes through and the events it reported.
# Runs the simulation build (qzrtlm_sim.exe), which writes its events to a file since Wine's
# event log keeps nothing.
set -euo pipefail
cd "$(dirname "$0")/.."

bin=$PWD/build/windows/bin
winedir=$PWD/build/windows/wine
export WINEPREFIX=$winedir/prefix-demo
run() { scripts/wine-run.sh "$winedir" "$@"; }
trap 'run sc delete ndxtlm >/dev/null 2>&1 || true; WINEPREFIX=$WINEPREFIX wineserver -k >/dev/null 2>&1 || true' EXIT

state() { run sc query ndxtlm 2>/dev/null | tr -d '\r' | awk '/STATE/ {print $4}'; }

watch_until() {
  local wanted=$1 last="" now
  for _ in $(seq 1 200); do
    now=$(state)
    if [ -n "$now" ] && [ "$now" != "$last" ]; then
      echo "  state: $now"
      last=$now
    fi
    [ "$now" = "$wanted" ] && return 0
    sleep 0.05
  done
  echo "  (gave up waiting for $wanted)"
  return 1
}

rm -f "$bin/qzrtlm_sim.events.txt"
echo "== Installing the service \"ndxtlm\" (NDX Velmarine Management Service)"
run sc delete ndxtlm >/dev/null 2>&1 || true
winpath=$(run winepath -w "$bin/qzrtlm_sim.exe" 2>/dev/null | tr -d '\r')
run sc create ndxtlm binPath= "\"$winpath\"" DisplayName= "NDX Velmarine Management Service" | tr -d '\r'

echo "== Starting"
run sc start ndxtlm >/dev/null
watch_until RUNNING

echo "== Status as the service control manager reports it"
run sc query ndxtlm | tr -d '\r' | grep -E 'STATE|CHECKPOINT|WAIT_HINT|EXIT_CODE' || true

echo "== Stopping"
run sc stop ndxtlm >/dev/null
watch_until STOPPED

echo "== Events the service reported"
for _ in $(seq 1 100); do
  grep -q '^0x41010065' "$bin/qzrtlm_sim.events.txt" 2>/dev/null && break
  sleep 0.05
done
if [ -f "$bin/qzrtlm_sim.events.txt" ]; then
  while IFS=$'\t' read -r id type category source rest; do
    case "$id" in
      0x41010064) text="The service process has started." ;;
      0x41010065) text="The service process has stopped." ;;
      *) text="$rest" ;;
    esac
    echo "  $id  $source: $text"
  done < "$bin/qzrtlm_sim.events.txt"
fi
