#!/usr/bin/env bash
# Checks an EFI image's headers: PE32+ for x86-64, the subsystem it must have, base
# relocations so firmware can load it anywhere, no imports (there is no DLL to bind), and no
# static-initializer section (firmware never runs one).
# Usage: check-image.sh IMAGE SUBSYSTEM_HEX   e.g. check-image.sh RbarSurvey.efi 0b
set -euo pipefail
image=$1
subsystem=$2
headers=$(objdump -p "$image")
sections=$(objdump -h "$image")
fail() { echo "FAIL: $image: $*" >&2; exit 1; }

grep -q 'file format pei-x86-64' <<<"$headers" || fail "not a PE image for x86-64"
grep -Eq '^Magic[[:space:]]+020b' <<<"$headers" || fail "not PE32+ (optional header magic)"
grep -Eq "^Subsystem[[:space:]]+000000${subsystem}" <<<"$headers" ||
  fail "subsystem is not 0x${subsystem}: $(grep '^Subsystem' <<<"$headers")"
grep -Eq '^Entry 5 [0-9a-f]+ [0-9a-f]*[1-9a-f][0-9a-f]* Base Relocation Directory' <<<"$headers" ||
  fail "no base relocations"
grep -Eq '^Entry 1 0+ 0+ Import Directory' <<<"$headers" || fail "the image imports symbols"
if grep -Eq '\.CRT|\.ctors|\.init_array' <<<"$sections"; then
  fail "the image has a static-initializer section"
fi
echo "ok: $image: PE32+ x86-64, subsystem 0x${subsystem}, relocations, no imports, no initializers"
