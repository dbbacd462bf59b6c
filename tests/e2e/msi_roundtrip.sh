#!/usr/bin/env bash
# The product's package through Wine's msiexec in a fresh prefix: an installation refused for want
# of the management processor's channel device, then install (with QOLBDRIVER=YES standing for the
# device), repair, remove.
# After the removal only what the product deliberately leaves stays: the service's own
# configuration key (Services\ndxtlm), System\TLMLOGCFG, the message library copied into
# System32 and the Logs folder with the installer's log and the service's own text log.
#
#   msi_roundtrip.sh WINE_RUN WINEDIR MSI WORKDIR
set -euo pipefail

wine_run=$1 winedir=$2 msi=$3 work=$4
rm -rf "$work"; mkdir -p "$work"
export WINEPREFIX=$winedir/prefix-msi-roundtrip-$$
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64

cleanup() {
  set +e
  WINEPREFIX=$WINEPREFIX wineserver -k 2>/dev/null
  rm -rf "$WINEPREFIX" "$WINEPREFIX.lock"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
step() { echo "== $*"; }

# A fresh prefix, cloned from the tree's template by the runner.
"$wine_run" "$winedir" cmd.exe /c exit 0
drive=$WINEPREFIX/drive_c
product="$drive/Program Files/Vostrel-Quinbar/TLM"
cp "$msi" "$drive/qzrtlm.msi"

# Every Wine program goes through the runner, which starts it as the tests' programs are started.
wine() { "$wine_run" "$winedir" "$@"; }
reg_has() { wine reg query "$1" >/dev/null 2>&1; }
service_state() { wine sc query qzrtlm 2>/dev/null | tr -d '\r' | awk '/STATE/ {print $4}'; }
installer_log() { iconv -f UTF-16LE -t UTF-8 "$product/Logs/installer.log" | tr -d '\r'; }

source_key='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\System\NDX Velmarine Management Service'
# A value of the SNMP agent's own key, which the removal must leave alone.
wine reg add 'HKLM\SYSTEM\CurrentControlSet\Services\juv' /v ImagePath /t REG_SZ /d agent.exe /f >/dev/null

step "install without the channel device"
status=0
wine msiexec /i 'C:\qzrtlm.msi' /qn /l*v 'C:\refused.log' || status=$?
[ "$status" -ne 0 ] || fail "msiexec /i succeeded without the channel device"
reg_has 'HKLM\SYSTEM\CurrentControlSet\Services\qzrtlm' && fail "a service was installed without the device"
[ -e "$product/Service" ] && fail "files were installed without the device"
for line in '|DepCheck|, Checking dependencies..' '|DepCheck|, QOLB driver is absent. Skipping installation.'; do
  installer_log | grep -qF "$line" || fail "installer.log lacks: $line"
done
installer_log | grep -qF '|PostInstall|' && fail "PostInstall ran although the installation was skipped"
wine reg query 'HKLM\System\CurrentControlSet\Services\ndxtlm' /v InteractiveMode | grep -q 0x0 \
  || fail "InteractiveMode is not 0 after DepCheck found no device"

step "install"
wine msiexec /i 'C:\qzrtlm.msi' QOLBDRIVER=YES /qn /l*v 'C:\install.log' || fail "msiexec /i returned $?"
for _ in $(seq 1 40); do [ "$(service_state)" = RUNNING ] && break; sleep 0.5; done
[ "$(service_state)" = RUNNING ] || fail "service not running after the install: $(service_state)"
reg_has 'HKLM\SYSTEM\CurrentControlSet\Services\qzrtlm' || fail "no service key"
reg_has "$source_key" || fail "no event source"
# The source's values, each with its type and data, and no other.
message_file='%ProgramFiles%\Vostrel-Quinbar\TLM\eventmsg\EventLogMessages.dll'
source_values=$(wine reg query "$source_key" | tr -d '\r' | sed -n 's/^ \{4\}\([A-Za-z]*\) \{4\}\(REG_[A-Z_]*\) \{4\}\(.*\)$/\1 \2 \3/p' | sort)
expected_values=$(printf '%s\n' "CategoryCount REG_DWORD 0x10" "CategoryMessageFile REG_EXPAND_SZ $message_file" \
  "EventMessageFile REG_EXPAND_SZ $message_file" "TypesSupported REG_DWORD 0x7" | sort)
[ "$source_values" = "$expected_values" ] || fail "event source values:
$source_values
expected:
$expected_values"
wine reg query 'HKLM\System\TLMLOGCFG' /v LogMaxSize | grep -q 0x4000000 || fail "TLMLOGCFG"
image=$(wine reg query 'HKLM\SYSTEM\CurrentControlSet\Services\qzrtlm' /v ImagePath | tr -d '\r' | grep ImagePath)
case "$image" in *'"C:\Program Files\Vostrel-Quinbar\TLM\Service\qzrtlm.exe"'*) ;; *) fail "ImagePath: $image";; esac
manifest="$product/Service/qzrtlmevents.man"
# The installed manifest still parses, names the event source and the installed program, and
# kept its guid.
provider=$(python3 - "$manifest" <<'PY'
import sys, xml.dom.minidom
doc = xml.dom.minidom.parse(sys.argv[1])
p = doc.getElementsByTagName("provider")[0]
print("|".join(p.getAttribute(a) for a in ("name", "resourceFileName", "messageFileName")) + "|" +
      ("guid" if p.getAttribute("guid") else "no guid"))
PY
) || fail "manifest no longer parses"
exe='C:\Program Files\Vostrel-Quinbar\TLM\Service\qzrtlm.exe'
[ "$provider" = "NDX Velmarine Management Service|$exe|$exe|guid" ] || fail "manifest provider: $provider"
[ -f "$drive/windows/system32/EventLogMessages.dll" ] || fail "message library not in System32"
[ -f "$product/Service/netvarix.dll" ] || fail "the NIC library is not beside the service"
for line in '|PreInstall|, TLM installer version: ' \
            '|InstallService|, NDX Tessaron Velmarine Management Service is started!' '|PostInstall|, Completed.'; do
  installer_log | grep -qF "$line" || fail "installer.log lacks: $line"
done
manifest_before=$(md5sum <"$manifest")

step "repair"
rm "$product/eventmsg/EventLogMessages.dll"
wine msiexec /i 'C:\qzrtlm.msi' QOLBDRIVER=YES REINSTALL=ALL REINSTALLMODE=p /qn /l*v 'C:\repair.log' || fail "repair returned $?"
[ -f "$product/eventmsg/EventLogMessages.dll" ] || fail "repair did not bring the library back"
[ "$(service_state)" = RUNNING ] || fail "service not running after the repair"
[ "$manifest_before" = "$(md5sum <"$manifest")" ] || fail "repair changed the manifest"

step "remove"
wine msiexec /x 'C:\qzrtlm.msi' /qn /l*v 'C:\remove.log' || fail "msiexec /x returned $?"
wine sc query qzrtlm >/dev/null 2>&1 && fail "service still there"
for key in 'HKLM\SYSTEM\CurrentControlSet\Services\qzrtlm' "$source_key" 'HKLM\SYSTEM\QZTLMStorage' \
           'HKLM\SYSTEM\QZTLMNetwork' 'HKLM\SYSTEM\QZTLMKWB' 'HKLM\SYSTEM\ZORUROVID' \
           'HKLM\SYSTEM\CurrentControlSet\Services\juv\MibStore'; do
  reg_has "$key" && fail "still there: $key"
done
wine reg query 'HKLM\SYSTEM\CurrentControlSet\Services\juv' /v ImagePath | grep -q agent.exe \
  || fail "the SNMP agent's own value went"
# The manifest is unregistered by the system's wevtutil, and the log shows the line that ran.
for line in '|PreUninstall|, Command (NDX_x64): "C:\windows\System32\wevtutil.exe" um "C:\Program Files\Vostrel-Quinbar\TLM\Service\qzrtlmevents.man"' \
            '|PreUninstall|, Uninstalling TLM service.' '|StopAndDeleteService|, qzrtlm is deleted.' \
            '|PostUninstall|, Completed.'; do
  installer_log | grep -qF "$line" || fail "installer.log lacks: $line"
done
[ -e "$product/Service" ] && fail "Service folder left"
[ -e "$product/eventmsg" ] && fail "eventmsg folder left"

# What stays, and nothing else of the product.
reg_has 'HKLM\SYSTEM\CurrentControlSet\Services\ndxtlm' || fail "Services\\ndxtlm should stay"
reg_has 'HKLM\System\TLMLOGCFG' || fail "TLMLOGCFG should stay"
[ -f "$drive/windows/system32/EventLogMessages.dll" ] || fail "System32 library should stay"
left=$(cd "$drive/Program Files/Vostrel-Quinbar" && find . | sort | tr '\n' ' ')
[ "$left" = ". ./TLM ./TLM/Logs ./TLM/Logs/TLM.log ./TLM/Logs/installer.log " ] ||
  fail "left in the product folder: $left"
echo "PASS: install, repair and removal"
