#!/usr/bin/env bash
# Usage: package_test.sh PREFIX PACKAGE.zip WORK HOLDER
# The package as shipped, under Wine, on Wine's own devices (whose bus Wine
# cannot report, so no adapter is picked): scripts/startup.cmd, run by Wine's
# cmd, installs both programs, which then match the package's; the command of
# each PowerShell script, run as written against the installed programs,
# gives the answer its system reads for a machine with no adapter; a swapped
# or linked tessary-preflight.exe is refused with nothing installed; a signed
# one is accepted (the digest is the Authenticode one); /d removes the
# programs, and, run from the installed copy, sets itself aside for removal
# at the next restart, which an install before it then survives; a program
# some process holds open without sharing is replaced at the next restart,
# and the run goes on (the installed deployment takes that copy as its
# pre-flight until then), and a later /d removes the copy left for then, as
# /a does; one held open fails the run; a folder that holds another file is
# kept. wine-run.sh boots the prefix, which
# carries out what waits for a restart: the runs that must not do so use
# plain wine.
set -euo pipefail
here=$(dirname "$(realpath "$0")")
prefix=$(realpath -m "$1") package=$(realpath "$2") work=$3 holder=$4
run() { "$here/wine-run.sh" "$prefix" "$@"; }
plain() { WINEPREFIX=$prefix WINEDEBUG=-all wine "$@"; }
restart() { WINEPREFIX=$prefix WINEDEBUG=-all wineboot -r </dev/null >/dev/null 2>&1; }
rm -rf "$work"
mkdir -p "$work/package"
cd "$work"
. "$here/../support/checks.sh"
hold_with=plain
. "$here/hold.sh"
unzip -q "$package" -d package
run cmd /c exit >/dev/null 2>&1 || true # makes the prefix, if it is new
installed="$prefix/drive_c/Program Files/Tessary"
log=$(ls -d "$prefix/drive_c/windows/"[Ll]ogs)/Tessary/tessary.log
rm -rf "$installed"
# The prefix's log holds the entries of every earlier test too: each check
# reads only what was logged since mark.
mark() { if [ -f "$log" ]; then seen=$(wc -l <"$log"); else seen=0; fi; }
logged() { grep -q -- "$1" < <(tail -n "+$((seen + 1))" "$log" 2>/dev/null); }
recent() { tail -n 5 "$log"; }
mark
session='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager'
reg() { WINEPREFIX=$prefix WINEDEBUG=-all wine reg "$@" 2>/dev/null | tr -d '\r'; }
reg delete "$session" /v PendingFileRenameOperations /f >/dev/null || true

# The scripts as shipped: ASCII only, no byte order mark, each line ended by
# CR LF, as Remediations with a signature check ("UTF-8 not UTF-8 BOM") and
# Windows PowerShell read them alike.
for script in package/scripts/*; do
  python3 - "$script" <<'PY' || fail "$script is not plain ASCII with CR LF line ends"
import re, sys
data = open(sys.argv[1], "rb").read()
sys.exit(0 if data.endswith(b"\r\n") and re.fullmatch(rb"(?:[\t -~]*\r\n)+", data) else 1)
PY
done

# The Group Policy startup script, in the unpacked package as on a share.
status=0
run cmd /c 'package\scripts\startup.cmd' >startup.txt || status=$?
[ "$status" -eq 0 ] && [ "$(tail -n 1 startup.txt | tr -d '\r')" = \
  "tessary-deploy: 0, success: no adapter to act on. Only the installed programs were changed." ] ||
  fail "startup.cmd: status $status: $(cat startup.txt)"
for program in tessary-preflight.exe tessary-deploy.exe; do
  cmp -s "package/$program" "$installed/$program" || fail "$program is not installed as the package holds it"
done
logged "installed program: C:\\\\Program Files\\\\Tessary\\\\tessary-preflight.exe placed" ||
  fail "the log does not say the programs were placed: $(recent)"

# Each PowerShell script's one command, against the installed programs: the
# column of a machine with no adapter.
none='No adapter: tessary.exe would pick no adapter on this machine'
done_line='tessary-deploy: 0, success: no adapter to act on. Nothing was changed.'
for case in "intune-detection.ps1|0|$none" "configmgr-detection.ps1|0|$none" \
  "remediation-detection.ps1|0|$none" "configmgr-discovery.ps1|0|NotApplicable" \
  "remediation.ps1|0|$done_line" "configmgr-remediation.ps1|0|$done_line"; do
  IFS='|' read -r script want_status want_line <<<"$case"
  command=$(grep -a '^& "' "package/scripts/$script" | tr -d '\r')
  program=$(sed 's/^& "\$env:ProgramW6432\\Tessary\\\([^"]*\)".*/\1/' <<<"$command")
  arguments=$(sed 's/^& "[^"]*" \([^;]*\);.*/\1/' <<<"$command")
  [ -f "$installed/$program" ] || fail "$script runs $program, which is not installed"
  status=0
  # shellcheck disable=SC2086 # the arguments are words
  run "C:\\Program Files\\Tessary\\$program" $arguments >"$script.out" 2>"$script.err" || status=$?
  last=$(tail -n 1 "$script.out" | tr -d '\r')
  [ "$status" = "$want_status" ] && [ "$last" = "$want_line" ] && [ ! -s "$script.err" ] ||
    fail "$script ($program $arguments): status $status, last line '$last': $(cat "$script.err")"
done
# An answer read from the output that cannot be written fails the detection,
# rather than read as "not installed"; one the exit code carries stands.
for case in "--detect|4" "--compliance-value|4" "--check|3"; do
  IFS='|' read -r mode want_status <<<"$case"
  status=0
  run "C:\\Program Files\\Tessary\\tessary-preflight.exe" "$mode" /a >/dev/full 2>full.err || status=$?
  [ "$status" = "$want_status" ] && { [ "$status" != 4 ] || grep -q 'answer could not be written' full.err; } ||
    fail "$mode /a into a full device: status $status: $(cat full.err)"
done

# A pre-flight that is not the package's, or a link to another file, is
# refused, and nothing is installed from the package beside it. (Windows
# shows a link to a file as a reparse point, which is refused as such; Wine
# shows it as its target, which the digest then refuses.)
refused() {
  local folder=$1 why=$2 status=0
  run "$folder/tessary-deploy.exe" /a >"$folder.out" 2>"$folder.err" || status=$?
  [ "$status" -eq 1 ] && grep -q "$why" "$folder.err" && grep -q 'could not be placed' "$folder.out" &&
    [ "$(wc -l <"$folder.out")" -eq 1 ] || fail "$folder: status $status: $(cat "$folder.out" "$folder.err")"
}
mkdir swapped linked
cp package/tessary-deploy.exe package/tessary.exe swapped/
cp package/tessary-deploy.exe linked/
mv swapped/tessary.exe swapped/tessary-preflight.exe
printf 'not a program' >text.txt
ln -s "$work/text.txt" linked/tessary-preflight.exe
printf 'older' >"$installed/tessary-preflight.exe" # what an update would replace
mkdir huge
cp package/tessary-deploy.exe huge/
truncate -s 65M huge/tessary-preflight.exe # more than a program may be: its own error, not an earlier call's
refused swapped 'is not the one this deployment was built with'
refused linked 'is a link\|is not an executable'
refused huge 'cannot be read (error 223'
[ "$(cat "$installed/tessary-preflight.exe")" = older ] || fail "a refused run changed the installed pre-flight"

# Signed, the pre-flight keeps its digest and is installed (an update here).
mkdir signed
cp package/tessary-deploy.exe signed/
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out certificate.pem -days 1 \
  -subj "/CN=Tessary test signer" -addext "extendedKeyUsage=codeSigning" 2>/dev/null
osslsigncode sign -certs certificate.pem -key key.pem -in package/tessary-preflight.exe \
  -out signed/tessary-preflight.exe >/dev/null
mark
run signed/tessary-deploy.exe /a >signed.out 2>&1 || fail "a signed pre-flight: status $?: $(cat signed.out)"
cmp -s signed/tessary-preflight.exe "$installed/tessary-preflight.exe" || fail "the signed pre-flight was not installed"
logged 'tessary-preflight.exe updated' || fail "the log does not say the pre-flight was updated"

# /d from the package removes both and their folder, read-only ones too
# (whose removal Windows refuses as a running program's, at a restart too);
# run from the installed copy, it removes the pre-flight and sets itself
# aside, for removal with the folder at the next restart. An install before
# that restart keeps both.
chmod a-w "$installed"/*.exe
run package/tessary-deploy.exe /d >remove.out || fail "/d: status $?: $(cat remove.out)"
[ ! -e "$installed" ] || fail "/d left $(ls -la "$installed")"
run package/tessary-deploy.exe /a >/dev/null || fail "/a again: status $?"
mark
plain 'C:\Program Files\Tessary\tessary-deploy.exe' /d >self.out || fail "/d from the installed copy: status $?"
aside=$(cd "$installed" && ls tessary-deploy.exe.*.removed 2>/dev/null || true)
[ ! -e "$installed/tessary-preflight.exe" ] && [ ! -e "$installed/tessary-deploy.exe" ] && [ -n "$aside" ] ||
  fail "/d from the installed copy: $(ls -la "$installed")"
pending=$(reg query "$session" /v PendingFileRenameOperations)
grep -qF "Tessary\\$aside" <<<"$pending" || fail "no removal at the next restart: $pending"
logged "set aside as .*$aside, to be removed at the next restart (it is the program running)" ||
  fail "the log does not say so: $(recent)"
plain package/tessary-deploy.exe /a >/dev/null || fail "/a before the restart: status $?"
restart
for program in tessary-preflight.exe tessary-deploy.exe; do
  cmp -s "package/$program" "$installed/$program" || fail "$program did not outlast the restart: $(ls -la "$installed")"
done
[ ! -e "$installed/$aside" ] || fail "the restart did not remove $aside"

# A program set aside by a run cut short before it set the removal for the
# restart would stay for good: the next /d removes it with the rest.
printf 'older' >"$installed/tessary-deploy.exe.99.removed"
mark
plain package/tessary-deploy.exe /d >aside.out 2>&1 || fail "/d beside a set-aside copy: status $?: $(cat aside.out)"
[ ! -e "$installed" ] && logged 'exe.99.removed, a program an earlier run set aside, removed' ||
  fail "/d beside a set-aside copy: $(ls -la "$installed"; recent)"
plain package/tessary-deploy.exe /a >/dev/null || fail "/a after it: status $?"

# A file of someone else's in the folder keeps it, and the log says why.
printf 'notes' >"$installed/notes.txt"
mark
plain package/tessary-deploy.exe /d >kept.out 2>&1 || fail "/d beside another file: status $?: $(cat kept.out)"
[ "$(ls "$installed")" = notes.txt ] && logged 'Tessary kept: it holds other files' ||
  fail "/d beside another file: $(ls -la "$installed"; recent)"
rm "$installed/notes.txt"
plain package/tessary-deploy.exe /a >/dev/null || fail "/a once more: status $?"

# Any account that may read the installed pre-flight can hold it open with
# no sharing: /a then leaves its replacement to the next restart and goes
# on, and the installed deployment takes that copy as its pre-flight until
# then. /d cannot remove it while it is held (a removal by name at the
# restart would take a program installed before then): it fails, but removes
# the copy /a left, and the next /d removes the rest; the restart then puts
# nothing back.
printf 'older' >"$installed/tessary-preflight.exe"
# answers STATUS PATTERN WHAT COMMAND...: the command, run with plain wine,
# exits with STATUS and logs PATTERN.
answers() {
  local want=$1 pattern=$2 what=$3 status=0
  shift 3
  mark
  plain "$@" >answer.out 2>&1 || status=$?
  [ "$status" -eq "$want" ] && logged "$pattern" || fail "$what: status $status: $(cat answer.out; recent)"
}
hold_file 'C:\Program Files\Tessary\tessary-preflight.exe' 12
answers 0 'tessary-preflight.exe in use (error 32 .*replaces it at the next restart' "/a with the pre-flight held" \
  package/tessary-deploy.exe /a
answers 0 'next restart, is the pre-flight this deployment was built with, and is installed' \
  "the installed /a with the pre-flight held" 'C:\Program Files\Tessary\tessary-deploy.exe' /a
answers 1 'a copy an earlier run left for the next restart, removed' "/d with the pre-flight held" \
  package/tessary-deploy.exe /d
logged 'tessary-preflight.exe cannot be opened (error 32' || fail "/d with the pre-flight held: $(recent)"
wait
plain package/tessary-deploy.exe /d >held-after.out 2>&1 || fail "/d once let go: status $?: $(cat held-after.out)"
restart
[ ! -e "$installed" ] || fail "the restart left $(ls -la "$installed")"

plain package/tessary-deploy.exe /a >/dev/null || fail "/a after the restart: status $?"
# A /d that cannot remove one program removes neither: the installed check
# stays to tell of the machine.
hold_file 'C:\Program Files\Tessary\tessary-deploy.exe' 8
answers 1 'tessary-deploy.exe cannot be opened (error 32' "/d with the installed deployment held" \
  package/tessary-deploy.exe /d
[ -e "$installed/tessary-preflight.exe" ] || fail "/d removed the pre-flight, though not the deployment"
wait
# A copy left for the restart that cannot be removed would be put over what
# a run leaves: /a leaves the programs as they are and exits 1; once the copy
# is let go, /a removes it.
printf 'older' >"$installed/tessary-preflight.exe.7.new"
hold_file 'C:\Program Files\Tessary\tessary-preflight.exe.7.new' 4
answers 1 'exe.7.new, a copy an earlier run left for the next restart, cannot be opened (error 32' \
  "/a with a leftover copy held" package/tessary-deploy.exe /a
wait
plain package/tessary-deploy.exe /a >stale.out 2>&1 || fail "/a once the copy is let go: status $?: $(cat stale.out)"
[ ! -e "$installed/tessary-preflight.exe.7.new" ] || fail "the leftover copy stayed: $(ls -la "$installed")"
reg delete "$session" /v PendingFileRenameOperations /f >/dev/null || true
rm -rf "$installed"

[ "$failures" -eq 0 ] || exit 1
echo "startup.cmd and each script's command answer as their systems read them; the programs are installed" \
  "verified, a swapped or linked pre-flight is refused, a signed one accepted; /d removes them; a held" \
  "program is replaced at the next restart, a running one removed then; a held leftover copy fails the run"
