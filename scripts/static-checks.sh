#!/usr/bin/env bash
# The static checks: no control characters in sources and documents, every
# C++ file follows .clang-format, and clang-tidy
# (configured by .clang-tidy) passes over the code of every build that
# ./test.sh configures. Run from the top of the tree after the builds.
set -euo pipefail

# No source or document holds a control character but tab and line ends: a
# stray NUL makes git and editors take a source for a binary file.
texts=('*.cpp' '*.h' '*.inc' '*.md' '*.in' '*.cmake' '*.sh' '*.py' '*.ps1' '*.json' 'CMakeLists.txt')
if git grep -lP '[\x00-\x08\x0B\x0C\x0E-\x1F\x7F]' -- "${texts[@]}" ':!fuzz/corpus'; then
  echo "control characters in the files above" >&2
  exit 1
fi

echo "clang-format: checking $(git ls-files '*.cpp' '*.h' '*.inc' | wc -l) files"
git ls-files '*.cpp' '*.h' '*.inc' | xargs clang-format --dry-run --Werror

# Each file is checked with the compile commands of a build that compiles
# it: the native build, the fuzz build, the Windows build, the suite
# cross-built for Windows. Each must be configured first, and a file no
# build compiles is an error, not a file left unchecked.
builds=(build/default build/fuzz build/mingw build/mingw-sim)
for build in "${builds[@]}"; do
  [ -f "$build/compile_commands.json" ] || {
    echo "$build is not configured: run cmake --preset ${build#build/} first" >&2
    exit 1
  }
done
tidy() {
  local build=$1
  shift
  local extra=()
  if [ "$build" != "${build#build/mingw}" ]; then
    # clang-tidy is told the target and where MinGW-w64's C++ headers are.
    local cxx=/usr/lib/gcc/x86_64-w64-mingw32/12-posix/include/c++
    extra=(--extra-arg=--target=x86_64-w64-mingw32 "--extra-arg=-isystem$cxx"
      "--extra-arg=-isystem$cxx/x86_64-w64-mingw32")
  fi
  [ $# -gt 0 ] || return 0
  echo "clang-tidy: $# files with the compile commands of $build"
  # clang-tidy counts the warnings it suppressed in system headers on
  # standard error; only its findings are shown.
  local output status=0
  output=$(printf '%s\n' "$@" | xargs -P "$(nproc)" -n 4 clang-tidy -p "$build" --quiet "${extra[@]}" 2>&1) || status=$?
  grep -v 'warnings\? generated\.$' <<<"$output" || true
  return "$status"
}
# Each file goes to the first of these builds that compiles it.
native=() fuzz=() windows=() suite=() unbuilt=()
compiled_in() { grep -qF "\"file\": \"$PWD/$2\"" "$1/compile_commands.json"; }
while read -r file; do
  if compiled_in build/default "$file"; then
    native+=("$file")
  elif compiled_in build/fuzz "$file"; then
    fuzz+=("$file")
  elif compiled_in build/mingw "$file"; then
    windows+=("$file")
  elif compiled_in build/mingw-sim "$file"; then
    suite+=("$file")
  else
    unbuilt+=("$file")
  fi
done < <(git ls-files -co --exclude-standard '*.cpp' | grep -v '^bench/')
if [ ${#unbuilt[@]} -gt 0 ]; then
  printf '%s\n' "${unbuilt[@]}" >&2
  echo "no build compiles the files above, so clang-tidy cannot check them" >&2
  exit 1
fi
tidy build/default "${native[@]}"
tidy build/fuzz "${fuzz[@]}"
tidy build/mingw "${windows[@]}"
tidy build/mingw-sim "${suite[@]}"
