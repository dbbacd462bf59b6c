#!/usr/bin/env bash
# Installs every package that the build, the tests and the demo need. Idempotent, and quiet when
# everything is already there.
set -euo pipefail

packages=(
  # build
  cmake ninja-build make g++ clang libclang-rt-14-dev googletest libbenchmark-dev
  mingw-w64 gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  # the Windows the tests run on
  wine wine64
  # real peers of the tests and the demo
  snmpd snmptrapd snmp msitools wixl dmidecode libc-bin python3
  # a network namespace of its own for the watchers test (unshare, ip)
  util-linux iproute2
  # checks of generated files
  libxml2-utils
  # a real option ROM for the IDE RAID BIOS scan
  seabios
  # cross-checks of the NVMe, LOG SENSE and PCI fixtures
  libnvme-dev sg3-utils pciutils
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
$sudo apt-get install -y -qq "${missing[@]}" >/dev/null
