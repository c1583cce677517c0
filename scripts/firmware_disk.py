"""Disk images for the boot-path tests: one GPT partition of type EFI system, FAT32, made
without root by scripts/make-usb-image.sh; files at the partition's root are added or replaced
later with mtools."""

import os
import shutil
import subprocess
import tempfile

MAKE_IMAGE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "make-usb-image.sh")
# Where make-usb-image.sh starts the partition, and its fixed volume ID as GRUB names it.
PARTITION_OFFSET = 1 << 20
VOLUME_SERIAL = "5242-4152"


def run(command):
    done = subprocess.run(command, capture_output=True, text=True, check=False,
                          env=dict(os.environ, MTOOLS_SKIP_CHECK="1"))
    if done.returncode != 0:
        raise RuntimeError(f"{' '.join(command)} failed: {done.stderr.strip()}")


def make_folder_disk(path, folder):
    """Writes the disk image at path, its partition holding the tree of folder."""
    run(["sh", MAKE_IMAGE, path, folder])


def make_esp_disk(path, files):
    """Writes the disk image at path; files maps a path on the partition (with / separators) to
    the host file to copy there."""
    with tempfile.TemporaryDirectory() as folder:
        for name, source in files.items():
            target = os.path.join(folder, name)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            shutil.copyfile(source, target)
        make_folder_disk(path, folder)


def add_files(path, files):
    """Copies files (names at the partition's root to host files) onto the disk, replacing
    files of the same name."""
    for name, source in sorted(files.items()):
        run(["mcopy", "-D", "o", "-i", f"{path}@@{PARTITION_OFFSET}", source, "::/" + name])
