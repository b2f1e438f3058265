#!/usr/bin/env bash
# Usage: deploy_windows_test.sh PREFIX DEPLOY_SIM DETACHED_RUN HOLD_MUTEX WORK
# tessary-deploy's own work on Windows, done for real under Wine over
# simulated devices (DEPLOY_SIM): the log folder and file are made and
# appended to, bounded to about 1 MiB and one older file (a full log that
# cannot be moved aside still takes the entry), refused (and not
# written through) when the folder or the file is a link; the programs are
# installed under Program Files\Tessary before the tool runs, a swapped
# pre-flight is refused with nothing done, and /d removes them; and a run with no
# console, its output sent to a file, prints the same lines and answers the
# same codes; and one deployment runs at a time: while another holds
# Global\Tessary, a run waits, then answers 1618 and does nothing, one that
# gets it from a run that ended without letting it go goes on, and one that
# finds the name held by a user's mutex answers 1 and does nothing; and the
# rest of an entry that another run's came between names its run again.
set -euo pipefail
here=$(dirname "$(realpath "$0")")
prefix=$(realpath -m "$1") deploy=$2 detached=$3 holder=$4 work=$5
run() { "$here/wine-run.sh" "$prefix" "$@"; }
rm -rf "$work"
mkdir -p "$work"
cd "$work"
. "$here/../support/checks.sh"
. "$here/hold.sh"

cp "$deploy" tessary-deploy-sim.exe
# What /a installs from beside the program: a program whose digest it is told.
cp "$detached" tessary-preflight.exe
TESSARY_TEST_PREFLIGHT_DIGEST=$(python3 "$here/../../scripts/pe-image.py" digest tessary-preflight.exe)
export TESSARY_TEST_PREFLIGHT_DIGEST
run tessary-deploy-sim.exe /x >/dev/null 2>&1 || true # makes the prefix, if it is new
drive=$prefix/drive_c
logs=$(ls -d "$drive/windows/"[Ll]ogs)
installed="$drive/Program Files/Tessary"
rm -rf "$logs/Tessary" "$installed"
log=$logs/Tessary/tessary.log

# A first /a makes the folder and the log, and installs the check.
status=0
run tessary-deploy-sim.exe /a >first.txt 2>first-error.txt || status=$?
[ "$status" -eq 0 ] || fail "/a: status $status: $(cat first.txt first-error.txt)"
[ -s "$log" ] || fail "no log at $log"
grep -q 'tessary-deploy-sim.exe /a'$'\r''$' "$log" || fail "the entry does not name the command: $(cat "$log")"
grep -q '^  outcome 0: success' "$log" || fail "the entry has no outcome: $(cat "$log")"
cmp -s tessary-preflight.exe "$installed/tessary-preflight.exe" || fail "the pre-flight was not installed"
cmp -s tessary-deploy-sim.exe "$installed/tessary-deploy.exe" || fail "the deployment was not installed"
[ ! -s first-error.txt ] || fail "/a wrote on standard error: $(cat first-error.txt)"
# The programs were placed before the tool ran, and so before it restarted
# the adapter.
placed=$(tr -d '\r' <"$log" | grep -n -m1 'installed program: .*tessary-preflight.exe placed$' | cut -d: -f1 || true)
tool=$(tr -d '\r' <"$log" | grep -n -m1 '^  Tessary Tool' | cut -d: -f1 || true)
[ -n "$placed" ] && [ -n "$tool" ] && [ "$placed" -lt "$tool" ] ||
  fail "the programs were not placed before the tool ran: $(cat "$log")"

# /d removes the installed programs and their folder, and appends its entry.
run tessary-deploy-sim.exe /d >/dev/null || fail "/d: status $?"
[ ! -e "$installed" ] || fail "the installed programs are still there: $(ls -la "$installed")"
[ "$(grep -c '^20.*tessary-deploy ' "$log")" -eq 2 ] || fail "two runs, not two entries: $(cat "$log")"

# A pre-flight beside it that is not the one it was built with is refused,
# with an adapter to act on: exit 1, nothing installed, the tool not run (its
# outcome is the one line on standard output).
rm -rf "$installed" swapped
mkdir swapped
cp tessary-deploy-sim.exe swapped/
cp "$holder" swapped/tessary-preflight.exe
status=0
run swapped/tessary-deploy-sim.exe /a >swapped.txt 2>swapped-error.txt || status=$?
# The run's own entry, the log's last: the refusal, and nothing of a run.
entry=$(awk '/^20[0-9][0-9]-/ { entry = "" } { entry = entry $0 "\n" } END { printf "%s", entry }' "$log")
[ "$status" -eq 1 ] && grep -q 'is not the one this deployment was built with' swapped-error.txt &&
  [ "$(wc -l <swapped.txt)" -eq 1 ] && [ ! -e "$installed/tessary-preflight.exe" ] &&
  grep -q 'the installed programs could not be placed' <<<"$entry" &&
  ! grep -q 'before the run\|Tessary Tool' <<<"$entry" ||
  fail "a swapped pre-flight: status $status: $(cat swapped.txt swapped-error.txt)"

# What /a installs of itself is its file as it started, not what another
# process put at its name while it ran.
rm -rf "$installed" renamed
mkdir renamed
cp tessary-deploy-sim.exe tessary-preflight.exe renamed/
cp "$holder" renamed/other.exe
status=0
TESSARY_TEST_SWAP_SELF='renamed\other.exe' run renamed/tessary-deploy-sim.exe /a >renamed.txt 2>&1 ||
  status=$?
[ "$status" -eq 0 ] && [ -e renamed/tessary-deploy-sim.exe.aside ] &&
  ! cmp -s renamed/tessary-deploy-sim.exe tessary-deploy-sim.exe &&
  cmp -s tessary-deploy-sim.exe "$installed/tessary-deploy.exe" ||
  fail "a deployment whose file was swapped while it ran: status $status: $(cat renamed.txt)"

# A full log becomes the one older file, and a new one begins.
head -c 1048576 /dev/zero | tr '\0' 'x' >"$log"
run tessary-deploy-sim.exe /a >/dev/null || fail "/a on a full log: status $?"
[ "$(wc -c <"$log.1")" -eq 1048576 ] || fail "the full log was not kept as the older file"
[ "$(wc -c <"$log")" -lt 4096 ] && grep -q '^  outcome 0' "$log" || fail "no new log: $(head -c 300 "$log")"
# One that cannot be moved aside (the older file's name is a folder's here)
# still takes the entry, which says so.
rm -f "$log.1"
mkdir "$log.1"
head -c 1048576 /dev/zero | tr '\0' 'x' >"$log"
run tessary-deploy-sim.exe /a >/dev/null || fail "/a on a full log kept in place: status $?"
# (below the entry's first line)
[ "$(wc -c <"$log")" -gt 1048576 ] && grep -q '^  outcome 0' "$log" &&
  grep -A1 'tessary-deploy-sim.exe /a'$'\r''$' "$log" | tail -n 1 |
  grep -q '^  the log could not be moved aside to make room (error 5 ' ||
  fail "the entry was not added to a full log kept in place: $(tail -c 600 "$log")"
rmdir "$log.1"

# A log folder, or a log file, that is a link is refused and not written
# through; the run's outcome stays.
mkdir elsewhere
rm -rf "$logs/Tessary"
ln -s "$work/elsewhere" "$logs/Tessary"
status=0
run tessary-deploy-sim.exe /a >/dev/null 2>linked-folder.txt || status=$?
[ "$status" -eq 0 ] || fail "a linked log folder changed the status to $status"
grep -q 'the log was not written: .*Tessary is a link' linked-folder.txt || fail "no word of the link: $(cat linked-folder.txt)"
[ -z "$(ls elsewhere)" ] || fail "the log was written through the linked folder"
rm "$logs/Tessary"
mkdir "$logs/Tessary"
printf 'not a log' >target.txt
ln -s "$work/target.txt" "$log"
run tessary-deploy-sim.exe /a >/dev/null 2>linked-file.txt || fail "a linked log file: status $?"
grep -q 'tessary.log leads elsewhere' linked-file.txt || fail "no word of the linked file: $(cat linked-file.txt)"
[ "$(cat target.txt)" = 'not a log' ] || fail "the log was written through the link"
rm "$log"

# With no console, as a management system's agent runs it, and its output in
# a file: the same lines and the same code as a run started from the shell
# with its output in a file, here for a run that needs a restart (3010,
# which a Unix shell sees as 3010 & 255). The console itself is
# console_test.sh's.
status=0
TESSARY_TEST_VETOED=1 run tessary-deploy-sim.exe /a >shell.txt || status=$?
[ "$status" -eq $((3010 & 255)) ] || fail "from the shell: status $status, not 3010 & 255: $(cat shell.txt)"
# (.\ names the copy here: Windows looks for a bare name beside the runner first.)
code=$(TESSARY_TEST_VETOED=1 run "$detached" detached.txt detached-error.txt '.\tessary-deploy-sim.exe' /a |
  tr -d '\r' || true)
[ "$code" = 3010 ] || fail "with no console: status $code, not 3010: $(cat detached.txt detached-error.txt)"
cmp -s shell.txt detached.txt || fail "with no console the lines differ: $(diff shell.txt detached.txt)"
grep -q '^tessary-deploy: 3010, restart needed' detached.txt || fail "no outcome line: $(cat detached.txt)"

# One deployment at a time (each run here waits a shorter time than the 60
# seconds a shipped one waits).
hold 6
rm -rf "$installed"
started=$(date +%s%N)
code=$(TESSARY_TEST_LOCK_WAIT_MS=1500 run "$detached" busy.txt busy-error.txt '.\tessary-deploy-sim.exe' /a |
  tr -d '\r' || true)
waited=$((($(date +%s%N) - started) / 1000000))
[ "$code" = 1618 ] && grep -q '^tessary-deploy: 1618, busy: another deployment is running' busy.txt &&
  [ "$(wc -l <busy.txt)" -eq 1 ] || fail "a second deployment: status $code: $(cat busy.txt busy-error.txt)"
[ "$waited" -ge 1500 ] || fail "a second deployment answered after $waited ms, before its wait of 1500"
[ ! -e "$installed" ] || fail "a second deployment installed the programs while the first ran"
tail -n 2 "$log" | grep -q 'held Global\\Tessary throughout the wait: nothing was done' ||
  fail "the busy run's entry: $(tail -n 3 "$log")"
wait
# A user took the name first: no deployment waits for that, or does anything.
hold 6 foreign
code=$(TESSARY_TEST_LOCK_WAIT_MS=20000 run "$detached" taken.txt taken-error.txt '.\tessary-deploy-sim.exe' /a |
  tr -d '\r' || true)
[ "$code" = 1 ] && grep -q '^tessary-deploy: 1, failed: Global\\Tessary is taken by an object no deployment' taken.txt &&
  [ "$(wc -l <taken.txt)" -eq 1 ] && [ ! -e "$installed" ] ||
  fail "a deployment on a name a user holds: status $code: $(cat taken.txt taken-error.txt)"
tail -n 2 "$log" | grep -q "not a deployment's to wait for: it belongs to BUILTIN\\\\Users" ||
  fail "the entry of a name a user holds: $(tail -n 3 "$log")"
wait
# The one before ends without letting it go, as a killed run would.
hold 2 abandon
TESSARY_TEST_LOCK_WAIT_MS=20000 run tessary-deploy-sim.exe /a >abandoned.txt || fail "after an abandoned run: status $?"
grep -q 'ended without letting Global\\Tessary go: it was interrupted' "$log" ||
  fail "no word of the abandoned run: $(tail -n 5 "$log")"
wait
# A run that finds another running writes its entry between that one's
# start and its rest, which then names its run again: each class installer
# call of the first takes 5 seconds, and the second starts once the first's
# start is in the log.
before=$(grep -c '^20.*tessary-deploy ' "$log")
TESSARY_TEST_SLOW_MS=5000 run tessary-deploy-sim.exe /a >slow.txt 2>&1 &
slow=$!
for _ in $(seq 300); do [ "$(grep -c '^20.*tessary-deploy ' "$log")" -gt "$before" ] && break; sleep 0.1; done
code=$(TESSARY_TEST_LOCK_WAIT_MS=500 run "$detached" between.txt between-error.txt '.\tessary-deploy-sim.exe' /a |
  tr -d '\r' || true)
wait "$slow" || fail "the slow run: status $?: $(cat slow.txt)"
[ "$code" = 1618 ] || fail "a deployment during a slow one: status $code: $(cat between.txt between-error.txt)"
tr -d '\r' <"$log" | grep -A1 '^  outcome 1618: ' | tail -n 1 |
  grep -q '^20.*tessary-deploy-sim.exe /a (continued)$' ||
  fail "the rest of the slow run's entry does not name its run: $(tail -n 12 "$log")"
# (and that of an entry nothing came between does not)
[ "$(grep -c '(continued)'$'\r''$' "$log")" -eq 1 ] || fail "entries continued: $(grep '(continued)' "$log")"

# Another process writing its entry holds the log without sharing for that
# long: a run waits for it (up to 5 seconds), then writes its own.
hold_file 'C:\windows\Logs\Tessary\tessary.log' 2
status=0
run tessary-deploy-sim.exe /a >held-log.txt 2>held-log-error.txt || status=$?
wait
[ "$status" -eq 0 ] && [ ! -s held-log-error.txt ] && tail -n 1 "$log" | grep -q '^  outcome 0: success' ||
  fail "a run while the log was held: status $status: $(cat held-log-error.txt; tail -n 2 "$log")"

[ "$failures" -eq 0 ] || exit 1
echo "the log is made, appended to, bounded and refused through links; the programs are installed and removed;" \
  "a second deployment waits, then answers 1618; one after an abandoned run goes on;" \
  "with no console the lines and codes are the same"
