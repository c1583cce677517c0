"""A Linux guest under OVMF that runs rbar-survey-boot, and the boots it sets up.

The guest is Debian's kernel with an initramfs of busybox-static, efibootmgr and its libraries
and the few modules it needs for a virtio disk, efivarfs and FAT, all from Debian packages
(apt-get download, dpkg -x), built once into a cache directory. A test adds the command under
test, the boot images and a step script per boot. The disk is a GPT disk with an EFI system
partition, mounted at /boot/efi in the guest, that holds the kernel and the initramfs. The
firmware's boot manager reaches the guest as a real machine's: after the boot options, its UEFI
Shell runs startup.nsh, which starts the kernel (QEMU's -kernel would start it before any boot
option, BootNext included). Every boot is a QEMU run of its own on the same variable store and
disk; the test rewrites startup.nsh before each, and the kernel command line names the step.
"""

import fcntl
import glob
import os
import shutil
import subprocess
import tempfile


KERNEL_PACKAGE = "linux-image-amd64"
USER_PACKAGES = ["busybox-static", "efibootmgr", "libefiboot1", "libefivar1", "libc6"]
# Kernel modules for the virtio disk, efivarfs and the ESP's FAT, in load order.
MODULES = [
    "drivers/virtio/virtio_ring", "drivers/virtio/virtio", "drivers/virtio/virtio_pci_modern_dev",
    "drivers/virtio/virtio_pci_legacy_dev", "drivers/virtio/virtio_pci",
    "drivers/block/virtio_blk", "fs/efivarfs/efivarfs", "fs/fat/fat", "fs/fat/vfat",
    "fs/nls/nls_cp437", "fs/nls/nls_ascii",
]
# What the user packages bring that the guest does not need.
PRUNED = ["usr/share", "usr/lib/x86_64-linux-gnu/gconv", "usr/libexec", "sbin", "usr/sbin"]
READY = "ready"
# The kernel and the initramfs at the root of the ESP.
KERNEL_FILE = "vmlinuz"
INITRD_FILE = "initrd"

# PID 1 of the guest. Mounts what efibootmgr and the command need, runs the boot's step with
# `sh -eu` and says whether it passed, then powers off.
INIT = r"""#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
for module in $(cat /guest/modules); do insmod "/guest/$module.ko"; done
mount -t efivarfs efivarfs /sys/firmware/efi/efivars
tries=0
while [ ! -b /dev/vda1 ] && [ $tries -lt 50 ]; do sleep 0.1; tries=$((tries + 1)); done
mkdir -p /boot/efi /tmp
mount -t vfat /dev/vda1 /boot/efi
step=$(sed -n 's/.*rbar_step=\([0-9]*\).*/\1/p' /proc/cmdline)
if sh -eux "/guest/step$step.sh"; then
  echo "rbar-guest: step $step passed"
else
  echo "rbar-guest: step $step failed"
fi
umount /boot/efi
poweroff -f
"""

# Stands for an installed systemd-boot: rbar-survey-boot then writes its loader entry.
BOOTCTL = """#!/bin/sh
case $1 in
  --print-esp-path) echo /boot/efi ;;
  is-installed) exit 0 ;;
  *) exit 1 ;;
esac
"""


def cache_directory(given):
    if given:
        return given
    base = os.environ.get("XDG_CACHE_HOME") or os.path.join(os.path.expanduser("~"), ".cache")
    return os.path.join(base, "rbar-survey", "linux-guest")


def run(command, cwd=None, data=None):
    done = subprocess.run(command, cwd=cwd, input=data, capture_output=True, check=False)
    if done.returncode != 0:
        raise RuntimeError(f"{' '.join(command)} failed: "
                           f"{done.stderr.decode('utf-8', 'replace').strip()}")
    return done.stdout


def download(packages, directory):
    """Fetches Debian packages into directory; returns their paths by package name."""
    run(["apt-get", "download", "-q", *packages], cwd=directory)
    found = {}
    for package in packages:
        matches = glob.glob(os.path.join(directory, f"{package}_*.deb"))
        if len(matches) != 1:
            raise RuntimeError(f"apt-get download gave {matches} for {package}")
        found[package] = matches[0]
    return found


def write_cpio(tree, output):
    """A newc archive of tree, every file owned by root."""
    names = run(["find", ".", "-mindepth", "1"], cwd=tree)
    with open(output, "wb") as archive:
        archive.write(run(["cpio", "--quiet", "-o", "-H", "newc", "-R", "0:0"], cwd=tree,
                          data=names))


def build_cache(cache):
    """Downloads and unpacks the packages, keeps the kernel and an archive of the guest's base."""
    with tempfile.TemporaryDirectory(dir=cache) as work:
        meta = download([KERNEL_PACKAGE], work)[KERNEL_PACKAGE]
        kernel = run(["dpkg-deb", "-f", meta, "Depends"]).decode().split(",")[0].split()[0]
        packages = download([kernel, *USER_PACKAGES], work)
        unpacked = os.path.join(work, "kernel")
        run(["dpkg", "-x", packages[kernel], unpacked])
        root = os.path.join(work, "root")
        for package in USER_PACKAGES:
            run(["dpkg", "-x", packages[package], root])
        for pruned in PRUNED:
            shutil.rmtree(os.path.join(root, pruned), ignore_errors=True)
        guest = os.path.join(root, "guest")
        os.makedirs(guest)
        release = kernel.removeprefix("linux-image-")
        for module in MODULES:
            shutil.copyfile(os.path.join(unpacked, "lib/modules", release, "kernel",
                                         module + ".ko"),
                            os.path.join(guest, os.path.basename(module) + ".ko"))
        with open(os.path.join(guest, "modules"), "w", encoding="ascii") as listing:
            listing.write("\n".join(os.path.basename(module) for module in MODULES) + "\n")
        for folder in ("proc", "sys", "dev", "tmp", "boot/efi", "usr/sbin"):
            os.makedirs(os.path.join(root, folder), exist_ok=True)
        write_cpio(root, os.path.join(cache, "base.cpio"))
        shutil.copyfile(os.path.join(unpacked, "boot", f"vmlinuz-{release}"),
                        os.path.join(cache, "vmlinuz"))
        with open(os.path.join(cache, READY), "w", encoding="ascii") as ready:
            ready.write(kernel + "\n")


def guest_base(given_cache):
    """(kernel, base initramfs) from the cache, made first when missing; tests running at the
    same time wait for each other."""
    cache = cache_directory(given_cache)
    os.makedirs(cache, exist_ok=True)
    with open(os.path.join(cache, "lock"), "w", encoding="ascii") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not os.path.exists(os.path.join(cache, READY)):
            build_cache(cache)
    return os.path.join(cache, "vmlinuz"), os.path.join(cache, "base.cpio")


def make_initrd(base, output, work, tool, images, steps):
    """The base archive followed by one with init, the command under test at
    /usr/sbin/rbar-survey-boot, the boot images where the package puts them, a bootctl that
    stands for systemd-boot, and the step of each boot that has one (steps: boot number to its
    commands) as step1.sh, step2.sh..."""
    tree = os.path.join(work, "extra")
    placed = {
        "init": (INIT, 0o755),
        "usr/bin/bootctl": (BOOTCTL, 0o755),
    }
    for number, step in steps.items():
        placed[f"guest/step{number}.sh"] = (step, 0o644)
    for relative, (text, mode) in placed.items():
        path = os.path.join(tree, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as file:
            file.write(text)
        os.chmod(path, mode)
    os.makedirs(os.path.join(tree, "usr/sbin"))
    shutil.copyfile(tool, os.path.join(tree, "usr/sbin/rbar-survey-boot"))
    os.chmod(os.path.join(tree, "usr/sbin/rbar-survey-boot"), 0o755)
    efi = os.path.join(tree, "usr/lib/rbar-survey/efi")
    os.makedirs(efi)
    for image in images:
        shutil.copyfile(image, os.path.join(efi, os.path.basename(image)))
    extra = os.path.join(work, "extra.cpio")
    write_cpio(tree, extra)
    with open(output, "wb") as initrd:
        for part in (base, extra):
            with open(part, "rb") as source:
                shutil.copyfileobj(source, initrd)


def shell_script(step):
    """The UEFI Shell's startup.nsh that boots the guest at the given step (the kernel is its own
    EFI loader, and takes its initramfs from its own volume), or with no step, powers off."""
    lines = [f"fs0:\\{KERNEL_FILE} initrd=\\{INITRD_FILE} console=ttyS0 panic=-1 quiet "
             f"rbar_step={step}"] if step is not None else []
    return "".join(line + "\r\n" for line in lines + ["reset -s"])


def disk_arguments(disk):
    return ["-drive", f"if=none,id=esp,format=raw,file={disk}",
            "-device", "virtio-blk-pci,drive=esp"]


def passed_marker(step):
    return f"rbar-guest: step {step} passed"

