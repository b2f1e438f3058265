#!/usr/bin/env bash
# Usage: preflight_test.sh PREFIX TESSARY PREFLIGHT DEPLOY DEVICES DETACHED_RUN NATIVE_TESSARY HOLD_MUTEX WORK
# The pre-flight and the deployment under Wine, on Corvane devices the test
# registers: the saved snapshot holds what Wine's SetupAPI and registry answer
# for each device; replaying it prints what tessary.exe prints on the same
# prefix, whether the pre-flight replays it or the native build does. Wine
# cannot report a device's bus, so the tool picks no adapter here: --check
# answers 3, and tessary-deploy.exe answers 0 and appends its entry to the
# log, also run as a management system runs it, with no console; while a
# deployment holds Global\Tessary, the check says so, and that no deployment
# runs while a user's process holds the name. None of them changes the
# registry.
set -euo pipefail
here=$(dirname "$(realpath "$0")")
prefix=$1 tessary=$2 preflight=$3 deploy=$4 devices=$5 detached=$6 native=$7 holder=$8 work=$9
run() { "$here/wine-run.sh" "$prefix" "$@"; }
rm -rf "$work"
mkdir -p "$work"
cd "$work"
. "$here/../support/checks.sh"
. "$here/hold.sh"
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
# A drive's root folder, also spelled with the \\?\ prefix.
for target in 'C:\tessary-snapshot.json' '\\?\C:\tessary-snapshot.json'; do
  rm -f "$prefix/drive_c/tessary-snapshot.json"
  run "$preflight" --save "$target" >rooted.txt 2>&1 || fail "--save $target: status $?: $(cat rooted.txt)"
  [ -s "$prefix/drive_c/tessary-snapshot.json" ] || fail "--save $target wrote no file"
done
rm -f "$prefix/drive_c/tessary-snapshot.json"
# A name near the longest a file may have (255): its temporary file's is
# within it too.
long=$(printf 's%.0s' $(seq 245)).json
run "$preflight" --save "$long" >long.txt 2>&1 || fail "--save a long name: status $?: $(cat long.txt)"
cmp -s "$long" snapshot.json || fail "--save a long name: not the snapshot: $(cat long.txt)"
rm -f "$long"
# A file that cannot be made: one line, and a status that says so.
status=0
run "$preflight" --save 'no-such-folder\snapshot.json' >unsaved.txt 2>unsaved-error.txt || status=$?
[ "$status" -ne 0 ] && [ "$(wc -l <unsaved-error.txt)" -eq 1 ] && [ ! -s unsaved.txt ] ||
  fail "--save into a missing folder: status $status, $(cat unsaved-error.txt)"
# A folder that is a link, or is reached through one, is refused before the
# snapshot is taken, and the file where it leads stays as it was; so is a
# device's name.
mkdir -p elsewhere/inner
echo "someone else's file" >elsewhere/snapshot.json
cp elsewhere/snapshot.json elsewhere/inner/snapshot.json
ln -s elsewhere linked
for target in 'linked\snapshot.json' 'linked\inner\snapshot.json' 'NUL.json' 'com1'; do
  status=0
  run "$preflight" --save "$target" >refused.txt 2>refused-error.txt || status=$?
  # Once in CI, Wine ended one of these runs with status 1 and nothing on
  # either stream, which the program never does (it fails only after its
  # line); a refusal changes nothing, so such a run is tried once more, and
  # said so.
  if [ "$status" -ne 0 ] && [ ! -s refused.txt ] && [ ! -s refused-error.txt ]; then
    echo "--save $target: status $status and no output at all; run again" >&2
    status=0
    run "$preflight" --save "$target" >refused.txt 2>refused-error.txt || status=$?
  fi
  [ "$status" -eq 1 ] && [ "$(tr -d '\r' <refused-error.txt | grep -c 'no snapshot was taken$')" -eq 1 ] && [ ! -s refused.txt ] ||
    fail "--save $target: status $status, $(cat refused.txt refused-error.txt)"
done
[ "$(cat elsewhere/snapshot.json elsewhere/inner/snapshot.json)" = "someone else's file"$'\n'"someone else's file" ] &&
  [ "$(ls -A elsewhere elsewhere/inner | grep -c tmp)" -eq 0 ] || fail "--save wrote where a link leads"
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

# The check and the deployment, started from the shell with their output in
# a file, and as a management system's agent runs them (no console, the
# output sent to a file): one line and 3 for
# the check; the tool's lines and its own, and 0, for the deployment, which
# appends one entry to the log each time.
logs=$(ls -d "$(realpath -m "$prefix")/drive_c/windows/"[Ll]ogs)
entries() { grep -c '^20.*tessary-deploy ' "$logs/Tessary/tessary.log" 2>/dev/null || true; }
before=$(entries)
for way in shell detached; do
  for program in check deploy; do
    out=$way-$program.txt err=$way-$program-error.txt
    if [ "$program" = check ]; then set -- "$preflight" --check /a; else set -- "$deploy" /a; fi
    # Each way's deployment places the programs anew, so that both say so.
    rm -rf "$(realpath -m "$prefix")/drive_c/Program Files/Tessary"
    if [ "$way" = shell ]; then
      status=0
      run "$@" >"$out" 2>"$err" || status=$?
    else
      status=$(run "$detached" "$out" "$err" "$@" | tr -d '\r' || true)
    fi
    want=$([ "$program" = check ] && echo 3 || echo 0)
    [ "$status" = "$want" ] || fail "$program ($way): status $status, not $want: $(cat "$out" "$err")"
    [ ! -s "$err" ] || fail "$program ($way) wrote on standard error: $(cat "$err")"
  done
  [ "$(tr -d '\r' <"$way-check.txt")" = "No adapter: tessary.exe would pick no adapter on this machine" ] ||
    fail "--check /a ($way): $(cat "$way-check.txt")"
  grep -q '^tessary-deploy: 0, success: no adapter to act on' "$way-deploy.txt" ||
    fail "tessary-deploy.exe /a ($way): $(cat "$way-deploy.txt")"
done
cmp -s shell-check.txt detached-check.txt && cmp -s shell-deploy.txt detached-deploy.txt ||
  fail "with no console the lines differ"
# While a deployment holds the one run at a time, the check's line says so.
hold 4
status=0
run "$preflight" --check /a >held-check.txt || status=$?
[ "$status" -eq 3 ] && grep -q '; a deployment is running now (it holds Global\\Tessary)' held-check.txt ||
  fail "--check /a while a deployment runs: status $status: $(cat held-check.txt)"
wait
# A name a user's process took first is no deployment's, and stops them all.
hold 4 foreign
status=0
run "$preflight" --check /a >foreign-check.txt || status=$?
[ "$status" -eq 3 ] && grep -q "; Global\\\\Tessary is not a deployment's (it belongs to .*): no deployment runs until" \
  foreign-check.txt || fail "--check /a while a user holds the name: status $status: $(cat foreign-check.txt)"
wait
status=0
run "$preflight" --check /x >check-usage.txt || status=$?
[ "$status" -eq 2 ] && grep -q '^Usage: tessary-preflight.exe' check-usage.txt || fail "--check /x: status $status"
[ "$(entries)" -eq $((before + 2)) ] || fail "the log did not get one entry a run: $before, then $(entries)"
run "$deploy" /d >/dev/null || fail "tessary-deploy.exe /d: status $?" # removes the installed check again

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
