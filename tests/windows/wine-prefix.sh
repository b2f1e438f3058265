#!/usr/bin/env bash
# Usage: wine-prefix.sh start|stop PREFIX
# Gives the Windows tests of one build one Wine server for their whole run:
# "start" makes and boots the throwaway prefix and starts a server that stays
# until "stop" ends it. Without this, each run of wine-run.sh could start a
# server, or meet one that is about to exit, depending on how long ago the
# last program ended.
set -euo pipefail
action=$1
export WINEPREFIX="$(realpath -m "$2")"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
case "$action" in
start)
  # Any server left over is ended; then one that stays until it is told to
  # stop, started away from the caller's pipes, and the prefix made, or its
  # services booted, with it.
  wineserver -k </dev/null >/dev/null 2>&1 || true
  wineserver -w </dev/null >/dev/null 2>&1 || true
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    # A new prefix, its registry written out before the server starts.
    mkdir -p "$WINEPREFIX"
    wineboot --init </dev/null >/dev/null 2>&1
    wineserver -w </dev/null >/dev/null 2>&1 || true
  fi
  wineserver -p </dev/null >/dev/null 2>&1
  wineboot </dev/null >/dev/null 2>&1
  echo "Wine server up for $WINEPREFIX"
  ;;
stop)
  wineserver -k </dev/null >/dev/null 2>&1 || true
  wineserver -w </dev/null >/dev/null 2>&1 || true
  echo "Wine server stopped for $WINEPREFIX"
  ;;
*)
  echo "usage: wine-prefix.sh start|stop PREFIX" >&2
  exit 2
  ;;
esac
