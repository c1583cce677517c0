#!/bin/sh
# Makes a raw disk image for a USB stick: a GPT with one EFI system partition, formatted FAT32,
# holding the tree of FOLDER. Firmware boots \EFI\BOOT\BOOTX64.EFI (or BOOTAA64.EFI) from such a
# stick by itself. No root, loop device or mount is needed: sgdisk writes the partition table
# into the file, mkfs.fat formats the partition at its offset and mtools copies the files.
#
# The same FOLDER gives the same bytes: the disk and partition GUIDs, the volume ID and every
# file and directory time are fixed (SOURCE_DATE_EPOCH, when set, gives the time), and the
# files are copied in sorted order.
#
# Usage: make-usb-image.sh OUTPUT.img FOLDER
set -eu

usage() {
  echo "usage: $0 OUTPUT.img FOLDER" >&2
  exit 2
}

fail() {
  echo "make-usb-image: $*" >&2
  exit 1
}

[ "$#" -eq 2 ] || usage
output=$1
folder=$2
[ -d "$folder" ] || fail "$folder is not a directory"
# sgdisk and mkfs.fat live in /usr/sbin, which is not on every user's PATH.
PATH=$PATH:/usr/sbin:/sbin
for tool in sgdisk mkfs.fat mmd mcopy; do
  command -v "$tool" >/dev/null 2>&1 ||
    fail "$tool not found: install the Debian packages gdisk, dosfstools and mtools"
done

# Fixed identifiers, so that two builds give the same bytes.
DISK_GUID=72626172-2d73-7572-7665-790000000001
PARTITION_GUID=72626172-2d73-7572-7665-790000000002
VOLUME_ID=52424152
VOLUME_LABEL=RBAR-SURVEY
PARTITION_NAME="EFI system partition"
# 2024-01-01 00:00:00 UTC unless the caller fixes another time.
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-1704067200}
export SOURCE_DATE_EPOCH
# mtools checks the geometry of a whole disk; the partition is given by its byte offset.
MTOOLS_SKIP_CHECK=1
export MTOOLS_SKIP_CHECK

# The partition starts at 1 MiB. FAT32 needs at least 65525 clusters, about 33 MiB with
# 512-byte clusters; 64 MiB leaves room, more is taken when the tree needs it.
SECTOR_BYTES=512
FIRST_SECTOR=2048
# The backup GPT at the end of the disk: a header sector and 32 sectors of entries.
BACKUP_GPT_SECTORS=33
tree_kib=$(du -sk "$folder" | cut -f1)
image_mib=$((tree_kib * 2 / 1024 + 8))
if [ "$image_mib" -lt 64 ]; then
  image_mib=64
fi
total_sectors=$((image_mib * 1024 * 1024 / SECTOR_BYTES))
last_sector=$((total_sectors - BACKUP_GPT_SECTORS - 1))
partition_kib=$(((last_sector - FIRST_SECTOR + 1) * SECTOR_BYTES / 1024))
partition="@@$((FIRST_SECTOR * SECTOR_BYTES))"

# Built next to OUTPUT and renamed at the end: a failed run leaves no half-made image.
work="$output.partial.$$"
trap 'rm -f "$work"' EXIT
trap 'exit 1' HUP INT TERM
rm -f "$work"
truncate -s "${image_mib}M" "$work" || fail "cannot create $work"

# sgdisk prints what it did; shown only when it fails.
if ! log=$(sgdisk --clear --disk-guid="$DISK_GUID" \
  --new="1:$FIRST_SECTOR:$last_sector" --typecode=1:ef00 \
  --partition-guid="1:$PARTITION_GUID" --change-name="1:$PARTITION_NAME" "$work" 2>&1); then
  fail "sgdisk failed: $log"
fi
if ! log=$(mkfs.fat -F 32 --invariant -i "$VOLUME_ID" -n "$VOLUME_LABEL" \
  --offset="$FIRST_SECTOR" "$work" "$partition_kib" 2>&1); then
  fail "mkfs.fat failed: $log"
fi

# Directories before the files in them: sorted paths put each directory before its contents.
cd_folder_list() {
  (cd "$folder" && find . -mindepth 1 "$@" | LC_ALL=C sort)
}
cd_folder_list ! -type d ! -type f | {
  while IFS= read -r path; do
    fail "$folder/${path#./} is neither a file nor a directory"
  done
}
cd_folder_list -type d | while IFS= read -r path; do
  mmd -i "$work$partition" "::/${path#./}" || fail "cannot make directory ${path#./}"
done
cd_folder_list -type f | while IFS= read -r path; do
  mcopy -i "$work$partition" "$folder/${path#./}" "::/${path#./}" ||
    fail "cannot copy ${path#./}"
done

mv -f "$work" "$output" || fail "cannot write $output"
trap - EXIT
