# What the end-to-end scripts share: net-snmp's snmpd as the AgentX master and snmptrapd on free
# loopback ports with configurations of their own, oxbsim.exe bridging snmpd's AgentX connection
# to the channel, and the clean-up that stops every process started here. Sourced by a script
# that has set wine_run, winedir, bindir and work, and that runs with set -euo pipefail.
#
#   e2e_start NAME       fresh $work, the prefix $winedir/prefix-NAME-$$, snmpd and snmptrapd
#                        (snmpd with the arguments of the array snmpd_modules when it is set)
#   start_sim N [ARG...] oxbsim.exe in bridge mode, its record in $work/simN.txt, further
#                        arguments passed on (--do DIRECTIVE...); sets sim_pid
#   wait_for SECONDS CMD...
#   only_collectors [NAME...]  the service's Parameters key with the Enable switch of every
#                        collector off but those named (ZDTHOST, MIB2, ...); none named: data
#                        collection off altogether
#   start_service [DIR]  qzrtlm_sim.exe from DIR (default $bindir) installed as the service "ndxtlm"
#                        under Wine's service control manager and started; service_cleanup (the
#                        EXIT trap then) stops and removes it before e2e_cleanup
# A script that needs no snmpd may skip e2e_start: it sets WINEPREFIX, work and winwork itself,
# pids=(), and uses the rest as they are.
# After e2e_start: $snmp (the clients' common arguments), $E (the enterprise arc), $winwork
# ($work as a Windows path), $sim (the channel name) and the array pids.

fail() { echo "FAIL: $*" >&2; exit 1; }

# Runs the command until it succeeds or the seconds have passed (wall time, however long each
# try takes); a busy machine slows Wine down a lot, so the callers' limits are generous.
wait_for() {  # seconds, command...
  local limit=$1; shift
  local end=$((SECONDS + limit))
  until "$@"; do
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.1
  done
}

# The host's Ethernet port as Wine's IP Helper shows it: the address of the first non-loopback
# link that is up (nothing when there is none).
host_ethernet_mac() {
  local dev
  for dev in /sys/class/net/*; do
    [ "$(basename "$dev")" = lo ] && continue
    [ "$(cat "$dev/operstate" 2>/dev/null)" = up ] || continue
    cat "$dev/address"; return 0
  done
}

# Plays the NIC library's part for a collector running without it: keeps the library's readiness
# mark at 1 (the collector resets it at registration), every SECONDS, until the stop file appears.
# Needs run() (a Wine command in the test's prefix).
keep_nic_library_ready() {  # seconds
  (
    while [ ! -f "$work/stop" ]; do
      run reg add 'HKLM\SYSTEM\QZTLMNetwork\Interface' /v InterfaceData_Ready /t REG_DWORD /d 1 /f >/dev/null 2>&1 || true
      sleep "$1"
    done
  ) &
  pids+=($!)
}

e2e_cleanup() {
  set +e
  touch "$work/stop"
  sleep 1
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  [ -f "$work/snmpd.pid" ] && kill "$(cat "$work/snmpd.pid")" 2>/dev/null
  [ -f "$work/snmptrapd.pid" ] && kill "$(cat "$work/snmptrapd.pid")" 2>/dev/null
  WINEPREFIX=$WINEPREFIX wineserver -k 2>/dev/null
  rm -rf "$WINEPREFIX" "$WINEPREFIX.lock"
}

udp_listening() {  # port
  [ -n "$(ss -Hlun "sport = :$1" 2>/dev/null)" ]
}

free_port() {
  python3 -c 'import socket,sys; s=socket.socket(socket.AF_INET, int(sys.argv[1])); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])' "$1"
}

e2e_start() {
  rm -rf "$work"; mkdir -p "$work"
  work=$(realpath "$work")
  export WINEPREFIX=$winedir/prefix-$1-$$
  export SNMP_PERSISTENT_DIR=$work/persist
  mkdir -p "$SNMP_PERSISTENT_DIR"
  pids=()
  trap e2e_cleanup EXIT

  ax_port=$(free_port 1)      # TCP
  snmp_port=$(free_port 2)    # UDP
  trap_port=$(free_port 2)

  cat >"$work/snmpd.conf" <<CONF
master agentx
agentXSocket tcp:127.0.0.1:$ax_port
agentaddress udp:127.0.0.1:$snmp_port
rocommunity public 127.0.0.1
trap2sink 127.0.0.1:$trap_port public
agentXTimeout 5
agentXRetries 1
CONF
  cat >"$work/snmptrapd.conf" <<CONF
disableAuthorization yes
CONF

  # snmptrapd first, and listening before snmpd starts: snmpd's own traps (its coldStart) and the
  # product's then always reach it, however busy the machine.
  snmptrapd -f -C -c "$work/snmptrapd.conf" -Lf "$work/traps.log" -p "$work/snmptrapd.pid" -On \
    "udp:127.0.0.1:$trap_port" &
  pids+=($!)
  wait_for 180 udp_listening "$trap_port" || fail "snmptrapd does not listen"
  snmpd -f -C -c "$work/snmpd.conf" -Lf "$work/snmpd.log" -p "$work/snmpd.pid" ${snmpd_modules[@]+"${snmpd_modules[@]}"} &
  pids+=($!)
  wait_for 180 bash -c "exec 3<>/dev/tcp/127.0.0.1/$ax_port" 2>/dev/null || fail "snmpd does not listen for AgentX"

  sim=$1$$
  winwork="Z:${work//\//\\}"
  snmp=(-v2c -c public -On -t 10 -r 1 "udp:127.0.0.1:$snmp_port")
  E=.1.3.6.1.4.1.32473
}

# A collection of GROUP asked for through collector_e2e_host's trigger file, as the service's
# watchers ask for one when something changes. It returns once a collection cycle that began after
# the request has ended: the host removes the file once it has asked, and the next cycle may have
# begun before that, so the one after it is waited for. GROUP has collected in that cycle unless it
# had collected within the second before (a collector is due only once a second has passed).
ask_collection() {  # group
  echo "$1" >"$work/trigger.new"
  mv "$work/trigger.new" "$work/trigger"
  wait_for 60 test ! -e "$work/trigger" || fail "the collector host did not take the request for $1"
  local seen
  seen=$(cycles_ended)
  wait_for 120 cycles_past $((seen + 2)) || fail "no collection cycle ended after the request for $1"
}
cycles_ended() { cat "$work/cycles" 2>/dev/null || echo 0; }
cycles_past() { [ "$(cycles_ended)" -ge "$1" ]; }

start_sim() {
  "$wine_run" "$winedir" "$bindir/oxbsim.exe" --name "$sim" --record "$winwork\\sim$1.txt" \
    --do "agentx bridge $ax_port" "${@:2}" >"$work/sim$1.out" 2>&1 &
  sim_pid=$!
  pids+=($sim_pid)
  wait_for 180 grep -q '^ready' "$work/sim$1.txt" 2>/dev/null || fail "oxbsim did not start"
}

only_collectors() {  # one reg import: each reg add would be a Wine process of its own
  local switch wanted
  {
    echo 'REGEDIT4'
    echo '[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\ndxtlm\Parameters]'
    if [ $# = 0 ]; then
      echo '"EnableDataCollection"=dword:00000000'
    else
      for switch in ZDTHOST ZDTIDE ZDTNIC ZDTSAS ZDTSTDEQ ZDTFCA ZDTISCSI MIB2; do
        wanted=0
        case " $* " in *" $switch "*) wanted=1 ;; esac
        echo "\"Enable$switch\"=dword:0000000$wanted"
      done
    fi
  } >"$work/collectors.reg"
  "$wine_run" "$winedir" reg import "Z:${work//\//\\}\\collectors.reg" >/dev/null 2>&1 ||
    fail "the collectors' switches could not be written"
}

service_installed=0
start_service() {
  local dir=${1:-$bindir}
  "$wine_run" "$winedir" sc delete ndxtlm >/dev/null 2>&1 || true
  "$wine_run" "$winedir" sc create ndxtlm binPath= "\"Z:${dir//\//\\}\\qzrtlm_sim.exe\"" >/dev/null
  service_installed=1
  "$wine_run" "$winedir" sc start ndxtlm >/dev/null
}

service_cleanup() {
  set +e
  if [ "$service_installed" = 1 ]; then
    "$wine_run" "$winedir" sc stop ndxtlm >/dev/null 2>&1
    for _ in $(seq 1 100); do
      "$wine_run" "$winedir" sc query ndxtlm 2>/dev/null | grep -q STOPPED && break
      sleep 0.1
    done
    "$wine_run" "$winedir" sc delete ndxtlm >/dev/null 2>&1
  fi
  e2e_cleanup
}
