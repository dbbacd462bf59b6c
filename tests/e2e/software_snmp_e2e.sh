#!/usr/bin/env bash
# The software inventory end to end: collector_e2e_host.exe runs the host collector with a test
# catalogue and the WMI classes Wine lacks answered from the system's own calls, under the real
# scheduler, sub-agent and black-box thread; oxbsim.exe bridges it to snmpd and keeps the
# black-box records. The software-version and running-software tables are walked through snmpd
# and checked against the files themselves and programs of the maker's that start and end, and
# the driver, service and usage records are checked against what Wine and Linux say.
#
#   software_snmp_e2e.sh WINE_RUN WINEDIR BINDIR WORKDIR
set -euo pipefail

wine_run=$1 winedir=$2 bindir=$3 work=$4
# shellcheck source=snmp_e2e_lib.sh
. "$(dirname "$0")/snmp_e2e_lib.sh"
e2e_start swe2e

# A collection every 10 seconds, so that a program's start and end show soon.
"$wine_run" "$winedir" reg add 'HKLM\SYSTEM\CurrentControlSet\Services\ndxtlm\Parameters' /v PollInterval \
  /t REG_DWORD /d 10 /f >/dev/null 2>&1
# A program of the maker's, started from a folder named with a path keyword before the first
# collection.
tool_dir=$WINEPREFIX/drive_c/Vostrel-Quinbar/Tools
mkdir -p "$tool_dir"
cp "$bindir/e2e_maker_tool.exe" "$tool_dir/fleethelper.exe"
( cd "$tool_dir" && exec "$wine_run" "$winedir" 'C:\Vostrel-Quinbar\Tools\fleethelper.exe' >/dev/null 2>&1 ) &
pids+=($!)
start_sim 1
"$wine_run" "$winedir" "$bindir/collector_e2e_host.exe" --sim "$sim" --dir "$winwork" \
  --collectors ZDTHOST --software-seams --blackbox >"$work/host.out" 2>&1 &
pids+=($!)
wait_for 180 test -s "$work/registered" || fail "the sub-agent did not register"

H=$E.11.2
SW=$H.7.2.1
RUN=$H.6.1.1
served() { snmpget "${snmp[@]}" "$SW.4.0" 2>/dev/null | grep -q STRING; }
wait_for 180 served || fail "the software-version table was not served"
snmpwalk "${snmp[@]}" "$H.7" >"$work/swver.txt"
snmpwalk "${snmp[@]}" "$H.6" >"$work/running.txt"

# The value of one object in a walk file, without its type and quotes.
value() {  # file, oid
  local line
  line=$(grep -E "^$2 = " "$1") || { echo "(missing $2)"; return 0; }
  line=${line#* = }
  line=${line#*: }
  line=${line#\"}
  line=${line%\"}
  echo "${line//\\\\/\\}"
}
expect() {  # what, got, want
  [ "$2" = "$3" ] || fail "$1: got [$2] want [$3]"
}
# The fixed file version of a file, read from its bytes: the VS_FIXEDFILEINFO after its signature.
fixed_version() {
  python3 - "$1" <<'PY'
import struct, sys
data = open(sys.argv[1], 'rb').read()
at = data.find(struct.pack('<I', 0xFEEF04BD))
if at < 0:
    print('')
else:
    ms, ls = struct.unpack_from('<II', data, at + 8)
    print('%u.%u.%u.%u' % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF))
PY
}
# A Windows path of drive C: as a path of the prefix (Wine's own folders are lower case).
unix_path() {
  local rest=${1#?:\\}
  rest=${rest//\\//}
  find "$WINEPREFIX/drive_c" -ipath "$WINEPREFIX/drive_c/$rest" -print -quit
}

expect "scalar 1" "$(value "$work/swver.txt" "$H.7.1.0")" -1
expect "scalar 3" "$(value "$work/swver.txt" "$H.7.3.0")" 10.100.0.0

# The catalogue's files that exist and, for the driver, run; HTTP is stopped under Wine.
names=()
for row in 0 1 2 3; do
  name=$(value "$work/swver.txt" "$SW.4.$row")
  case "$name" in "(missing"*) break ;; esac
  names+=("$name")
  expect "row index" "$(value "$work/swver.txt" "$SW.1.$row")" "$row"
  expect "status of $name" "$(value "$work/swver.txt" "$SW.2.$row")" 2
  file=$(unix_path "$(value "$work/swver.txt" "$SW.7.$row")")
  [ -n "$file" ] || fail "$name: no file at $(value "$work/swver.txt" "$SW.7.$row")"
  want=$(fixed_version "$file")
  expect "$name column 8" "$(value "$work/swver.txt" "$SW.8.$row")" "$want"
  expect "$name column 9" "$(value "$work/swver.txt" "$SW.9.$row")" "$want"
done
expect "published rows" "${names[*]}" "notepad.exe kernel32.dll mountmgr.sys"

# The maker's program in the running-software table, with its version resource's texts; a
# second program started now appears at a later collection and goes once it has ended. A request
# for the host's subtree asks for a host collection within two minutes, so every look at the table
# first asks for one now, as the service's watchers do when something changes.
cp "$bindir/e2e_maker_tool.exe" "$tool_dir/fleetagent.exe"
( cd "$tool_dir" && exec "$wine_run" "$winedir" 'C:\Vostrel-Quinbar\Tools\fleetagent.exe' >/dev/null 2>&1 ) &
pids+=($!)
rows_of() {
  ask_collection ZDTHOST
  snmpwalk "${snmp[@]}" "$RUN.2" 2>/dev/null | grep -c '"fleet helper  suite"' || true
}
two() { [ "$(rows_of)" = 2 ]; }
wait_for 240 two || fail "the second program did not appear: $(snmpwalk "${snmp[@]}" "$RUN.2" 2>&1 | tr '\n' ' ')"
"$wine_run" "$winedir" taskkill /f /im fleetagent.exe >/dev/null 2>&1 || true
one() { [ "$(rows_of)" = 1 ]; }
wait_for 240 one || fail "the ended program stayed: $(snmpwalk "${snmp[@]}" "$RUN.2" 2>&1 | tr '\n' ' ')"

row=$(grep -E '"fleet helper  suite"' "$work/running.txt" | head -1 | sed -E "s/^$RUN\.2\.([0-9]+) .*/\1/")
[ -n "$row" ] || fail "the maker's program is not in the running-software table: $(grep "$RUN.2" "$work/running.txt")"
expect "its description" "$(value "$work/running.txt" "$RUN.3.$row")" "fleet helper tool"
expect "its version" "$(value "$work/running.txt" "$RUN.4.$row")" "3.1.4.15"
expect "its kind" "$(value "$work/running.txt" "$RUN.6.$row")" 1
expect "its state" "$(value "$work/running.txt" "$RUN.7.$row")" 2

# Black-box records: one Driver record per running driver, and one Service record per running
# service that both the service control manager and WMI's Win32_Service list, naming its file on
# disk; services_probe.exe lists both independently of the collector.
records=$work/sim1.txt
bb() { grep -E "^bbdata .* code=$1 " "$records" || true; }
field() { sed -E "s/.*[=;]$1=([^;]*)(;.*|$)/\1/"; }   # a field of decoded records
"$wine_run" "$winedir" "$bindir/services_probe.exe" "$winwork\\services.txt" >"$work/probe.out" 2>&1 ||
  fail "services_probe failed: $(cat "$work/probe.out")"
probe=$work/services.txt
listed() { awk -F'\t' -v kind="$1" '$1 == kind { print $2 (NF > 2 ? "|" tolower($3) : "") }' "$probe" | sort; }
# A set against another, each difference on a line of its own.
same_set() {  # what, got, want
  [ "$2" = "$3" ] && return 0
  echo "FAIL: $1 differ from what Windows lists" >&2
  comm -23 <(echo "$2") <(echo "$3") | sed 's/^/  recorded, not listed: /' >&2
  comm -13 <(echo "$2") <(echo "$3") | sed 's/^/  listed, not recorded: /' >&2
  exit 1
}
drivers=$(bb 5 | field Name | sort)
want_drivers=$(listed driver)
[ -n "$want_drivers" ] || fail "services_probe lists no running driver: $(cat "$probe")"
same_set "Driver records" "$drivers" "$want_drivers"
echo "$drivers" | grep -qi '^mountmgr$' || fail "no Driver record for MountMgr: $drivers"
service_records=$(bb 6 | while read -r record; do
  echo "$(echo "$record" | field Name)|$(echo "$record" | field File | tr '[:upper:]' '[:lower:]')"
done | sort)
[ -n "$(listed service)" ] || fail "services_probe lists no running service with a file: $(cat "$probe")"
# Entries outside the comparison, said so: a service one list has running and the other not, one
# whose file is not on disk, and Wine's device hosts, which run without a key under Services (the
# collector reads a service's image path there, where Windows keeps every service).
awk -F'\t' '$1 != "driver" && $1 != "service" && $1 != "processors" { print "  not compared: " $0 }' "$probe"
same_set "Service records" "$(echo "$service_records" | cut -d'|' -f1)" "$(listed service | cut -d'|' -f1)"
# The file each record names. A service svchost.exe hosts is only noted: the collector takes its
# ServiceDll for the image path Windows writes ("%SystemRoot%\System32\svchost.exe -k ..."),
# and Wine writes it with the drive letter, so the record names svchost.exe there.
hosted=$(awk -F'\t' '$1 == "service" && $4 == "svchost" { print $2 }' "$probe")
strip_hosted() { while IFS= read -r line; do
  grep -q -x -F "${line%%|*}" <<<"$hosted" || echo "$line"; done; }
same_set "Service record files" "$(echo "$service_records" | strip_hosted)" "$(listed service | strip_hosted)"
for name in $hosted; do
  echo "  hosted by svchost.exe: $(grep "^$name|" <<<"$service_records"), its ServiceDll $(listed service | grep "^$name|")"
done
# Usage records: as many processor entries as Windows reports processors (Wine counts the
# machine's, not the affinity mask's that nproc counts), and the physical total of the memory
# record within a page of MemTotal.
usage=$(bb 13 | tail -1)
[ -n "$usage" ] || fail "no Processor Usage record"
len=$(echo "$usage" | sed -E 's/.* len=([0-9]+) .*/\1/')
processors=$(awk -F'\t' '$1 == "processors" { print $2 }' "$probe")
[ -n "$processors" ] || fail "services_probe reports no processor count"
expect "processor entries" "$((len / 2))" "$processors"
memory=$(bb 12 | tail -1)
[ -n "$memory" ] || fail "no Memory Usage record"
physical=$(echo "$memory" | sed -E 's/.*fields=[^=]*=([0-9]+).*/\1/')
mem_kb=$(awk '/^MemTotal:/ { print $2 }' /proc/meminfo)
diff=$((physical - mem_kb * 1024))
[ "${diff#-}" -le 4096 ] || fail "physical total $physical bytes, /proc/meminfo says $((mem_kb * 1024))"

echo "PASS"
