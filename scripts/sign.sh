#!/usr/bin/env bash
# Usage: TESSARY_SIGN_PFX=certificate.pfx TESSARY_SIGN_PASSWORD=... \
#        [TESSARY_SIGN_TIMESTAMP_URL=http://timestamp.example] scripts/sign.sh IN.exe OUT.exe
#
# Signs a Windows executable with Authenticode (SHA-256), using Debian's
# osslsigncode, with the certificate and key in a PKCS#12 file. The password
# comes from the environment and reaches osslsigncode through a file
# descriptor, never on a command line that other users can read. With
# TESSARY_SIGN_TIMESTAMP_URL the signature is also time-stamped there (RFC
# 3161), so that it stays valid after the certificate expires. The input is
# left as it was; builds are unsigned unless this is run.
set -euo pipefail
if [ $# -ne 2 ]; then
  sed -n '2,3p' "$0" >&2
  exit 2
fi
in=$1 out=$2
pfx=${TESSARY_SIGN_PFX:-}
if [ -z "$pfx" ] || [ ! -r "$pfx" ]; then
  echo "sign.sh: set TESSARY_SIGN_PFX to a readable PKCS#12 (.pfx) file" >&2
  exit 2
fi
if [ -z "${TESSARY_SIGN_PASSWORD+set}" ]; then
  echo "sign.sh: set TESSARY_SIGN_PASSWORD to the PKCS#12 file's password (it may be empty)" >&2
  exit 2
fi
command -v osslsigncode >/dev/null || {
  echo "sign.sh: osslsigncode is missing: apt-get install osslsigncode" >&2
  exit 2
}
timestamp=()
if [ -n "${TESSARY_SIGN_TIMESTAMP_URL:-}" ]; then
  timestamp=(-ts "$TESSARY_SIGN_TIMESTAMP_URL")
fi
rm -f "$out"
osslsigncode sign -pkcs12 "$pfx" -readpass /dev/fd/3 -h sha256 -n Tessary "${timestamp[@]}" \
  -in "$in" -out "$out" 3< <(printf '%s' "$TESSARY_SIGN_PASSWORD") >/dev/null
echo "signed: $out"
