#!/usr/bin/env bash
# The boot record goes to the log once per boot of the operating system: once in the first start
# of the service, not again when the service starts again in the same boot, and once more after a
# reboot, here a restart of the prefix's wineserver (which takes the volatile keys with it).
#   check_boot_record.sh WINE_RUN WINEDIR BOOT_PROBE
set -euo pipefail
wine_run=$1 winedir=$2 probe=$3
export WINEPREFIX=$winedir/prefix-blackbox_boot_probe

fail() { echo "FAIL: $*" >&2; wineserver -k 2>/dev/null || true; exit 1; }
run() { "$wine_run" "$winedir" "$probe" "$@"; }
reboot() { wineserver -k 2>/dev/null || true; wineserver -w; }

# Make the prefix, then boot it afresh.
run none >/dev/null 2>&1 || true
reboot

run posted || fail "first start of the boot posted no single boot record"
run none || fail "a second start in the same boot posted the boot record again"
reboot
run posted || fail "the start after a reboot posted no single boot record"
wineserver -k 2>/dev/null || true
echo "one boot record per boot"
