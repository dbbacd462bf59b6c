# Sourced by the end-to-end test and the demo: net-snmp's snmpd as the AgentX master and
# snmptrapd, on free loopback ports, with our own configuration in a work folder.
#
#   start_snmp_peers WORKDIR
# sets ax_port (TCP), snmp_port and trap_port (UDP), appends both processes to the array pids,
# writes snmpd.pid, snmptrapd.pid, snmpd.log and traps.log (snmptrapd's output, OIDs numeric)
# into WORKDIR, and returns once snmpd listens for AgentX (1 when it does not within 10 s).
# wait_for SECONDS COMMAND... polls the command every 0.1 s.

wait_for() {
  local limit=$1; shift
  for _ in $(seq $((limit * 10))); do "$@" && return 0; sleep 0.1; done
  return 1
}

free_port() {
  python3 -c 'import socket,sys; s=socket.socket(socket.AF_INET, int(sys.argv[1])); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])' "$1"
}

start_snmp_peers() {
  local work=$1
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
  printf 'disableAuthorization yes\n' >"$work/snmptrapd.conf"
  snmpd -f -C -c "$work/snmpd.conf" -Lf "$work/snmpd.log" -p "$work/snmpd.pid" &
  pids+=($!)
  snmptrapd -f -C -c "$work/snmptrapd.conf" -Lf "$work/traps.log" -p "$work/snmptrapd.pid" -On \
    "udp:127.0.0.1:$trap_port" &
  pids+=($!)
  wait_for 10 bash -c "exec 3<>/dev/tcp/127.0.0.1/$ax_port" 2>/dev/null
}
