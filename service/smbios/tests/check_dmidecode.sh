#!/usr/bin/env bash
# Cross-checks CSMBIOSTable against dmidecode: smbios_listing writes each copy as a dmidecode dump
# plus our own listing of handles, types, lengths and strings; dmidecode --from-dump -u must list
# the same structures (those it marks <TRUNCATED> are the ones our walk refuses).
#   check_dmidecode.sh MODE OUTDIR LISTING_TOOL [RUNNER...]
# MODE is "samples" or "live"; RUNNER runs the tool (wine-run.sh WINEDIR for the Windows build).
set -euo pipefail
mode=$1 out=$2 tool=$3; shift 3
runner=("$@")

fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$out"
mkdir -p "$out"
tool_out=$out
if [ ${#runner[@]} -gt 0 ]; then
  export WINEPREFIX=${WINEPREFIX:-${runner[1]}/prefix-smbios_dmidecode_$mode}
  # The prefix's Wine environment ends with the test.
  trap 'wineserver -k 2>/dev/null || true' EXIT
  tool_out="Z:$(printf '%s' "$out" | tr / '\\')"
fi
"${runner[@]}" "$tool" "$mode" "$tool_out" || fail "smbios_listing $mode exited with $?"

# dmidecode's -u output in the listing's format.
to_listing() {
  awk '
    function flush() { if (handle != "" && !truncated) printf "%s", block; block = ""; handle = "" }
    /^Handle 0x/ {
      flush()
      handle = $2; sub(",", "", handle); type = $5; sub(",", "", type)
      block = sprintf("handle %s type %s length %s\n", handle, type, $6)
      truncated = 0; instrings = 0; next
    }
    /<TRUNCATED>/ { truncated = 1; next }
    /^\tStrings:/ { instrings = 1; current = ""; text_next = 0; next }
    /^\t[^\t]/ { instrings = 0 }
    /^$/ { instrings = 0 }
    instrings && /^\t\t/ {
      if (text_next) { text_next = 0; next }
      n = split(substr($0, 3), bytes, " ")
      for (i = 1; i <= n; i++) {
        current = current " " bytes[i]
        if (bytes[i] == "00") { block = block "string" current "\n"; current = ""; text_next = 1 }
      }
      next
    }
    END { flush() }
  '
}

compared=0
for dump in "$out"/*.bin; do
  name=$(basename "$dump" .bin)
  dmidecode --from-dump "$dump" -u 2>"$out/$name.stderr" | to_listing > "$out/$name.dmidecode.txt"
  [ -s "$out/$name.txt" ] || fail "$name: our walk found no structure"
  if ! diff -u "$out/$name.dmidecode.txt" "$out/$name.txt" >&2; then
    fail "$name: dmidecode (-) and CSMBIOSTable (+) differ"
  fi
  compared=$((compared + 1))
done
[ "$compared" -gt 0 ] || fail "no dump was written"
echo "dmidecode agrees on $compared table(s) ($mode)"
