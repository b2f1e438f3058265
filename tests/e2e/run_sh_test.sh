#!/usr/bin/env bash
# Usage: run_sh_test.sh RUN_SH DEMO_MACHINE WORK
# run.sh runs the tool from the caller's folder: relative machine and trace
# paths are the caller's, and the build's messages stay off standard output.
set -euo pipefail
run_sh=$1 demo=$2 work=$3
rm -rf "$work"
mkdir -p "$work/caller"
cd "$work/caller"
cp "$demo" rel.json
TESSARY_SIM_MACHINE=rel.json TESSARY_SIM_TRACE=my.trace "$run_sh" /a >out.txt 2>err.txt || {
  echo "run.sh failed: $(cat err.txt)" >&2
  exit 1
}
. "$(dirname "$(realpath "$0")")/../support/checks.sh"
grep -q '^Tessary Tool\.\.\.$' out.txt || fail "the tool's output is not on standard output: $(cat out.txt)"
[ "$(grep -vc 'Full Driver Key=\|^Tessary Tool\|^Command: ' out.txt)" = 0 ] || fail "standard output holds more than the tool's lines: $(cat out.txt)"
grep -q WapiSupport rel.json || fail "the caller's relative machine file was not the one run on"
[ -s my.trace ] || fail "the trace was not written to the caller's folder"
[ ! -e "$(dirname "$run_sh")/my.trace" ] || fail "the trace was written into the repository"
[ "$failures" -eq 0 ] || exit 1
echo "run.sh honours the caller's folder"
