#!/usr/bin/env bash
# Prints the export table of a PE file, one "ordinal name address" line per export, in ordinal
# order, read with objdump -p.
#   pe-exports.sh OBJDUMP FILE
set -euo pipefail
dump=$("$1" -p "$2")
base=$(awk '/Ordinal Base/ {print $NF; exit}' <<<"$dump")
# "[   0] +base[   1] 19a0 Export RVA" -> ordinal and address
declare -A address
while read -r ordinal rva; do address[$ordinal]=$rva; done < <(
  sed -n 's/^[[:space:]]*\[ *[0-9]*\] +base\[ *\([0-9]*\)\] \([0-9a-f]*\) Export RVA$/\1 \2/p' <<<"$dump")
# "[   2] Win2KMain" in the name table -> index from the base, and name
sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[ *\([0-9]*\)\] \(.*\)$/\1 \2/p' <<<"$dump" |
  while read -r index name; do
    ordinal=$((index + base))
    echo "$ordinal $name ${address[$ordinal]:-?}"
  done | sort -n
