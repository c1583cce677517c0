#!/usr/bin/env bash
# Test of scripts/sign-images.sh with Debian ovmf's snakeoil pair (the key in the db of
# OVMF_VARS_4M.snakeoil.fd): every image signed verifies, one changed byte fails verification,
# and each fault the script must refuse gives its message and a non-zero status.
# Usage: sign-test.sh SIGN_SCRIPT BUILD_DIR SCRATCH_DIR
set -euo pipefail
sign=$1
build=$2
scratch=$3
snakeoil=/usr/share/ovmf/PkKek-1-snakeoil
images=(RbarSurvey.efi RbarSurveyAA64.efi RbarSurveyBoot.efi RbarSurveyBootAA64.efi)
fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$scratch" && mkdir -p "$scratch/build"
for image in "${images[@]}"; do cp "$build/$image" "$scratch/build/"; done
openssl rsa -in "$snakeoil.key" -passin pass:snakeoil -out "$scratch/key.pem" 2>/dev/null
openssl req -new -x509 -newkey rsa:2048 -nodes -subj /CN=other -days 1 \
  -keyout "$scratch/other.key" -out "$scratch/other.pem" 2>/dev/null
echo "not a key" >"$scratch/garbage.key"
# An sbsign that copies the image unsigned, so that the script's verification must catch it.
mkdir -p "$scratch/unsigning"
# shellcheck disable=SC2016 # the stub's own text
printf '#!/bin/sh\nwhile [ "$1" != --output ]; do shift; done\ncp "$3" "$2"\n' >"$scratch/unsigning/sbsign"
chmod +x "$scratch/unsigning/sbsign"

"$sign" "$scratch/build" "$scratch/key.pem" "$snakeoil.pem"
for image in "${images[@]}"; do
  sbverify --cert "$snakeoil.pem" "$scratch/build/signed/$image" 2>&1 | grep -q 'Signature verification OK' ||
    fail "signed/$image does not verify"
done
changed=$scratch/changed.efi
cp "$scratch/build/signed/RbarSurveyBoot.efi" "$changed"
printf '\xCC' | dd of="$changed" bs=1 seek=1200 conv=notrunc status=none
! sbverify --cert "$snakeoil.pem" "$changed" >/dev/null 2>&1 || fail "a changed image still verifies"

# Faults: the arguments after the build directory, a PATH, and the message expected.
faults=(
  "$scratch/missing.key|$snakeoil.pem|$PATH|key .*missing.key not found"
  "$scratch/key.pem|$scratch/missing.pem|$PATH|certificate .*missing.pem not found"
  "$scratch/garbage.key|$snakeoil.pem|$PATH|sbsign could not sign"
  "$scratch/key.pem|$scratch/other.pem|$PATH|sbsign could not sign .*error in key/certificate chain"
  "$scratch/key.pem|$snakeoil.pem|$scratch/unsigning:$PATH|the signature of .* does not verify with"
  "$scratch/key.pem|$snakeoil.pem|/nonexistent|sbsign not found: install the Debian package sbsigntool"
)
for fault in "${faults[@]}"; do
  IFS='|' read -r key cert path message <<<"$fault"
  if output=$(PATH=$path /bin/sh "$sign" "$scratch/build" "$key" "$cert" 2>&1); then
    fail "signing with $key and $cert (PATH $path) succeeded"
  fi
  grep -Eq "^sign-images.sh: $message" <<<"$output" || fail "expected '$message', got: $output"
  echo "refused as expected: $output" | head -n 1
done
echo "ok: ${#images[@]} images signed and verified; a changed byte and ${#faults[@]} faults refused"
