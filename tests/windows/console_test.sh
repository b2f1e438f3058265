#!/usr/bin/env bash
# Usage: console_test.sh PREFIX TESSARY_EXE CONSOLE_OUTPUT_EXE WORK
# Runs the Windows programs under Wine on a pseudo-terminal, where they get a
# real console and write through WriteConsoleW, and on a pipe, and checks
# what arrives on each.
set -euo pipefail
here=$(dirname "$(realpath "$0")")
prefix=$1 tessary=$2 probe=$3 work=$4
mkdir -p "$work"
cd "$work"
. "$here/../support/checks.sh"

# Runs a command on a new pseudo-terminal, wide enough that no line wraps and
# without the terminal's own LF to CR LF translation, so the bytes are the
# console's. Wine writes the console to the terminal in the locale's charset.
# Standard error goes to the file ERRORS, off the terminal, or with ERRORS
# "-" stays on it.
# Usage: on_terminal OUTPUT ERRORS COMMAND...
on_terminal() {
  local output=$1 errors=$2
  shift 2
  if [ "$errors" = - ]; then errors=; else errors="2>$(printf '%q' "$errors")"; fi
  LC_ALL=C.UTF-8 script -qec "stty -onlcr cols 2000 rows 50; exec $(printf '%q ' "$@") $errors" /dev/null >"$output"
}

# The terminal's bytes without the control sequences Wine's console adds
# (cursor shown and hidden, titles).
plain() {
  perl -0777 -pe 's/\e\[[0-?]*[ -\/]*[@-~]//g; s/\e\][^\a\e]*(\a|\e\\)//g; s/\e[()][0-9A-Za-z]//g; s/\e[=>]//g' "$1"
}

hex() { od -An -c "$1" | head -c 2000; }

# The tool itself: the console receives the banner and the command line,
# each ended as a console expects (CR LF), and the exit status is 0. Wine's
# trace of WriteConsoleW shows exactly what the console was given; the
# terminal shows what it made of it.
status=0
on_terminal tool.tty tool.trace env WINE_RUN_DEBUG=-all,trace+console "$here/wine-run.sh" "$prefix" "$tessary" /a ||
  status=$?
[ "$status" -eq 0 ] || fail "tessary.exe /a on a console: exit status $status"
grep -o 'WriteConsoleW ([^,]*,L"[^"]*"' tool.trace | sed 's/.*,L"/L"/' >tool.writes || true
printf '%s\n' 'L"Tessary Tool...\r\n"' 'L"Command: Add WapiSupport\r\n"' >tool.expected-writes
cmp -s tool.writes tool.expected-writes || fail "the console was given: $(cat tool.writes)"
printf 'Tessary Tool...\r\nCommand: Add WapiSupport\r\n' >tool.expected
plain tool.tty >tool.txt
cmp -s tool.txt tool.expected || fail "tessary.exe /a on a console printed:$(hex tool.txt)"

# The output function with hard texts, on a pipe and on a console.
"$here/wine-run.sh" "$prefix" "$probe" --expected texts.expected
"$here/wine-run.sh" "$prefix" "$probe" >texts.pipe
cmp -s texts.pipe texts.expected || fail "on a pipe the texts arrived as:$(hex texts.pipe)"

status=0
on_terminal texts.tty texts.errors "$here/wine-run.sh" "$prefix" "$probe" --readback texts.console || status=$?
[ "$status" -eq 0 ] || fail "the console holds other text than was written (status $status):$(hex texts.console)"
plain texts.tty >texts.txt
# Wine 8's console shows each half of a surrogate pair on a terminal as
# U+FFFD, though it holds the pair (the read-back above); either form passes.
if ! cmp -s texts.txt texts.expected; then
  perl -pe 's/\xF0\x9F\x98\x80/\xEF\xBF\xBD\xEF\xBF\xBD/' texts.expected >texts.wine-expected
  cmp -s texts.txt texts.wine-expected || fail "on a console the texts arrived as:$(hex texts.txt)"
fi

# The programs' own errors (file names, system texts) take the same way to
# standard error: the bytes on a pipe, the text itself on a console.
"$here/wine-run.sh" "$prefix" "$probe" --error 2>errors.pipe >/dev/null
cmp -s errors.pipe texts.expected || fail "on standard error's pipe the texts arrived as:$(hex errors.pipe)"
status=0
on_terminal errors.tty - "$here/wine-run.sh" "$prefix" "$probe" --error --readback errors.console || status=$?
[ "$status" -eq 0 ] ||
  fail "standard error's console holds other text than was written (status $status):$(hex errors.console)"

[ "$failures" -eq 0 ] || exit 1
echo "the console and the pipe got what was written"
