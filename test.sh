#!/usr/bin/env bash
# Builds Tessary and runs every test: the native build on the simulated
# platform, then the Windows builds, whose tests run under Wine.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/prerequisites.sh
require_packages cmake ninja-build g++ nlohmann-json3-dev libgtest-dev libgmock-dev googletest \
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64 wine wine64

section() { printf '\n== %s\n' "$1"; }

section "Native build on the simulated platform"
cmake --preset default
cmake --build --preset default
ctest --preset default

section "Windows x86 build: record layouts checked at compile time"
cmake --preset mingw32 >/dev/null
cmake --build --preset mingw32

section "The portable suite cross-built for Windows, under Wine"
cmake --preset mingw-sim >/dev/null
cmake --build --preset mingw-sim
ctest --preset mingw-sim

section "The Windows executable on the real platform, under Wine"
cmake --preset mingw >/dev/null
cmake --build --preset mingw
ctest --preset mingw
(cd build/mingw && cpack -G ZIP >/dev/null)
package=$(ls build/mingw/tessary-*-windows-x64.zip)
contents=$(cmake -E tar tf "$package")
[ "$(echo "$contents" | sort | tr '\n' ' ')" = "README.md tessary.exe " ] || {
  echo "the package should hold tessary.exe and README.md, not: $contents" >&2
  exit 1
}
echo "package: $package"
