#!/usr/bin/env bash
# Usage: make-package.sh PACKAGE.zip FILE|NAME=FILE...
# Makes the ZIP that ships the files, in the order given, each under its own
# name or under NAME (a path within the package, such as scripts/x.ps1), and
# SHA256SUMS last (each file's SHA-256, as sha256sum writes it), so that the
# same files always give the same bytes: fixed times and permissions, no extra
# fields (zip -X), no folder entries (zip -D).
set -euo pipefail
package=$(realpath -m "$1")
shift
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
names=()
for file in "$@"; do
  name=$(basename "$file")
  if [[ "$file" == *=* ]]; then
    name=${file%%=*}
    file=${file#*=}
  fi
  mkdir -p "$(dirname "$stage/$name")"
  cp "$file" "$stage/$name"
  case "$name" in
  *.exe) chmod 0755 "$stage/$name" ;;
  *) chmod 0644 "$stage/$name" ;;
  esac
  TZ=UTC touch -d "2000-01-01 00:00:00" "$stage/$name"
  names+=("$name")
done
(cd "$stage" && sha256sum "${names[@]}") >"$stage/SHA256SUMS"
chmod 0644 "$stage/SHA256SUMS"
TZ=UTC touch -d "2000-01-01 00:00:00" "$stage/SHA256SUMS"
names+=(SHA256SUMS)
rm -f "$package"
(cd "$stage" && TZ=UTC zip -X -D -q "$package" "${names[@]}")
