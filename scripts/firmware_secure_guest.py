"""The Linux guest of firmware_linux_guest under Secure Boot: OVMF's secure-boot build with
Microsoft's keys (OVMF_VARS_4M.ms.fd), Debian's signed shim on the removable-media path and in
\\EFI\\debian, Debian's signed GRUB next to it, which boots Debian's signed kernel from the
configuration \\EFI\\debian\\grub.cfg (the UEFI Shell does not start under Secure Boot, so the
test rewrites that file before each boot instead of startup.nsh). The initramfs also holds
mokutil, sbsigntool and openssl, and a test MOK where DKMS keeps its own (/var/lib/dkms/mok.key
and mok.pub, DER), made for each run. A boot that enrolls the MOK drives shim's MokManager over
the serial console.
"""

import fcntl
import os
import shutil
import tempfile
import time

import firmware_linux_guest as guest

# Signed boot loaders from Debian, and the tools rbar-survey-boot uses under Secure Boot.
LOADER_PACKAGES = ["shim-signed", "shim-helpers-amd64-signed", "grub-efi-amd64-signed"]
TOOL_PACKAGES = ["mokutil", "sbsigntool", "openssl", "libssl3", "libuuid1", "libkeyutils1",
                 "libcrypt1"]
LOADERS = {
    "shim": "usr/lib/shim/shimx64.efi.signed",
    "mokmanager": "usr/lib/shim/mmx64.efi.signed",
    "grub": "usr/lib/grub/x86_64-efi-signed/grubx64.efi.signed",
}
READY = "secure-ready"
TOOLS_CPIO = "secure-tools.cpio"
# The firmware with Secure Boot enforcing, and the QEMU settings its variable store needs.
FIRMWARE_CODE = "/usr/share/OVMF/OVMF_CODE_4M.secboot.fd"
FIRMWARE_VARS = "/usr/share/OVMF/OVMF_VARS_4M.ms.fd"
# (GRUB and the kernel want more memory than the other guests' 256 MiB.)
QEMU_ARGUMENTS = ["-machine", "smm=on", "-global", "driver=cfi.pflash01,property=secure,value=on",
                  "-m", "1024"]
# The one-time password of the MOK request, given to MokManager.
MOK_PASSWORD = "rbar"
DOWN = b"\x1b[B"
# MokManager's screens, each answered once in turn: the text it waits for, then the keys.
MOK_ENROLL_KEYS = [
    (b"Press any key", [b" "]),
    (b"Enroll MOK", [DOWN, b"\r"]),
    (b"View key", [DOWN, b"\r"]),
    (b"Enroll the key", [DOWN, b"\r"]),
    (b"Password", [bytes([character]) for character in MOK_PASSWORD.encode()] + [b"\r"]),
    (b"Reboot", [b"\r"]),
]
# Seconds after a screen's text before its first key, and between keys: MokManager drops keys
# that come before it reads the keyboard.
SCREEN_DELAY = 1.0
KEY_GAP = 0.5


def build_cache(cache):
    """Downloads the signed loaders and the tools; keeps the loaders and an archive of the
    tools for the initramfs."""
    with tempfile.TemporaryDirectory(dir=cache) as work:
        packages = guest.download(LOADER_PACKAGES + TOOL_PACKAGES, work)
        for package in LOADER_PACKAGES:
            guest.run(["dpkg", "-x", packages[package], os.path.join(work, "loaders")])
        for name, path in LOADERS.items():
            shutil.copyfile(os.path.join(work, "loaders", path),
                            os.path.join(cache, name + ".efi"))
        tools = os.path.join(work, "tools")
        for package in TOOL_PACKAGES:
            guest.run(["dpkg", "-x", packages[package], tools])
        for pruned in guest.PRUNED[:3] + ["etc"]:
            shutil.rmtree(os.path.join(tools, pruned), ignore_errors=True)
        guest.write_cpio(tools, os.path.join(cache, TOOLS_CPIO))
    with open(os.path.join(cache, READY), "w", encoding="ascii") as ready:
        ready.write("\n".join(LOADER_PACKAGES + TOOL_PACKAGES) + "\n")


def secure_base(given_cache):
    """The cache directory with the loaders and the tools' archive, made first when missing."""
    cache = guest.cache_directory(given_cache)
    guest.guest_base(given_cache)
    with open(os.path.join(cache, "lock"), "w", encoding="ascii") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not os.path.exists(os.path.join(cache, READY)):
            build_cache(cache)
    return cache


def make_mok(work):
    """A test MOK made as DKMS makes its own, in a tree for the initramfs; returns the tree."""
    tree = os.path.join(work, "mok")
    dkms = os.path.join(tree, "var/lib/dkms")
    os.makedirs(dkms)
    guest.run(["openssl", "req", "-new", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "30",
               "-subj", "/CN=rbar-survey test MOK/", "-outform", "DER",
               "-keyout", os.path.join(dkms, "mok.key"), "-out", os.path.join(dkms, "mok.pub")])
    return tree


# Shim on the removable-media path with MokManager and signed GRUB next to it, and shim in
# Debian's folder, where rbar-survey-boot finds it.
DISK_FILES = {"EFI/BOOT/BOOTX64.EFI": "shim", "EFI/BOOT/mmx64.efi": "mokmanager",
              "EFI/BOOT/grubx64.efi": "grub", "EFI/debian/shimx64.efi": "shim",
              "EFI/debian/mmx64.efi": "mokmanager"}


def disk_files(cache):
    return {path: os.path.join(cache, name + ".efi") for path, name in DISK_FILES.items()}


def add_to_initrd(initrd, cache, work):
    """Appends the tools and a fresh test MOK to an initramfs."""
    mok = os.path.join(work, "mok.cpio")
    guest.write_cpio(make_mok(work), mok)
    with open(initrd, "ab") as output:
        for part in (os.path.join(cache, TOOLS_CPIO), mok):
            with open(part, "rb") as source:
                shutil.copyfileobj(source, output)


def grub_config(step):
    """GRUB's configuration that boots the guest at the given step, or with none, powers off."""
    if step is None:
        return "halt\n"
    return (f"set timeout=0\nmenuentry guest {{\n"
            f"  search --no-floppy --file /{guest.KERNEL_FILE} --set=root\n"
            f"  linux /{guest.KERNEL_FILE} console=ttyS0 panic=-1 quiet rbar_step={step}\n"
            f"  initrd /{guest.INITRD_FILE}\n}}\n")


def mok_enroll_keys(runner):
    """A key plan that answers MokManager's screens in turn."""

    class MokEnrollKeys(runner.KeyPlan):
        def __init__(self):
            super().__init__()
            self.screen = 0
            self.searched = 0
            self.seen = None
            self.pending = []
            self.last_key = 0.0

        def keys_for(self, console):
            now = time.monotonic()
            if self.pending:
                if now - self.last_key < KEY_GAP:
                    return b""
                self.last_key = now
                return self.pending.pop(0)
            if self.screen == len(MOK_ENROLL_KEYS):
                return b""
            text, keys = MOK_ENROLL_KEYS[self.screen]
            found = console.find(text, self.searched)
            if found < 0:
                return b""
            self.seen = self.seen or now
            if now - self.seen < SCREEN_DELAY:
                return b""
            self.searched = found + len(text)
            self.screen += 1
            self.seen = None
            self.pending = list(keys)
            return b""

    return MokEnrollKeys()
