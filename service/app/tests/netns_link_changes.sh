#!/usr/bin/env bash
# The network polling thread against real interface changes: in a network namespace of its own
# (unshare; the test is skipped where that is not permitted) a virtual interface is added, set
# down and up again, and Wine's GetIfTable must show each state while the polling thread triggers
# the network collections after each change. A dummy interface where the kernel offers one, else
# one end of a veth pair.
#
#   netns_link_changes.sh WINE_RUN WINEDIR BINDIR WORKDIR
set -euo pipefail
wine_run=$1 winedir=$2 bindir=$3 work=$4

if [ "${TLM_IN_NETNS:-}" != 1 ]; then
  if ! command -v unshare >/dev/null || ! command -v ip >/dev/null; then
    echo "SKIP: unshare or ip is missing (util-linux, iproute2)"
    exit 77
  fi
  if ! unshare -rn true 2>/dev/null; then
    echo "SKIP: cannot make a network namespace here (unshare -rn is not permitted)"
    exit 77
  fi
  if ! unshare -rn ip link add tlmprobe type veth peer name tlmprobe1 2>/dev/null &&
     ! unshare -rn ip link add tlmprobe type dummy 2>/dev/null; then
    echo "SKIP: the kernel offers neither dummy nor veth interfaces in a namespace"
    exit 77
  fi
  rm -rf "$work"; mkdir -p "$work"
  # The prefix is made outside: its files then belong to the namespace's root, who runs Wine.
  prefix=$winedir/prefix-netns-$$
  WINEPREFIX=$prefix "$wine_run" "$winedir" cmd /c exit 0 >/dev/null 2>&1 || true
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  status=0
  TLM_IN_NETNS=1 TLM_PREFIX=$prefix unshare -rn "$0" "$@" || status=$?
  rm -rf "$prefix" "$prefix.lock"
  exit $status
fi

export WINEPREFIX=$TLM_PREFIX
fail() {
  echo "FAIL: $*" >&2
  echo "--- interfaces as Wine reported them last:" >&2
  cat "$work/interfaces.txt" >&2 2>/dev/null || true
  exit 1
}
cleanup() {
  set +e
  touch "$work/stop"
  [ -n "${probe:-}" ] && { sleep 1; kill "$probe" 2>/dev/null; wait "$probe" 2>/dev/null; }
  wineserver -k 2>/dev/null
}
trap cleanup EXIT

ip link set lo up
if ip link add tlm0 type dummy 2>/dev/null; then
  kind=dummy
else
  ip link add tlm0 type veth peer name tlm1
  ip link set tlm1 up
  kind=veth
fi
ip link set tlm0 up
echo "interface tlm0 ($kind)"

winwork="Z:${work//\//\\}"
"$wine_run" "$winedir" "$bindir/netwatch_probe.exe" "$winwork" >"$work/probe.out" 2>&1 &
probe=$!

wait_for() {  # seconds, command...
  local limit=$1; shift
  for _ in $(seq $((limit * 10))); do "$@" && return 0; sleep 0.1; done
  return 1
}
state_is() { awk -F'\t' -v want="$1" '$2 == "tlm0" && $3 ~ ("^(" want ")$") {found = 1} END {exit !found}' "$work/interfaces.txt" 2>/dev/null; }
triggers() { wc -l <"$work/triggers.txt" 2>/dev/null || echo 0; }
more_triggers_than() { [ "$(triggers)" -gt "$1" ]; }

# ifOperStatus as the service maps it: 1 up; down is 2, or 6 where the administrative state is
# reported too (Wine 8 reports every interface as administratively up).
wait_for 120 state_is 1 || fail "Wine's GetIfTable does not show tlm0 up"
wait_for 120 more_triggers_than 0 || fail "the first pass did not trigger the collections"
sleep 0.5
for change in down up; do
  before=$(triggers)
  ip link set tlm0 "$change"
  want=$([ "$change" = up ] && echo 1 || echo '2|6')
  wait_for 120 state_is "$want" || fail "tlm0 set $change: GetIfTable does not show state $want"
  wait_for 120 more_triggers_than "$before" || fail "tlm0 set $change: the polling thread did not trigger"
  echo "tlm0 $change: state $want seen, collections triggered"
done
echo PASS
