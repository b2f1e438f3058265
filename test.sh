#!/usr/bin/env bash
# Builds Tessary and runs every test: the native build on the simulated
# platform (also under valgrind), the sanitizer build, the fuzzers for a
# bounded time, the Windows builds under Wine, and the static checks. Each
# step is named as it starts; the time each took, and the total, end the run.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/prerequisites.sh

started=$SECONDS
timings=()
current=""
section_started=$SECONDS
# Closes the running section's timing and names the next one.
section() {
  finish_section
  current=$1
  section_started=$SECONDS
  printf '\n== %s\n' "$1"
}
finish_section() {
  if [ -n "$current" ]; then
    timings+=("$(printf '%5d s  %s' $((SECONDS - section_started)) "$current")")
  fi
  current=""
}
report() {
  local status=$?
  finish_section
  printf '\n== Times\n'
  printf '%s\n' "${timings[@]}"
  printf '%5d s  in all%s\n' $((SECONDS - started)) "$([ "$status" -eq 0 ] || echo ", FAILED (status $status)")"
}
trap report EXIT

section "Packages the build needs"
require_packages cmake ninja-build g++ nlohmann-json3-dev libgtest-dev libgmock-dev googletest valgrind \
  clang libclang-rt-14-dev clang-tidy clang-format \
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64 wine wine64 \
  zip unzip osslsigncode openssl python3 python3-pefile
echo "all installed"

# How long each fuzzer runs here; the long runs are made by hand.
FUZZ_SECONDS=${FUZZ_SECONDS:-60}

section "Native build on the simulated platform (the end-to-end runs also under valgrind)"
cmake --preset default
cmake --build --preset default
ctest --preset default

section "Native build with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan

section "Fuzzers, ${FUZZ_SECONDS} s each"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
for target in scan deploy machine_file; do
  work=build/fuzz/corpus-$target
  mkdir -p "$work"
  log=build/fuzz/fuzz_$target.log
  # Every input within ten seconds and 1 GiB: a cost that grows faster than
  # the input is a failure. Machine files get larger inputs (and expand
  # small ones, see fuzz_machine_file.cpp) and a dictionary of their tokens.
  # The deployment's inputs begin as the scan's, and start from its seeds.
  extra=()
  [ "$target" != machine_file ] || extra=(-max_len=65536 -dict=fuzz/machine_file.dict)
  seeds=fuzz/corpus/$target
  [ "$target" != deploy ] || seeds=fuzz/corpus/scan
  build/fuzz/fuzz/fuzz_$target -max_total_time="$FUZZ_SECONDS" -print_final_stats=1 -timeout=10 -rss_limit_mb=1024 \
    "${extra[@]}" -artifact_prefix=build/fuzz/ "$work" "$seeds" >"$log" 2>&1 &
  fuzzer=$!
  # A running count every ten seconds: libFuzzer's last status line.
  while kill -0 "$fuzzer" 2>/dev/null; do
    sleep 10
    last=$(grep -aE '^#[0-9]+' "$log" | grep -av 'DONE' | tail -n 1 | cut -c1-100 || true)
    [ -z "$last" ] || echo "fuzz_$target: $last"
  done
  status=0
  wait "$fuzzer" || status=$?
  echo "fuzz_$target: $(grep -aE '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1)"
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$log" >&2
    echo "fuzz_$target found a failure (status $status); the input is in build/fuzz/" >&2
    exit 1
  fi
done

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
package=$(ls build/mingw/tessary-*-windows-x64.zip)
contents=$(unzip -Z1 "$package" | tr '\n' ' ')
scripts=$(cd package && LC_ALL=C ls scripts/* | tr '\n' ' ')
[ "$contents" = "tessary.exe tessary-preflight.exe tessary-deploy.exe README.md ${scripts}SHA256SUMS " ] || {
  echo "the package should hold the three programs, README.md, the scripts and SHA256SUMS, not: $contents" >&2
  exit 1
}
unpacked=build/mingw/package-check
rm -rf "$unpacked" && mkdir -p "$unpacked" && unzip -q "$package" -d "$unpacked"
(cd "$unpacked" && sha256sum --quiet -c SHA256SUMS) || {
  echo "the package's SHA256SUMS does not match its files" >&2
  exit 1
}
unzip -p "$package" README.md | grep -q '^## Deploying to a fleet' || {
  echo "the package's README.md is not the user's README" >&2
  exit 1
}
echo "package: $package ($contents)"

section "The Windows executable is the same from another folder"
# A copy of this tree (committed or not) built where no path is alike.
copy=build/reproduced/elsewhere/tessary-copy
rm -rf build/reproduced
mkdir -p "$copy"
git ls-files -co --exclude-standard | grep -v '^build/' | tar -cf - -T - | tar -xf - -C "$copy"
(cd "$copy" && cmake --preset mingw >/dev/null && cmake --build --preset mingw --target package_zip >/dev/null)
for file in tessary.exe tessary-preflight.exe tessary-deploy.exe "$(basename "$package")"; do
  sums=$(sha256sum "build/mingw/$file" "$copy/build/mingw/$file")
  echo "$sums"
  [ "$(awk '{print $1}' <<<"$sums" | uniq | wc -l)" -eq 1 ] || {
    echo "$file differs between the two builds" >&2
    exit 1
  }
done

section "Static checks"
scripts/static-checks.sh
