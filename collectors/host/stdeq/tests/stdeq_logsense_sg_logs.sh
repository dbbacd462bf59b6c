#!/usr/bin/env bash
# The LOG SENSE pages as the collector reads them, against sg_logs' decoding of the same bytes.
#   stdeq_logsense_sg_logs.sh LISTING FILE...
set -euo pipefail
listing=$1; shift
fail() { echo "FAIL: $*" >&2; exit 1; }
for page in "$@"; do
  theirs=$(sg_logs --in="$page" | awk '
    /Current temperature =/ { t = $4 } /Reference temperature =/ { r = $4 }
    /^    0x[0-9a-f][0-9a-f] / { printf "page %s\n", $1 }
    END { if (t != "") printf "temperature %s reference %s\n", t, r }')
  ours=$("$listing" "$page")
  [ -n "$theirs" ] || fail "sg_logs decoded nothing of $page"
  [ "$theirs" = "$ours" ] || fail "$(basename "$page"): sg_logs [$theirs] and the collector [$ours] differ"
done
echo "sg_logs agrees on $# page(s)"
