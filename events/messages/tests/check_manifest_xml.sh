#!/usr/bin/env bash
# The event manifest file is well-formed XML as built, and stays so after the installer's rewrite:
# the provider line becomes the provider's opening with its name alone, and the lines naming the
# resource and message file come to name the installed program beside the manifest.
#   check_manifest_xml.sh XMLLINT MANIFEST
set -euo pipefail
xmllint=$1 manifest=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$xmllint" --noout "$manifest"

installed='C:\Program Files\Vostrel-Quinbar\TLM\Service\qzrtlmevents.man'
awk -v path="$installed" '
  function program(line, at) {
    at = index(line, "qzrtlmevents.man")
    return substr(line, 1, at - 1) "qzrtlm.exe\""
  }
  { sub(/\r$/, "") }
  /provider name=/ { $0 = "             <provider name=\"NDX Velmarine Management Service\"" }
  /resourceFileName=/ { $0 = program("                resourceFileName=\"" path) }
  /messageFileName=/ { $0 = program("                messageFileName=\"" path) }
  { printf "%s\r\n", $0 }
' "$manifest" > "$work/rewritten.man"

"$xmllint" --noout "$work/rewritten.man"
for attribute in resourceFileName messageFileName; do
  got=$("$xmllint" --xpath "string(//*[local-name()='provider']/@$attribute)" "$work/rewritten.man")
  if [ "$got" != 'C:\Program Files\Vostrel-Quinbar\TLM\Service\qzrtlm.exe' ]; then
    echo "after the rewrite $attribute is '$got'" >&2
    exit 1
  fi
done
guid=$("$xmllint" --xpath "string(//*[local-name()='provider']/@guid)" "$work/rewritten.man")
[ -n "$guid" ] || { echo "the rewrite lost the provider's guid" >&2; exit 1; }
echo "manifest well-formed before and after the installer's rewrite"
