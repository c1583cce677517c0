"""Disk images for the boot-path tests: one GPT partition of type EFI system, FAT32, made
without root (sgdisk, mkfs.fat, mtools)."""

import os
import re
import subprocess

DISK_BYTES = 64 << 20
PARTITION_OFFSET = 1 << 20
# The FAT32 file system in KiB: from sector 2048 to the sector before the backup GPT's.
FILE_SYSTEM_KIB = 64495
VOLUME_ID = "52424152"
TOOLS = {"sgdisk": "gdisk", "mkfs.fat": "dosfstools", "mcopy": "mtools"}


def run(command):
    done = subprocess.run(command, capture_output=True, text=True, check=False,
                          env=dict(os.environ, MTOOLS_SKIP_CHECK="1"))
    if done.returncode != 0:
        raise RuntimeError(f"{' '.join(command)} failed: {done.stderr.strip()}")
    return done.stdout


def make_esp_disk(path, files):
    """Writes the disk image at path; files maps a path on the partition (with / separators) to
    the host file to copy there. Returns the volume serial as GRUB names it: XXXX-XXXX."""
    with open(path, "wb") as disk:
        disk.truncate(DISK_BYTES)
    run(["sgdisk", "-o", "-n", "1:2048:0", "-t", "1:ef00", path])
    run(["mkfs.fat", "-F", "32", "-i", VOLUME_ID, f"--offset={PARTITION_OFFSET // 512}", path,
         str(FILE_SYSTEM_KIB)])
    add_files(path, files)
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


def read_file(path, name):
    """The bytes of a file on the disk's partition, or None when it is missing."""
    done = subprocess.run(["mtype", "-i", f"{path}@@{PARTITION_OFFSET}", "::/" + name],
                          capture_output=True, check=False,
                          env=dict(os.environ, MTOOLS_SKIP_CHECK="1"))
    return done.stdout if done.returncode == 0 else None
