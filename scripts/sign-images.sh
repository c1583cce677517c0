#!/bin/sh
# Signs every EFI image of a build with sbsign and checks each signature with sbverify.
# Usage: sign-images.sh BUILD_DIR KEY CERT
#   KEY: the private key (PEM, not passphrase-protected); CERT: its certificate (PEM).
# The signed copies go to BUILD_DIR/signed/. The key is read by sbsign where it is and never
# copied anywhere.
set -eu

IMAGES="RbarSurvey.efi RbarSurveyAA64.efi RbarSurveyBoot.efi RbarSurveyBootAA64.efi"

fail() {
  echo "sign-images.sh: $*" >&2
  exit 1
}

[ $# -eq 3 ] || { echo "usage: sign-images.sh BUILD_DIR KEY CERT" >&2; exit 2; }
build=$1
key=$2
cert=$3

for tool in sbsign sbverify; do
  command -v "$tool" >/dev/null 2>&1 ||
    fail "$tool not found: install the Debian package sbsigntool (apt-get install sbsigntool)"
done
[ -n "$key" ] || fail "no key given: make sign KEY=FILE CERT=FILE"
[ -n "$cert" ] || fail "no certificate given: make sign KEY=FILE CERT=FILE"
[ -f "$key" ] || fail "key $key not found"
[ -r "$key" ] || fail "key $key cannot be read"
[ -f "$cert" ] || fail "certificate $cert not found"
[ -r "$cert" ] || fail "certificate $cert cannot be read"
for image in $IMAGES; do
  [ -f "$build/$image" ] || fail "$build/$image not found: build the images first (make build)"
done

mkdir -p "$build/signed"
for image in $IMAGES; do
  signed=$build/signed/$image
  rm -f "$signed"
  if ! output=$(sbsign --key "$key" --cert "$cert" --output "$signed" "$build/$image" 2>&1); then
    rm -f "$signed"
    fail "sbsign could not sign $build/$image with $key and $cert: $output"
  fi
  if ! output=$(sbverify --cert "$cert" "$signed" 2>&1); then
    rm -f "$signed"
    fail "the signature of $signed does not verify with $cert: $output"
  fi
  echo "signed: $signed"
done
