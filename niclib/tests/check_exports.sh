#!/usr/bin/env bash
# Checks the export table of netvarix.dll: exactly three exports, ZdtNicMgmtReportError @1 and
# ZdtNicMgmtReportErrorDebug @2 at one address, Win2KMain @3 at another; and no fixture code in
# it (the test build beside it has some, so the search is known to find it).
#   check_exports.sh OBJDUMP netvarix.dll netvarix_lifecycle.dll
set -euo pipefail
objdump=$1 dll=$2 test_build=$3
exports=$("$(dirname "$0")/../../scripts/pe-exports.sh" "$objdump" "$dll")

fail() { echo "netvarix exports: $*" >&2; echo "$exports" >&2; exit 1; }

[ "$(wc -l <<<"$exports")" -eq 3 ] || fail "expected 3 exports"
read -r o1 n1 a1 o2 n2 a2 o3 n3 a3 <<<"$(tr '\n' ' ' <<<"$exports")"
[ "$o1 $n1" = "1 ZdtNicMgmtReportError" ] || fail "@1 is '$n1'"
[ "$o2 $n2" = "2 ZdtNicMgmtReportErrorDebug" ] || fail "@2 is '$n2'"
[ "$o3 $n3" = "3 Win2KMain" ] || fail "@3 is '$n3'"
[ "$a1" = "$a2" ] || fail "@1 and @2 differ: $a1 $a2"
[ "$a1" != "$a3" ] || fail "@3 shares the address of @1"

fixture_marks() { { grep -a -c -e NicFixture -e FixtureGetIfTable "$1" || true; } | head -1; }
[ "$(fixture_marks "$test_build")" -gt 0 ] || fail "no fixture code found in the test build either"
[ "$(fixture_marks "$dll")" -eq 0 ] || fail "fixture code in the product"
echo "netvarix exports: @1 @2 at $a1, @3 Win2KMain at $a3"
