"""Disk images for the boot-path tests: one GPT partition of type EFI system, FAT32, made
without root by scripts/make-usb-image.sh; files are added or replaced later with mtools."""

import os
import re
import shutil
import subprocess
import tempfile

# Where make-usb-image.sh starts the partition.
PARTITION_OFFSET = 1 << 20
MAKE_IMAGE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "make-usb-image.sh")


def run(command):
    done = subprocess.run(command, capture_output=True, text=True, check=False,
                          env=dict(os.environ, MTOOLS_SKIP_CHECK="1"))
    if done.returncode != 0:
        raise RuntimeError(f"{' '.join(command)} failed: {done.stderr.strip()}")
    return done.stdout


def make_esp_disk(path, files):
    """Writes the disk image at path; files maps a path on the partition (with / separators) to
    the host file to copy there. Returns the volume serial as GRUB names it: XXXX-XXXX."""
    with tempfile.TemporaryDirectory() as folder:
        for name, source in files.items():
            target = os.path.join(folder, name)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            shutil.copyfile(source, target)
        run(["sh", MAKE_IMAGE, path, folder])
    return volume_serial(path)


def add_files(path, files):
    """Copies files (as for make_esp_disk) onto the disk's partition, making their folders and
    replacing files of the same name."""
    partition = f"{path}@@{PARTITION_OFFSET}"
    folders = sorted({os.path.dirname(name) for name in files} - {""})
    for folder in folders:
        parts = folder.split("/")
        for depth in range(1, len(parts) + 1):
            step = "/".join(parts[:depth])
            listed = subprocess.run(["mdir", "-i", partition, "::/" + step],
                                    capture_output=True, check=False,
                                    env=dict(os.environ, MTOOLS_SKIP_CHECK="1"))
            if listed.returncode != 0:
                run(["mmd", "-i", partition, "::/" + step])
    for name, source in sorted(files.items()):
        run(["mcopy", "-D", "o", "-i", partition, source, "::/" + name])


def volume_serial(path):
    info = run(["minfo", "-i", f"{path}@@{PARTITION_OFFSET}", "::"])
    serial = re.search(r"serial number: ([0-9A-Fa-f]{8})", info)
    if serial is None:
        raise RuntimeError(f"minfo shows no volume serial for {path}")
    return f"{serial.group(1)[:4]}-{serial.group(1)[4:]}".upper()

