#!/usr/bin/env bash
# Builds Tessary on the simulated platform and runs it; the arguments go to
# the tool. Without TESSARY_SIM_MACHINE it runs on the built-in demo machine.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/prerequisites.sh
require_packages cmake ninja-build g++ nlohmann-json3-dev unicode-data libgtest-dev libgmock-dev

log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! { cmake --preset default && cmake --build --preset default; } >"$log" 2>&1; then
  cat "$log" >&2
  echo "run.sh: the build failed" >&2
  exit 1
fi
exec build/default/tessary "$@"
