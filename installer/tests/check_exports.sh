#!/usr/bin/env bash
# The custom-action library exports exactly its five actions, each at its ordinal.
#   check_exports.sh OBJDUMP qzrtlmca.dll
set -euo pipefail
dump=$("$1" -p "$2")
table=$(echo "$dump" | awk '/\[Ordinal\/Name Pointer\] Table/ {on=1; next} on && NF == 0 {on=0} on {print}')
base=$(awk '/Ordinal Base/ {print $NF; exit}' <<<"$dump")
expected="1 DepCheck
2 PostInstall
3 PostUninstall
4 PreInstall
5 PreUninstall"
actual=$(echo "$table" | sed -E 's/^\s*\[\s*([0-9]+)\]\s+(\S+).*/\1 \2/' | while read -r index name; do
  echo "$((index + base)) $name"; done)
if [ "$actual" != "$expected" ]; then
  echo "exports differ:"; echo "$actual"; exit 1
fi
echo "five actions at their ordinals"
