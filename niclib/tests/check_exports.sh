#!/usr/bin/env bash
# Checks the export table of netvarix.dll: exactly three exports, ZdtNicMgmtReportError @1 and
# ZdtNicMgmtReportErrorDebug @2 at one address, Win2KMain @3 at another; and no fixture code in
# it (the test build beside it has some, so the search is known to find it).
#   check_exports.sh OBJDUMP netvarix.dll netvarix_lifecycle.dll
set -euo pipefail
objdump=$1
dll=$2
test_build=$3
dump=$("$objdump" -p "$dll")

# "[   0] +base[   1] 19a0 Export RVA" -> ordinal and address
mapfile -t rvas < <(sed -n 's/^[[:space:]]*\[ *[0-9]*\] +base\[ *\([0-9]*\)\] \([0-9a-f]*\) Export RVA$/\1 \2/p' <<<"$dump")
# "[   2] Win2KMain" in the name table -> ordinal - base and name
mapfile -t names < <(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[ *\([0-9]*\)\] \(.*\)$/\1 \2/p' <<<"$dump")

fail() { fixture_marks() { { grep -a -c -e NicFixture -e FixtureGetIfTable "$1" || true; } | head -1; }
[ "$(fixture_marks "$test_build")" -gt 0 ] || fail "no fixture code found in the test build either"
[ "$(fixture_marks "$dll")" -eq 0 ] || fail "fixture code in the product"
echo "netvarix exports: $*" >&2; echo "$dump" | sed -n '/Export Address Table --/,/^$/p' >&2; exit 1; }

[ "${#rvas[@]}" -eq 3 ] || fail "expected 3 exports, found ${#rvas[@]}"
declare -A rva name
for line in "${rvas[@]}"; do rva[${line%% *}]=${line#* }; done
for line in "${names[@]}"; do name[$(( ${line%% *} + 1 ))]=${line#* }; done

[ "${name[1]:-}" = ZdtNicMgmtReportError ] || fail "@1 is '${name[1]:-}'"
[ "${name[2]:-}" = ZdtNicMgmtReportErrorDebug ] || fail "@2 is '${name[2]:-}'"
[ "${name[3]:-}" = Win2KMain ] || fail "@3 is '${name[3]:-}'"
[ "${rva[1]}" = "${rva[2]}" ] || fail "@1 and @2 differ: ${rva[1]} ${rva[2]}"
[ "${rva[1]}" != "${rva[3]}" ] || fail "@3 shares the address of @1"
fixture_marks() { { grep -a -c -e NicFixture -e FixtureGetIfTable "$1" || true; } | head -1; }
[ "$(fixture_marks "$test_build")" -gt 0 ] || fail "no fixture code found in the test build either"
[ "$(fixture_marks "$dll")" -eq 0 ] || fail "fixture code in the product"
echo "netvarix exports: @1 @2 at ${rva[1]}, @3 Win2KMain at ${rva[3]}"
