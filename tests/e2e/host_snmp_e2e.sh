#!/usr/bin/env bash
# The host group end to end, through snmpd and oxbsim.exe's AgentX bridge, against one of two
# programs that run the host collector under the real scheduler and sub-agent: the test host
# collector_e2e_host.exe, or (--service) the service itself, qzrtlm_sim.exe installed and started
# under Wine's service control manager with only the host collector enabled. net-snmp's clients
# walk the group. Every value is checked against what Wine itself says through its own tools
# (wmic, reg) and what Linux says of the same disks and memory (df, /proc/meminfo). Then the
# heartbeat key is written with reg and snmptrapd must receive the test trap.
#
#   host_snmp_e2e.sh WINE_RUN WINEDIR BINDIR WORKDIR [--service]
set -euo pipefail

wine_run=$1 winedir=$2 bindir=$3 work=$4 mode=${5:-}
# shellcheck source=snmp_e2e_lib.sh
. "$(dirname "$0")/snmp_e2e_lib.sh"

if [ "$mode" = --service ]; then
  e2e_start hostsvce2e
  trap service_cleanup EXIT
  # The simulation build finds the simulated processor under its default name.
  sim=oxbsim
  start_sim 1
  only_collectors ZDTHOST
  start_service
  first_collection=120
else
  e2e_start hoste2e
  start_sim 1
  "$wine_run" "$winedir" "$bindir/collector_e2e_host.exe" --sim "$sim" --dir "$winwork" \
    --collectors ZDTHOST --heartbeat-ms 200 >"$work/host.out" 2>&1 &
  pids+=($!)
  wait_for 180 test -s "$work/registered" || fail "the sub-agent did not register"
  grep -q 'result 0$' "$work/registered" || fail "a registration failed: $(cat "$work/registered")"
  first_collection=60
fi

H=$E.11.2
served() { snmpget "${snmp[@]}" "$H.13.1.0" 2>/dev/null | grep -q INTEGER; }
wait_for $first_collection served || fail "the first host collection was not served"
snmpwalk "${snmp[@]}" "$E.11" >"$work/walk.txt"

# The value of one object in the walk, without its type.
value() {
  local line
  line=$(grep -E "^$1 = " "$work/walk.txt") || { echo "(missing $1)"; return 0; }
  line=${line#* = }
  line=${line#*: }
  line=${line#\"}
  echo "${line%\"}"
}
expect() {  # what, got, want
  [ "$2" = "$3" ] || fail "$1: got [$2] want [$3]"
}
# Wine's own tools; their output without carriage returns (and NULs of UTF-16 output).
wine_tool() { { "$wine_run" "$winedir" "$@" 2>/dev/null || true; } | tr -d '\r\0'; }
reg_value() {  # key, name: the data of a registry value as reg query prints it; empty when absent
  wine_tool reg query "$1" /v "$2" | sed -n "s/^ *$2 \{2,\}REG_[A-Z_]* \{2,\}//p"
}

# Operating system: name and version as wmic reads Win32_OperatingSystem.
wmic=$(wine_tool wmic os get Caption,Version | sed -n 2p)
caption=$(value "$H.2.1.0")
version=$(value "$H.2.2.0")
[ -n "$caption" ] || fail "no OS name"
expect "OS name and version" "$(echo "$wmic" | tr -s ' ' | sed 's/ *$//')" "$caption $version"

cv='HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion'
build=${version##*.}
current_type=$(reg_value "$cv" CurrentType)
expect "build text" "$(value "$H.2.3.0")" "Build $build${current_type:+ $current_type}"
major=$(reg_value "$cv" CurrentMajorVersionNumber)
minor=$(reg_value "$cv" CurrentMinorVersionNumber)
if [ -n "$major" ] && [ -n "$minor" ]; then
  windows_version="$((major)).$((minor))"
else
  windows_version=$(reg_value "$cv" CurrentVersion)
fi
description="Hardware: $(reg_value 'HKLM\HARDWARE\DESCRIPTION\System\CentralProcessor\0' Identifier)"
description+=" $(reg_value 'HKLM\HARDWARE\DESCRIPTION\System' Identifier)"
description+=" - Software: Windows Version $windows_version (Build $(reg_value "$cv" CurrentBuild) $current_type)"
expect "system description" "$(value "$H.2.13.0")" "$description"
expect "OS type" "$(value "$H.2.4.0")" "$(($(reg_value 'HKLM\SYSTEM\ZORUROvid' HostOsType)))"

# File systems: a row per fixed drive (Wine's drive letters), its size as df sees its folder.
rows=0
for device in "$WINEPREFIX"/dosdevices/?:; do
  letter=$(basename "$device" | tr a-z A-Z | tr -d :)
  folder=$(realpath "$device")
  short=$(value "$H.4.1.1.9.$rows")
  case "$short" in "$letter:\\"*) ;; *) fail "row $rows is [$short], want drive $letter:" ;; esac
  total=$(df -B1 --output=size "$folder" | tail -1 | tr -d ' ')
  expect "size of $letter:" "$(value "$H.4.1.1.3.$rows")" "$((total / 1048576))"
  rows=$((rows + 1))
done
[ "$rows" -ge 2 ] || fail "expected at least C: and Z:"
expect "no further row" "$(value "$H.4.1.1.9.$rows")" "(missing $H.4.1.1.9.$rows)"
expect "file-system scalar" "$(value "$H.4.2.0")" 2

# Memory: the total in MB, one more than the whole megabytes.
mem_kb=$(awk '/^MemTotal:/ { print $2 }' /proc/meminfo)
mem=$(value "$H.13.1.0")
diff=$((mem - (mem_kb / 1024 + 1)))
[ "${diff#-}" -le 1 ] || fail "memory total $mem MB, /proc/meminfo says $((mem_kb / 1024)) MB"

# The status objects answer.
for status in "$H.10.1.0" "$H.10.7.0"; do
  snmpget "${snmp[@]}" "$status" | grep -qE 'STRING|Hex-STRING' || fail "status object $status"
done

# The heartbeat test trap, asked for through the registry.
hb='HKLM\System\ZORUROVID\Heartbeat'
for name in StartTrap PeriodicTrapEnabled Timeout; do
  wine_tool reg add "$hb" /v "$name" /t REG_DWORD /d 1 /f >/dev/null
done
wait_for 180 grep -q "$E.0.11003" "$work/traps.log" || fail "snmptrapd did not receive the heartbeat trap"
grep -q "Remote Pelinor Test Trap" "$work/traps.log" || fail "the heartbeat trap lost its text"
expect "PeriodicallySendingTrap" "$(($(reg_value "$hb" PeriodicallySendingTrap)))" 1

echo "PASS"
