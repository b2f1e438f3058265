#!/usr/bin/env bash
# Builds Tessary on the simulated platform (the program alone, no test) and
# runs it; the arguments go to the tool. Without TESSARY_SIM_MACHINE it runs
# on the built-in demo machine.
# The tool runs in the folder run.sh was started from, so relative paths in
# TESSARY_SIM_MACHINE and TESSARY_SIM_TRACE mean what they mean there. The
# build reports on standard error; standard output is the tool's alone.
set -euo pipefail
top=$(cd "$(dirname "$0")" && pwd)
. "$top/scripts/prerequisites.sh"
require_packages cmake ninja-build g++ nlohmann-json3-dev libgtest-dev libgmock-dev

build() {
  cd "$top"
  local log
  log=$(mktemp)
  if [ ! -f build/default/build.ninja ]; then
    echo "run.sh: configuring the native build on the simulated platform (once)" >&2
    if ! cmake --preset default >"$log" 2>&1; then
      cat "$log" >&2
      rm -f "$log"
      echo "run.sh: the build could not be configured" >&2
      return 1
    fi
    echo "run.sh: building the program; the first build takes about half a minute" >&2
  fi
  rm -f "$log"
  # Ninja shows each step as it goes; a build with nothing to do says nothing.
  cmake --build --preset default --target tessary 2>&1 | sed -u '/^ninja: no work to do\.$/d' >&2 || {
    echo "run.sh: the build failed" >&2
    return 1
  }
}
(build)
exec "$top/build/default/tessary" "$@"
