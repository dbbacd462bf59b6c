#!/usr/bin/env bash
# The system slots' IDs and addresses as the collector reads them, against dmidecode's decoding of
# the same bytes (the bay sample written as a dump by smbios_listing).
#   stdeq_slot_dmidecode.sh OUTDIR SMBIOS_LISTING SLOT_LISTING
set -euo pipefail
out=$1 listing=$2 slots=$3
fail() { echo "FAIL: $*" >&2; exit 1; }
rm -rf "$out"; mkdir -p "$out"
"$listing" samples "$out" >/dev/null
[ -s "$out/pcie-disk-slots.bin" ] || fail "no dump of the bay sample"
dmidecode --from-dump "$out/pcie-disk-slots.bin" -t 9 |
  awk '/^\tID:/ { id = $2 } /^\tBus Address:/ { printf "ID %s Bus %s\n", id, $3 }' >"$out/dmidecode.txt"
"$slots" pcie-disk-slots >"$out/ours.txt"
[ -s "$out/dmidecode.txt" ] || fail "dmidecode shows no slot address"
diff -u "$out/dmidecode.txt" "$out/ours.txt" || fail "dmidecode (-) and the collector (+) read the slots differently"
echo "dmidecode agrees on $(wc -l <"$out/ours.txt") slot(s)"
