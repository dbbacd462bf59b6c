#!/usr/bin/env bash
# The custom-action library exports exactly its five actions, each at its ordinal.
#   check_exports.sh OBJDUMP qzrtlmca.dll
set -euo pipefail
actual=$("$(dirname "$0")/../../scripts/pe-exports.sh" "$1" "$2" | cut -d' ' -f1,2)
expected="1 DepCheck
2 PostInstall
3 PostUninstall
4 PreInstall
5 PreUninstall"
if [ "$actual" != "$expected" ]; then
  echo "exports differ:"; echo "$actual"; exit 1
fi
echo "five actions at their ordinals"
