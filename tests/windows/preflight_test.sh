#!/usr/bin/env bash
# Usage: preflight_test.sh PREFIX TESSARY PREFLIGHT DEVICES NATIVE_TESSARY WORK
# The pre-flight under Wine, on devices the test registers: its saved snapshot
# holds what Wine's SetupAPI and registry answer for each device; replaying it
# prints what tessary.exe prints on the same prefix, whether the pre-flight
# replays it or the native build does; and it changes nothing in the registry.
set -euo pipefail
here=$(dirname "$(realpath "$0")")
prefix=$1 tessary=$2 preflight=$3 devices=$4 native=$5 work=$6
run() { "$here/wine-run.sh" "$prefix" "$@"; }
rm -rf "$work"
mkdir -p "$work"
cd "$work"
. "$here/../support/checks.sh"
trap 'run "$devices" remove >/dev/null 2>&1 || true' EXIT

run "$devices" register

# The registry as it stands, exported whole. (The hive files themselves
# change whenever Wine's server starts, as Wine updates keys of its own.)
export_registry() {
  local name=$1 root file
  for root in HKLM HKCU; do
    # The prefix's own server answers both: winepath too must be given it,
    # or it would start (and race for) a default prefix of its own.
    file=$(WINEPREFIX=$(realpath -m "$prefix") WINEDEBUG=-all winepath -w "$work/$name-$root.reg")
    WINEPREFIX=$(realpath -m "$prefix") WINEDEBUG=-all wine reg export "$root" "$file" /y >/dev/null 2>&1 ||
      fail "the registry's $root could not be exported to $file"
  done
}
export_registry before

run "$preflight" --save snapshot.json >saved.txt || fail "--save: status $?"
# A file that cannot be made: one line, and a status that says so.
status=0
run "$preflight" --save 'no-such-folder\snapshot.json' >unsaved.txt 2>unsaved-error.txt || status=$?
[ "$status" -ne 0 ] && [ "$(wc -l <unsaved-error.txt)" -eq 1 ] && [ ! -s unsaved.txt ] ||
  fail "--save into a missing folder: status $status, $(cat unsaved-error.txt)"
run "$devices" check snapshot.json >check.txt || fail "the snapshot differs from Wine's answers: $(cat check.txt)"

run "$tessary" /a >tool.txt || fail "tessary.exe /a: status $?"
run "$preflight" /a >preflight.txt || fail "tessary-preflight.exe /a: status $?"
tool_lines=$(wc -l <tool.txt)
head -n "$tool_lines" preflight.txt >preflight-tool.txt
cmp -s tool.txt preflight-tool.txt || fail "the pre-flight's tool lines differ from tessary.exe's: $(od -c preflight-tool.txt | head)"
blank=$(sed -n "$((tool_lines + 1))p" preflight.txt | tr -d '\r')
heading=$(sed -n "$((tool_lines + 2))p" preflight.txt)
[ -z "$blank" ] && [[ "$heading" == "What the run would change"* ]] ||
  fail "no change report after a blank line: $(tail -n +"$((tool_lines + 1))" preflight.txt)"

export_registry after
for root in HKLM HKCU; do
  cmp -s "before-$root.reg" "after-$root.reg" || fail "the pre-flight changed $root"
done
[ -s before-HKLM.reg ] || fail "the registry could not be exported"

# The native build, replaying the saved snapshot, prints what tessary.exe
# printed (its lines end in LF where Windows' end in CR LF).
if [ -x "$native" ]; then
  cp snapshot.json replayed.json
  TESSARY_SIM_MACHINE=replayed.json "$native" /a >native.txt || fail "the native replay: status $?"
  tr -d '\r' <tool.txt >tool-lf.txt
  cmp -s native.txt tool-lf.txt || fail "the native replay prints otherwise: $(cat native.txt)"
else
  echo "the native build ($native) is not there: its replay was not compared" >&2
  [ "$failures" -eq 0 ] && exit 77
fi

[ "$failures" -eq 0 ] || exit 1
cat check.txt
echo "the snapshot holds Wine's answers; both replays print what tessary.exe prints; the registry is as it was"
