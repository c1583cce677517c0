#!/usr/bin/env bash
# Checks an EFI image's headers: PE32+ for x86-64, the subsystem it must have, loadable at any
# address (relocations not stripped, and a base relocation for every absolute address its
# objects hold: code that is wholly RIP-relative needs none), no imports (there is no DLL to
# bind), and no static-initializer section (firmware never runs one).
# Usage: check-image.sh IMAGE SUBSYSTEM_HEX OBJECT_DIR   e.g. check-image.sh RbarSurvey.efi 0b efi/RbarSurvey
set -euo pipefail
image=$1
subsystem=$2
objects=$3
headers=$(objdump -p "$image")
sections=$(objdump -h "$image")
fail() { echo "FAIL: $image: $*" >&2; exit 1; }

grep -q 'file format pei-x86-64' <<<"$headers" || fail "not a PE image for x86-64"
grep -Eq '^Magic[[:space:]]+020b' <<<"$headers" || fail "not PE32+ (optional header magic)"
grep -Eq "^Subsystem[[:space:]]+000000${subsystem}" <<<"$headers" ||
  fail "subsystem is not 0x${subsystem}: $(grep '^Subsystem' <<<"$headers")"
characteristics=$(sed -n 's/^Characteristics 0x//p' <<<"$headers")
(( (16#$characteristics & 1) == 0 )) || fail "relocations stripped"
grep -q 'DYNAMIC_BASE' <<<"$headers" || fail "not marked relocatable (DYNAMIC_BASE)"
absolute=$(find "$objects" -name '*.obj' -exec objdump -r {} + | grep -cE 'IMAGE_REL_AMD64_ADDR(64|32)\b' || true)
if grep -Eq '^Entry 5 [0-9a-f]+ [0-9a-f]*[1-9a-f][0-9a-f]* Base Relocation Directory' <<<"$headers"; then
  relocations="base relocations"
elif [ "$absolute" -eq 0 ]; then
  relocations="no absolute addresses, so no base relocations needed"
else
  fail "$absolute absolute address fixups in the objects but no base relocations"
fi
grep -Eq '^Entry 1 0+ 0+ Import Directory' <<<"$headers" || fail "the image imports symbols"
if grep -Eq '\.CRT|\.ctors|\.init_array' <<<"$sections"; then
  fail "the image has a static-initializer section"
fi
echo "ok: $image: PE32+ x86-64, subsystem 0x${subsystem}, ${relocations}, no imports, no initializers"
