#!/usr/bin/env bash
# Writes lines through log_writer.exe into a folder of its own, decodes the UTF-16 file with iconv
# and checks every line against the log's format.
#   check_log_format.sh WINE_RUN WINEDIR LOG_WRITER OUTDIR
set -euo pipefail
wine_run=$1 winedir=$2 writer=$3 out=$4
export WINEPREFIX=$winedir/prefix-common_log_file_format
# The prefix's Wine environment ends with the test.
trap 'wineserver -k 2>/dev/null || true' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$out"
mkdir -p "$out"
win_out="Z:$(printf '%s' "$out" | tr / '\\')"
key='HKLM\System\TLMLOGCFG'
"$wine_run" "$winedir" reg add "$key" /v LogFolder /t REG_SZ /d "$win_out" /f >/dev/null
"$wine_run" "$winedir" reg add "$key" /v LogLevel /t REG_DWORD /d 1 /f >/dev/null
"$wine_run" "$winedir" reg add "$key" /v LogMaxSize /t REG_DWORD /d 1048576 /f >/dev/null

day_before=$(date +%m/%d/%Y)
"$wine_run" "$winedir" "$writer" "TLM service" 3 || fail "log_writer exited with $?"
day_after=$(date +%m/%d/%Y)

log=$out/TLM.log
[ -s "$log" ] || fail "no log file at $log"
[ $(( $(stat -c %s "$log") % 2 )) -eq 0 ] || fail "odd byte count"
[ "$(head -c 2 "$log" | od -An -tx1 | tr -d ' ')" != "fffe" ] || fail "byte-order mark written"

decoded=$out/TLM.txt
iconv -f UTF-16LE -t UTF-8 "$log" > "$decoded" || fail "not UTF-16LE"

lines=$(wc -l < "$decoded")
[ "$lines" -eq 13 ] || fail "expected 13 lines (announcement + 3 rounds of 4), got $lines"
[ "$(tail -c 2 "$decoded" | od -An -tx1 | tr -d ' ')" = "0d0a" ] || fail "last line not ended by CR LF"

cr=$'\r'
format="^[0-9]{2}/[0-9]{2}/[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}, \[(Verbose    |Information|Warning    |Error      )\], \|[^|]*\|, .*${cr}\$"
bad=$(grep -Evc "$format" "$decoded" || true)
[ "$bad" -eq 0 ] || { grep -Ev "$format" "$decoded" | cat -A | head -5 >&2; fail "$bad malformed lines"; }

dates=$(cut -c1-10 "$decoded" | sort -u)
for d in $dates; do
  [ "$d" = "$day_before" ] || [ "$d" = "$day_after" ] || fail "date $d is not today's local date"
done

first=$(head -n 1 "$decoded" | cut -c24-)
expected=", [Information], |CCommonLog::LogInit|, A logging interface is initialized (Module=\"TLM service\" Level=Verbose size=1048576)$cr"
[ "$first" = "$expected" ] || fail "announcement line: $first"

padding=$(printf 'x%.0s' $(seq 200))
for level in "Verbose    :verbose" "Information:information" "Warning    :warning" "Error      :error"; do
  name=${level%%:*} word=${level##*:}
  want=", [$name], |LogWriter::Round|, round 2 of TLM service $word $padding$cr"
  grep -qF -- "$want" "$decoded" || fail "no line '$want'"
done
echo "log file format ok ($lines lines)"
