#!/usr/bin/env bash
# The event manifest the build generates stays well-formed XML after the installer's rewrite, keeps
# its guid and symbol, and names the provider and the installed program.
#   check_rewritten_manifest.sh XMLLINT REWRITE_TOOL MANIFEST
set -euo pipefail
xmllint=$1 tool=$2 manifest=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$tool" "$manifest" "$work/rewritten.man"
"$xmllint" --noout "$work/rewritten.man"
attribute() { "$xmllint" --xpath "string(//*[local-name()='provider']/@$1)" "$work/rewritten.man"; }
for name in resourceFileName messageFileName; do
  [ "$(attribute $name)" = 'C:\Program Files\Vostrel-Quinbar\TLM\Service\qzrtlm.exe' ] \
    || { echo "after the rewrite $name is '$(attribute $name)'" >&2; exit 1; }
done
[ "$(attribute name)" = "NDX Velmarine Management Service" ] || { echo "provider name '$(attribute name)'" >&2; exit 1; }
for kept in guid symbol; do
  [ "$(attribute $kept)" = "$("$xmllint" --xpath "string(//*[local-name()='provider']/@$kept)" "$manifest")" ] \
    || { echo "the rewrite changed the provider's $kept" >&2; exit 1; }
done
echo "manifest well-formed after the installer's rewrite, guid and symbol kept"
