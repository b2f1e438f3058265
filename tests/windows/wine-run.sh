#!/usr/bin/env bash
# Usage: wine-run.sh PREFIX PROGRAM [ARGUMENTS...]
# Runs a Windows program under Wine in the throwaway prefix PREFIX (made on
# first use, which takes some seconds), with Wine's own messages silenced.
set -euo pipefail
export WINEPREFIX="$1"
shift
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot --init >/dev/null 2>&1 || true
fi
exec wine "$@"
