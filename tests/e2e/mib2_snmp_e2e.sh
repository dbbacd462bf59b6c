#!/usr/bin/env bash
# The MIB-2 interfaces and ip groups against a reference agent on the same host: snmpd as the
# AgentX master with none of its own MIB modules (so that nothing of its own answers below
# 1.3.6.1.2.1), oxbsim.exe bridging it to qzrtlm_sim.exe, which runs under Wine's service control
# manager with only the MIB-2 collector enabled; and a second snmpd with its default modules on
# another loopback port as the reference. Both read the same Linux interfaces, addresses and
# routes (Wine's IP Helper reads them from the kernel), so the values must agree; what is not
# compared, and why, is listed in mib2_compare.py.
#
#   mib2_snmp_e2e.sh WINE_RUN WINEDIR BINDIR WORKDIR
set -euo pipefail

wine_run=$1 winedir=$2 bindir=$3 work=$4
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=snmp_e2e_lib.sh
. "$here/snmp_e2e_lib.sh"
snmpd_modules=(-I agentx)
e2e_start mib2e2e
run() { "$wine_run" "$winedir" "$@"; }
trap service_cleanup EXIT

MIB2=.1.3.6.1.2.1
# The master's own modules serve nothing below MIB-2: every value found later is the service's.
first=$(snmpgetnext "${snmp[@]}" $MIB2 2>&1 || true)
case "$first" in
  $MIB2.*" = "*) fail "the master answers below $MIB2 by itself: $first" ;;
esac

# The reference agent.
ref_port=$(free_port 2)
cat >"$work/reference.conf" <<CONF
agentaddress udp:127.0.0.1:$ref_port
rocommunity public 127.0.0.1
CONF
snmpd -f -C -c "$work/reference.conf" -Lf "$work/reference.log" -p "$work/reference.pid" &
pids+=($!)
ref=(-v2c -c public -On -t 10 -r 1 "udp:127.0.0.1:$ref_port")
ref_walk() {  # file
  { snmpwalk "${ref[@]}" $MIB2.2; snmpwalk "${ref[@]}" $MIB2.4; } >"$1"
}
wait_for 180 snmpget "${ref[@]}" $MIB2.2.1.0 >/dev/null 2>&1 || fail "the reference agent does not answer"

# Only the MIB-2 collector; the other collectors' Enable switches off.
only_collectors MIB2

ref_walk "$work/before.txt"
# The simulation build finds the simulated processor under its default name.
sim=oxbsim
start_sim 1
start_service
served() { snmpget "${snmp[@]}" $MIB2.2.1.0 2>/dev/null | grep -q INTEGER; }
wait_for 180 served || fail "the interfaces group was not served: $(snmpget "${snmp[@]}" $MIB2.2.1.0 2>&1)"
{ snmpwalk "${snmp[@]}" $MIB2.2; snmpwalk "${snmp[@]}" $MIB2.4; } >"$work/ours.txt"
ref_walk "$work/after.txt"

python3 "$here/mib2_compare.py" "$work/ours.txt" "$work/before.txt" "$work/after.txt" ||
  fail "the service's MIB-2 groups differ from the reference agent's (walks in $work)"

# The running software is Wine's processes, which the reference agent does not see; of it only
# the service itself is checked: its executable at its process id.
# Wine's sc has no queryex: the process id comes from Wine's debugger's process list (hex).
service_pid=$(run winedbg --command "info process" 2>/dev/null | tr -d '\r' |
  awk "/'qzrtlm_sim.exe'/ {print \$1; exit}")
[ -n "$service_pid" ] || fail "no process id of the service: $(run winedbg --command 'info process' 2>&1)"
service_pid=$((16#$service_pid))
RUN=$MIB2.25.4.2.1
ran() { snmpget "${snmp[@]}" "$RUN.2.$service_pid" 2>/dev/null | grep -q '"qzrtlm_sim.exe"'; }
wait_for 180 ran || fail "hrSWRunName.$service_pid: $(snmpget "${snmp[@]}" "$RUN.2.$service_pid" 2>&1)"
want_path=$(printf 'Z:%s' "${bindir//\//\\}")
got_path=$(snmpget "${snmp[@]}" -Oqv "$RUN.4.$service_pid" | tr -d '"' | sed 's/\\\\/\\/g')
[ "${got_path,,}" = "${want_path,,}" ] || fail "hrSWRunPath.$service_pid: [$got_path], want [$want_path]"
[ "$(snmpget "${snmp[@]}" -Oqv "$RUN.6.$service_pid")" = 4 ] || fail "hrSWRunType of the service"

# The hot fixes of Wine's WMI: on the first run each one is an OS Update record (first and last
# flagged) and a row of type 2 (operating system) of the installed software.
updates() { grep -E '^bbdata .* code=19 ' "$work/sim1.txt" 2>/dev/null; }
wait_for 180 updates >/dev/null || fail "no OS Update record: $(grep -c '^bbdata' "$work/sim1.txt") records"
INSTALLED=$MIB2.25.6.3.1
snmpwalk "${snmp[@]}" "$INSTALLED" >"$work/installed.txt"
count=$(updates | wc -l)
n=0
while read -r record; do
  name=$(sed -E 's/.*;Description=([^;]*);.*/\1/' <<<"$record" | tr _ ' ')
  flags=$(sed -E 's/.*fields=Flags=(0x[0-9A-Fa-f]+);.*/\1/' <<<"$record")
  want=1024
  case "$name" in "Service Pack"*) want=512 ;; esac
  [ "$n" = 0 ] && want=$((want | 1))
  [ "$n" = $((count - 1)) ] && want=$((want | 2))
  [ $((flags)) = $want ] || fail "OS Update record $name: flags $flags, want $(printf 0x%X $want)"
  row=$(grep -F "= STRING: \"$name\"" "$work/installed.txt" | head -1 | sed -E "s/^$INSTALLED\.2\.([0-9]+) .*/\1/")
  [ -n "$row" ] || fail "no installed-software row for $name"
  grep -qx "$INSTALLED.4.$row = INTEGER: 2" "$work/installed.txt" || fail "$name: not of type 2"
  n=$((n + 1))
done < <(updates)
echo "PASS"
