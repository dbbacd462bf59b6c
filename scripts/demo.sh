#!/usr/bin/env bash
# The demo: the whole product path on this machine.
#
#   snmpwalk/snmptrapd -> snmpd (AgentX master, loopback) -> oxbsim.exe (the simulated management
#   processor, bridging AgentX onto the channel and keeping the black-box log) -> named pipe ->
#   qzrtlm_sim.exe, installed and started under Wine's service control manager.
#
# It shows what a user looks at: the service's states, an snmpwalk of its subtree, the coldStart
# trap as snmptrapd received it, the boot record in the black-box log, a hardware event pushed by
# the simulator and its decoded text in the service's event file, and the last lines of the text
# log. Everything it starts it stops again, by process id. Run it through `make demo`.
set -euo pipefail
cd "$(dirname "$0")/.."

root=$PWD
bin=$root/build/windows/bin
winedir=$root/build/windows/wine
wine_run=$root/scripts/wine-run.sh
bindir=$bin
work=$root/build/demo
export WINEDEBUG=-all
run() { scripts/wine-run.sh "$winedir" "$@"; }

# snmpd, snmptrapd and oxbsim as the end-to-end tests run them, in a prefix of the demo's own.
# shellcheck source=../tests/e2e/snmp_e2e_lib.sh
. tests/e2e/snmp_e2e_lib.sh
service_installed=0
demo_cleanup() {
  set +e
  if [ "$service_installed" = 1 ]; then
    run sc stop ndxtlm >/dev/null 2>&1
    for _ in $(seq 1 100); do
      run sc query ndxtlm 2>/dev/null | grep -q STOPPED && break
      sleep 0.1
    done
    run sc delete ndxtlm >/dev/null 2>&1
  fi
  e2e_cleanup
}

say() { printf '\n== %s\n' "$*"; }
indent() { sed 's/^/  /'; }

say "snmpd as the AgentX master and snmptrapd, on loopback"
# The service serves the host's MIB-2 groups itself: snmpd runs only its AgentX master module, as
# the management processor's agent does, so that those registrations are not duplicates.
snmpd_modules=(-I agentx)
e2e_start demo
trap demo_cleanup EXIT
# The simulation build finds the simulated processor under its default name.
sim=oxbsim
echo "  AgentX on 127.0.0.1:$ax_port, SNMP on udp 127.0.0.1:$snmp_port, traps to udp 127.0.0.1:$trap_port"
echo "  running (pids ${pids[*]})"

# The service's text log goes to a folder of the demo's prefix.
run cmd /c exit 0 >/dev/null 2>&1 || true
logdir=$WINEPREFIX/drive_c/tlm-demo-log
rm -rf "$logdir"; mkdir -p "$logdir"
run reg add 'HKLM\System\TLMLOGCFG' /v LogFolder /t REG_SZ /d 'C:\tlm-demo-log\' /f >/dev/null 2>&1
run reg add 'HKLM\System\TLMLOGCFG' /v LogLevel /t REG_DWORD /d 2 /f >/dev/null 2>&1
run reg add 'HKLM\System\TLMLOGCFG' /v LogMaxSize /t REG_DWORD /d 1048576 /f >/dev/null 2>&1

# A hardware event entry that the simulator pushes as soon as the service has opened its AgentX
# passthru session: event number 42, severity critical, class 2 (environment) code 2, a failure of
# fan 3 of the server itself (class data: enclosure kind 1, chassis 0, fan 3, location 1, no name).
kdl=22002a000000000f0200020000000000000000000000000000000000010000030100
say "oxbsim.exe, the simulated management processor, bridging AgentX to snmpd"
start_sim 1 --do "agentx on passthru 1: kdl $kdl"
echo "  ready (pid $sim_pid)"

say "Installing qzrtlm_sim.exe as the service \"ndxtlm\" (NDX Velmarine Management Service) and starting it"
events=$bin/qzrtlm_sim.events.txt
rm -f "$events"
run sc delete ndxtlm >/dev/null 2>&1 || true
winpath="Z:${bin//\//\\}\\qzrtlm_sim.exe"
run sc create ndxtlm binPath= "\"$winpath\"" DisplayName= "NDX Velmarine Management Service" | tr -d '\r' | indent
service_installed=1

state() { run sc query ndxtlm 2>/dev/null | tr -d '\r' | awk '/STATE/ {print $4}'; }
watch_until() {
  local wanted=$1 last="" now
  for _ in $(seq 1 300); do
    now=$(state)
    if [ -n "$now" ] && [ "$now" != "$last" ]; then
      echo "  state: $now"
      last=$now
    fi
    [ "$now" = "$wanted" ] && return 0
    sleep 0.05
  done
  echo "  (gave up waiting for $wanted)"
  return 1
}
run sc start ndxtlm >/dev/null
watch_until RUNNING

say "The service's AgentX session as the simulated processor relayed it"
wait_for 30 grep -q 'axforward .*type=1$' "$work/sim1.txt" || echo "  (no AgentX Open seen)"
grep -E '^(axpassthru|axforward)' "$work/sim1.txt" >"$work/session.txt" || true
head -6 "$work/session.txt" | indent

say "The service's coldStart trap as snmptrapd received it"
# snmpd sends a coldStart of its own when it starts; the service's carries its enterprise.
cold='1.3.6.1.6.3.1.1.5.1.*1.3.6.1.4.1.32473'
if wait_for 40 grep -q "$cold" "$work/traps.log"; then
  grep -B1 "$cold" "$work/traps.log" | tr '\t' '\n' | indent
else
  echo "  (no coldStart trap arrived)"
fi

say "snmpwalk of the service's subtree .1.3.6.1.4.1.32473 (the objects of every collector that has landed)"
snmpwalk "${snmp[@]}" $E >"$work/walk.txt" 2>&1 || true
head -40 "$work/walk.txt" | indent
lines=$(wc -l <"$work/walk.txt")
[ "$lines" -gt 40 ] && echo "  ... ($lines lines in all: $work/walk.txt)"

say "The boot record in the black-box log the simulated processor keeps"
if wait_for 20 grep -q '^bbdata .* code=1 ' "$work/sim1.txt"; then
  grep '^bbdata .* code=1 ' "$work/sim1.txt" | indent
  others=$(grep -c '^bbdata' "$work/sim1.txt" || true)
  echo "  ($others records in the log so far; the others come from the collectors)"
else
  echo "  (no boot record arrived)"
fi

say "A hardware event pushed by the simulator, and its decoded text in the service's event file"
grep -E '^axsent .*cmd=0x0095' "$work/sim1.txt" | indent || true
hw_event() { grep -qvE '^0x4101006[0-9A-F]|^0xC101006[0-9A-F]' "$events" 2>/dev/null; }
if wait_for 20 hw_event; then
  grep -vE '^0x4101006[0-9A-F]|^0xC101006[0-9A-F]' "$events" | while IFS=$'\t' read -r id type category source number class code text; do
    echo "  event $id (type $type, category $category) from \"$source\""
    if [ -n "${number:-}" ]; then
      echo "    entry $number, class $class, code $code: $text"
    else
      echo "    written without text: this build decodes no text for the entry's class yet"
    fi
  done
else
  echo "  (the event did not arrive)"
fi

say "Stopping the service"
run sc stop ndxtlm >/dev/null
watch_until STOPPED
run sc query ndxtlm | tr -d '\r' | grep -E 'WIN32_EXIT_CODE|SERVICE_EXIT_CODE' | indent || true

say "Events the service reported"
wait_for 10 grep -q '^0x41010065' "$events" || true
while IFS=$'\t' read -r id type category source rest; do
  case "$id" in
    0x41010064) text="The service process has started." ;;
    0x41010065) text="The service process has stopped." ;;
    *) text=$(printf '%s' "$rest" | tr '\t' ' ') ;;
  esac
  echo "  $id  $text"
done <"$events"

say "The last lines of the service's text log (C:\\tlm-demo-log\\TLM.log)"
if [ -f "$logdir/TLM.log" ]; then
  iconv -f UTF-16LE -t UTF-8 "$logdir/TLM.log" | tr -d '\r' | sed 's/^\xEF\xBB\xBF//' | tail -15 | indent
else
  echo "  (no log file)"
fi

say "Stopping what the demo started"
echo "  the service \"ndxtlm\" (removed), oxbsim, snmpd and snmptrapd (pids ${pids[*]}), the demo prefix's wineserver"
