#!/usr/bin/env bash
# Checks an EFI image's headers: PE32+ for its processor (x86-64 or AArch64), the subsystem it
# must have, loadable at any address (relocations not stripped, and a base relocation for every
# absolute address its objects hold: code that is wholly PC-relative needs none), no imports
# (there is no DLL to bind), no static-initializer section (firmware never runs one), and a
# header time stamp of 0 instead of the link's time, so that a rebuild gives the same bytes.
# It also holds the image to what firmware memory protection and shim expect: sections aligned
# to 4 KiB pages, DYNAMIC_BASE and NX_COMPAT set, no section both writable and executable,
# every section's file data after the headers (shim refuses a section whose file offset lies in
# them, as that of a section with no file data does), and a .sbat section (shim refuses an
# image without SBAT metadata).
# llvm-readobj decodes the headers of both processors' images alike.
# Usage: check-image.sh IMAGE SUBSYSTEM_HEX OBJECT_DIR [x86-64|aarch64]
#   e.g. check-image.sh RbarSurvey.efi 0b efi/RbarSurvey
#        check-image.sh RbarSurveyAA64.efi 0b efi/RbarSurveyAA64 aarch64
set -euo pipefail
image=$1
subsystem=$2
objects=$3
arch=${4:-x86-64}
fail() { echo "FAIL: $image: $*" >&2; exit 1; }

# The machine field each processor's image carries, and its objects' absolute address fixups.
case $arch in
  x86-64) machine=0x8664 absolute_fixup='IMAGE_REL_AMD64_ADDR(64|32)\b' ;;
  aarch64) machine=0xAA64 absolute_fixup='IMAGE_REL_ARM64_ADDR(64|32)\b' ;;
  *) echo "check-image.sh: unknown processor $arch (x86-64 or aarch64)" >&2; exit 2 ;;
esac

readobj=$(command -v llvm-readobj || command -v llvm-readobj-14 || echo /usr/lib/llvm-14/bin/llvm-readobj)
[ -x "$readobj" ] || { echo "check-image.sh: llvm-readobj not found: install the Debian package llvm-14" >&2; exit 2; }
headers=$("$readobj" --file-headers "$image")
imports=$("$readobj" --coff-imports "$image")
sections=$("$readobj" --sections "$image")
# The value of a "Name: value" header field, or nothing.
field() { sed -n "s/^ *$1: *//p" <<<"$headers" | head -n 1; }

grep -Eq "^ *Machine: IMAGE_FILE_MACHINE_[A-Z0-9]+ \\($machine\\)" <<<"$headers" ||
  fail "not an image for $arch (machine $machine): $(field Machine)"
[ "$(field Magic)" = 0x20B ] || fail "not PE32+ (optional header magic $(field Magic))"
actual_subsystem=$(field Subsystem | sed -n 's/.*(\(0x[0-9A-Fa-f]*\))$/\1/p')
if [ -z "$actual_subsystem" ] || (( actual_subsystem != 16#$subsystem )); then
  fail "subsystem is not 0x${subsystem}: $(field Subsystem)"
fi
! grep -q 'IMAGE_FILE_RELOCS_STRIPPED' <<<"$headers" || fail "relocations stripped"
grep -q 'IMAGE_DLL_CHARACTERISTICS_DYNAMIC_BASE' <<<"$headers" ||
  fail "not marked relocatable (DYNAMIC_BASE)"
absolute=$(find "$objects" -name '*.obj' -exec "$readobj" -r {} + | grep -cE "$absolute_fixup" || true)
if (( $(field BaseRelocationTableSize) != 0 )); then
  relocations="base relocations"
elif [ "$absolute" -eq 0 ]; then
  relocations="no absolute addresses, so no base relocations needed"
else
  fail "$absolute absolute address fixups in the objects but no base relocations"
fi
for directory in ImportTableSize DelayImportDescriptorSize IATSize; do
  size=$(field "$directory")
  (( ${size:-0} == 0 )) || fail "the image imports symbols ($directory $size)"
done
! grep -Eq '^ *(Import|DelayImport) \{' <<<"$imports" || fail "the image imports symbols"
if grep -Eq 'Name: (\.CRT|\.ctors|\.init_array)' <<<"$sections"; then
  fail "the image has a static-initializer section"
fi
grep -Eq '^ *TimeDateStamp: .*\(0x0\)$' <<<"$headers" ||
  fail "its time stamp is the link's time, so a rebuild differs: $(field TimeDateStamp)"
(( $(field SectionAlignment) == 4096 )) ||
  fail "sections aligned to $(field SectionAlignment) bytes, not to 4 KiB pages"
grep -q 'IMAGE_DLL_CHARACTERISTICS_NX_COMPAT' <<<"$headers" || fail "not marked NX_COMPAT"
# One line per section: its name, file offset, and W and X for writable and executable.
section_table=$(awk '/^ *Name: /{name=$2} /^ *PointerToRawData: /{offset=$2}
  /IMAGE_SCN_MEM_WRITE/{w="W"} /IMAGE_SCN_MEM_EXECUTE/{x="X"}
  /^ *}/{print name, offset, w x; w=""; x=""}' <<<"$sections")
header_size=$(field SizeOfHeaders)
while read -r name offset access; do
  [ "$access" != WX ] || fail "section $name is both writable and executable"
  (( offset >= header_size )) ||
    fail "section $name's file data at $offset lies in the headers ($header_size bytes)"
done <<<"$section_table"
grep -q '^\.sbat ' <<<"$section_table" || fail "no .sbat section (SBAT metadata)"
echo "ok: $image: PE32+ $arch, subsystem 0x${subsystem}, ${relocations}, no imports, no initializers, reproducible, 4 KiB sections, NX_COMPAT, W^X, SBAT"
