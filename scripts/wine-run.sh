#!/usr/bin/env bash
# Runs one Windows program under Wine, in a prefix that belongs to the build tree.
#
#   wine-run.sh [--end] WINEDIR PROGRAM.exe [ARGS...]
#
# --end ends the prefix's Wine environment (wineserver, services, device manager) when the program
# exits: a test program's prefix is used by nothing else, and a run of many programs would
# otherwise keep one environment alive for each.
#
# WINEDIR holds a template prefix (made once with wineboot -i) and one clone of it per program,
# so that test programs running in parallel never share registry or service state. A caller that
# needs several programs in one prefix (named pipes live in one wineserver) sets WINEPREFIX itself;
# the prefix is then cloned from the template when it does not exist yet.
set -euo pipefail

end=0
if [ "${1:-}" = "--end" ]; then end=1; shift; fi
winedir=$(realpath -m "$1"); shift
program=$1; shift

export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
export WINEARCH=win64

# Wine maps its shared user data page at a fixed address. With the kernel's address-space
# randomisation, the program break of a new Wine process can land on that page (about one start
# in five thousand here); the start then fails ("failed to map the shared user data", and the
# parent's CreateProcess fails with error 1359). Every Wine process of a run descends from a
# program started here, and the personality is inherited through fork and exec, so switching
# randomisation off here covers them all: the wineserver, the prefix's services and whatever a
# test program starts.
fixed=()
if setarch "$(uname -m)" -R true 2>/dev/null; then fixed=(setarch "$(uname -m)" -R); fi

mkdir -p "$winedir"
template=$winedir/template

ensure_template() {
  [ -f "$template/.tlm-ready" ] && return 0
  (
    flock 9
    if [ ! -f "$template/.tlm-ready" ]; then
      rm -rf "$template"
      WINEPREFIX=$template "${fixed[@]}" wineboot -i >/dev/null 2>&1 || true
      WINEPREFIX=$template wineserver -w
      [ -f "$template/system.reg" ] || { echo "wine-run: could not create $template" >&2; exit 1; }
      touch "$template/.tlm-ready"
    fi
  ) 9>"$winedir/.template.lock"
}

ensure_prefix() {
  local prefix=$1
  [ -f "$prefix/.tlm-ready" ] && return 0
  ensure_template
  (
    flock 9
    if [ ! -f "$prefix/.tlm-ready" ]; then
      rm -rf "$prefix"
      # The DLLs are never written; the registry files are replaced by rename when saved,
      # so hard links are safe for everything but the registry itself.
      cp -al "$template" "$prefix"
      for reg in system.reg user.reg userdef.reg; do
        [ -f "$prefix/$reg" ] && { rm -f "$prefix/$reg"; cp "$template/$reg" "$prefix/$reg"; }
      done
      touch "$prefix/.tlm-ready"
    fi
  ) 9>"$prefix.lock"
}

if [ "$program" = "--setup" ]; then
  ensure_template
  exit 0
fi

if [ -z "${WINEPREFIX:-}" ]; then
  name=$(basename "$program"); name=${name%.exe}
  export WINEPREFIX=$winedir/prefix-$name
fi
ensure_prefix "$WINEPREFIX"
# Keep the prefix's wineserver (and its services) up between programs: starting it costs
# seconds, and tests start many short programs. wine-stop.sh ends it.
if wineserver -p </dev/null >/dev/null 2>&1; then
  # A fresh server: bring up the prefix's own processes (services, device manager) detached from
  # our output, or they would hold the caller's pipes open for as long as the server lives.
  "${fixed[@]}" wine cmd.exe /c exit 0 </dev/null >/dev/null 2>&1 || true
fi

if [ "$end" = 0 ]; then
  exec "${fixed[@]}" wine "$program" "$@"
fi
status=0
"${fixed[@]}" wine "$program" "$@" || status=$?
wineserver -k >/dev/null 2>&1 || true
wineserver -w >/dev/null 2>&1 || true
exit $status
