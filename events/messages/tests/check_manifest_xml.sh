#!/usr/bin/env bash
# The event manifest file is well-formed XML as built. (The installer's tests check it again after
# the installer's rewrite.)
#   check_manifest_xml.sh XMLLINT MANIFEST
set -euo pipefail
xmllint=$1 manifest=$2

"$xmllint" --noout "$manifest"

echo "manifest well-formed"
