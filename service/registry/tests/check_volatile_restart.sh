#!/usr/bin/env bash
# A volatile key lives as long as its wineserver (the machine's boot, on Windows): created through
# CRegistry, it is gone after the wineserver restarts, while a persistent key stays. Deleting a
# value of the vanished key must not bring the key back.
#   check_volatile_restart.sh WINE_RUN WINEDIR REGISTRY_PROBE
set -euo pipefail
wine_run=$1 winedir=$2 probe=$3
export WINEPREFIX=$winedir/prefix-registry_volatile_restart
volatile='HKLM:\SOFTWARE\TlmRestart-Volatile\Records'
persistent='HKLM:\SOFTWARE\TlmRestart-Persistent'

fail() { echo "FAIL: $*" >&2; WINEPREFIX=$WINEPREFIX wineserver -k 2>/dev/null || true; exit 1; }
run() { "$wine_run" "$winedir" "$probe" "$@"; }

# The first run makes the prefix; then one persistent wineserver serves the first half, whatever
# the gaps between the processes.
run exists 'HKLM:\SOFTWARE' || fail "prefix not usable"
wineserver -k 2>/dev/null || true
wineserver -w
wineserver -p

run create-volatile "$volatile" || fail "could not create the volatile key"
run create "$persistent" || fail "could not create the persistent key"
run exists "$volatile" || fail "volatile key missing before the restart"
run exists "$persistent" || fail "persistent key missing before the restart"

wineserver -k || true
wineserver -w

if run exists "$volatile"; then fail "volatile key survived the restart"; fi
run exists "$persistent" || fail "persistent key lost in the restart"
if run delete-value "$volatile"; then fail "deleting a value of the vanished key succeeded"; fi
if run exists "$volatile"; then fail "deleting a value brought the volatile key back"; fi

wineserver -k || true
echo "volatile key vanished with its wineserver; persistent key kept"
