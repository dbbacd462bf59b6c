#!/usr/bin/env bash
# Hardware events end to end: oxbsim.exe pushes event-log entries over the channel to the
# service, qzrtlm_sim.exe installed and started under Wine's service control manager, whose
# transport, receive thread and sub-agent decode them and write them as events through the
# simulation build's event file (beside the program). The events must arrive in push order with
# their identifiers, types, category and strings; the message library must be copied into the
# system folder and the event source registered; and the copied library must render an event.
# Everything runs in a prefix of its own with the program in its own bin\ folder and the library
# in the eventmsg\ folder beside it. Every process started here is stopped here, and the service
# is stopped and removed.
#
#   events_e2e.sh WINE_RUN WINEDIR BINDIR EVENTMSGDIR WORKDIR
set -euo pipefail

wine_run=$1 winedir=$2 bindir=$3 eventmsg=$4 work=$5
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=snmp_e2e_lib.sh
. "$here/snmp_e2e_lib.sh"

rm -rf "$work"; mkdir -p "$work/bin" "$work/eventmsg"
work=$(realpath "$work")
cp "$bindir/qzrtlm_sim.exe" "$work/bin/"
cp "$eventmsg/EventLogMessages.dll" "$work/eventmsg/"
export WINEPREFIX=$winedir/prefix-events-e2e-$$
# The ANSI code page of the prefix follows the locale: fix it, then read it back from Windows.
export LC_ALL=C.UTF-8 LANG=C.UTF-8
pids=()
trap service_cleanup EXIT
winwork="Z:${work//\//\\}"

"$wine_run" "$winedir" "$bindir/events_probe.exe" acp "$winwork\\acp.txt" || fail "GetACP could not be read"
acp=$(cat "$work/acp.txt")
echo "ANSI code page: $acp"

# The entries, in push order, and what each must become (tests/e2e/events_e2e.py).
python3 "$here/events_e2e.py" entries "$work/entries.txt" >"$work/directives.txt"
directives=()
while IFS= read -r line; do directives+=(--do "$line"); done <"$work/directives.txt"

# The simulation build finds the simulated processor under its default name; it answers the
# service's AgentX session itself (no snmpd) and pushes the entries once the session is open.
"$wine_run" "$winedir" "$bindir/oxbsim.exe" --name oxbsim --record "$winwork\\sim.txt" "${directives[@]}" \
  >"$work/sim.out" 2>&1 &
pids+=($!)
wait_for 180 grep -q '^ready' "$work/sim.txt" 2>/dev/null || fail "oxbsim did not start"
# Only the event path: no collector runs.
only_collectors
start_service "$work/bin"
wait_for 180 grep -q '^axpassthru .*request=open .*status=0' "$work/sim.txt" ||
  fail "the service opened no AgentX session: $("$wine_run" "$winedir" sc query ndxtlm 2>&1 | tr -d '\r')"

events=$work/bin/qzrtlm_sim.events.txt
count=$(wc -l <"$work/entries.txt")
written() { [ -f "$events" ] && python3 "$here/events_e2e.py" count "$events"; }
has_all() { [ "$(written)" -ge "$count" ]; }
wait_for 180 has_all || fail "$(written || echo 0) of $count events written"
sleep 1  # nothing more may follow
python3 "$here/events_e2e.py" check "$work/entries.txt" "$events" "$acp" || fail "the events differ"

# The message library was copied from ..\eventmsg into the system folder, unchanged.
cmp "$work/eventmsg/EventLogMessages.dll" "$WINEPREFIX/drive_c/windows/system32/EventLogMessages.dll" ||
  fail "the message library was not copied"

# The event source was registered with it.
key='HKLM\SYSTEM\CurrentControlSet\services\eventlog\System\NDX Velmarine Management Service'
"$wine_run" "$winedir" reg query "$key" >"$work/source.txt" 2>&1 || fail "no event source key"
for value in 'EventMessageFile.*REG_EXPAND_SZ.*%SystemRoot%\\System32\\EventLogMessages.dll' \
             'CategoryMessageFile.*REG_EXPAND_SZ.*%SystemRoot%\\System32\\EventLogMessages.dll' \
             'CategoryCount.*REG_DWORD.*0x10' 'TypesSupported.*REG_DWORD.*0x7'; do
  tr -d '\r' <"$work/source.txt" | grep -Eq "$value" || fail "source key lacks $value"
done

# The copied library renders the first event as the event log would show it.
read -r id s1 s2 s3 text < <(python3 "$here/events_e2e.py" first "$events")
"$wine_run" "$winedir" "$bindir/events_probe.exe" render "$winwork\\rendered.txt" \
  'C:\windows\system32\EventLogMessages.dll' "$id" "$s1" "$s2" "$s3" "$text" || fail "the library renders nothing"
want="Description of Event ID $s1, KDL Class Code $s2, Event Code $s3: $text"$'\r'
[ "$(cat "$work/rendered.txt")" = "$want" ] || fail "rendered [$(cat "$work/rendered.txt")] want [$want]"

echo "PASS"
