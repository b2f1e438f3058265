#!/usr/bin/env bash
# Builds Tessary and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/prerequisites.sh
require_packages cmake ninja-build g++ nlohmann-json3-dev libgtest-dev libgmock-dev

echo "== Native build on the simulated platform"
cmake --preset default
cmake --build --preset default
ctest --preset default
