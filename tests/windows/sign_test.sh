#!/usr/bin/env bash
# Usage: sign_test.sh EXE PREFIX WORK [ARGUMENT]
# Proves scripts/sign.sh with a throwaway self-signed certificate made here:
# the signed executable carries a signature that osslsigncode verifies, with
# a message digest that matches the file, and still runs under Wine (with
# ARGUMENT, /a when none is given) with the same output as before.
set -euo pipefail
here=$(dirname "$(realpath "$0")")
exe=$1 prefix=$2 work=$3 argument=${4:-/a}
rm -rf "$work"
mkdir -p "$work"
cd "$work"
password=$(head -c 12 /dev/urandom | od -An -tx1 | tr -d ' \n')
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out certificate.pem -days 1 \
  -subj "/CN=Tessary test signer" -addext "extendedKeyUsage=codeSigning" 2>/dev/null
PASSWORD=$password openssl pkcs12 -export -inkey key.pem -in certificate.pem -out certificate.pfx -passout env:PASSWORD
TESSARY_SIGN_PFX=certificate.pfx TESSARY_SIGN_PASSWORD=$password "$here/../../scripts/sign.sh" "$exe" signed.exe
verify=$(osslsigncode verify -CAfile certificate.pem -in signed.exe 2>&1) || {
  echo "FAILED: osslsigncode does not verify the signature:" >&2
  echo "$verify" >&2
  exit 1
}
current=$(sed -n 's/^Current message digest *: *//p' <<<"$verify" | tr -d ' ')
calculated=$(sed -n 's/^Calculated message digest *: *//p' <<<"$verify" | tr -d ' ')
grep -q '^Signature verification: ok' <<<"$verify" && [ -n "$current" ] && [ "$current" = "$calculated" ] || {
  echo "FAILED: the signature or its digest does not check out:" >&2
  echo "$verify" >&2
  exit 1
}
# Running the signed and the unsigned program gives the same output.
"$here/wine-run.sh" "$prefix" "$exe" "$argument" >unsigned.txt || true
"$here/wine-run.sh" "$prefix" "$(realpath signed.exe)" "$argument" >signed.txt || true
[ -s unsigned.txt ] || {
  echo "FAILED: the program printed nothing" >&2
  exit 1
}
cmp -s unsigned.txt signed.txt || {
  echo "FAILED: the signed program prints otherwise than the unsigned one" >&2
  exit 1
}
# The input is left as it was: unsigned.
if osslsigncode verify -in "$exe" >/dev/null 2>&1; then
  echo "FAILED: signing changed its input" >&2
  exit 1
fi
echo "signed, verified (digest $current), and runs as before"
