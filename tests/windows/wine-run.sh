#!/usr/bin/env bash
# Usage: wine-run.sh PREFIX PROGRAM [ARGUMENTS...]
# Runs a Windows program under Wine in the throwaway prefix PREFIX (made on
# first use, which takes some seconds), with Wine's own messages silenced.
set -euo pipefail
export WINEPREFIX="$(realpath -m "$1")"
shift
# WINE_RUN_DEBUG, when set, chooses Wine's debug channels (on standard error).
export WINEDEBUG=${WINE_RUN_DEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot --init </dev/null >/dev/null 2>&1 || true
fi
# Wine's server and its background services outlive the program. Started
# here, away from the caller's pipes, they cannot hold those pipes open and
# keep a caller that reads to the end waiting long after the program ended.
wineserver -p10 </dev/null >/dev/null 2>&1 || true
wineboot </dev/null >/dev/null 2>&1 || true
exec wine "$@"
