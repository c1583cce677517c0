#!/usr/bin/env bash
# Makes sure the tools and libraries the build and the tests need are present. As root on
# Debian it installs what is missing with apt; otherwise it names what is missing and fails.
# With the argument "bench" it also checks what the benchmarks need.
set -euo pipefail

# What to look for, and the Debian package that provides it.
requirements=(
  "cmd:cmake:cmake"
  "cmd:ninja:ninja-build"
  "cmd:clang++:clang"
  "cmd:lld-link:lld"
  "cmd:objdump:binutils"
  "cmd:python3:python3"
  "cmd:qemu-system-x86_64:qemu-system-x86"
  "file:/usr/share/OVMF/OVMF_CODE_4M.fd:ovmf"
  "file:/usr/share/OVMF/OVMF_VARS_4M.fd:ovmf"
  # The AArch64 image's firmware tests, and a header reader that decodes its image.
  "cmd:qemu-system-aarch64:qemu-system-arm"
  "file:/usr/share/AAVMF/AAVMF_CODE.fd:qemu-efi-aarch64"
  "file:/usr/share/AAVMF/AAVMF_VARS.fd:qemu-efi-aarch64"
  "file:/usr/lib/llvm-14/bin/llvm-readobj:llvm-14"
  "file:/usr/include/gtest/gtest.h:libgtest-dev"
  "file:/usr/include/gmock/gmock.h:libgmock-dev"
  "cmd:lspci:pciutils"
  "file:/usr/include/x86_64-linux-gnu/pci/pci.h:libpci-dev"
  # dpkg-shlibdeps, which finds the Debian package's dependencies.
  "cmd:dpkg-shlibdeps:dpkg-dev"
  "file:/usr/include/nlohmann/json.hpp:nlohmann-json3-dev"
  # The USB stick image: partition table, FAT32 and its files, all written into a plain file.
  "file:/usr/sbin/sgdisk:gdisk"
  "file:/usr/sbin/mkfs.fat:dosfstools"
  "cmd:mcopy:mtools"
  # U-Boot's UEFI for the firmware tests, and mkimage for its boot script.
  "file:/usr/lib/u-boot/qemu-x86_64/u-boot.rom:u-boot-qemu"
  "file:/usr/lib/u-boot/qemu_arm64/u-boot.bin:u-boot-qemu"
  "cmd:mkimage:u-boot-tools"
  # Secure Boot tests: OVMF's secure-boot build, its snakeoil store and key, and the signer.
  "file:/usr/share/OVMF/OVMF_CODE_4M.secboot.fd:ovmf"
  "file:/usr/share/OVMF/OVMF_VARS_4M.snakeoil.fd:ovmf"
  "file:/usr/share/ovmf/PkKek-1-snakeoil.key:ovmf"
  "file:/usr/share/ovmf/PkKek-1-snakeoil.pem:ovmf"
  "cmd:sbsign:sbsigntool"
  "cmd:openssl:openssl"
  # The metrics' tests: the real textfile collector, the units' check (with the manual page they
  # name) and the lint of their script. promtool (package prometheus, 96 MB installed, and a
  # server it starts) is used only where it is installed.
  "cmd:prometheus-node-exporter:prometheus-node-exporter"
  "cmd:systemd-analyze:systemd"
  "cmd:man:man-db"
  "cmd:shellcheck:shellcheck"
  # The package test holds the package to lintian's rules.
  "cmd:lintian:lintian"
  # Sanitizer and libFuzzer runtimes for clang.
  "glob:/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a:libclang-rt-14-dev"
  "glob:/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.ubsan_standalone-x86_64.a:libclang-rt-14-dev"
  # Boot-path tests: shellcheck on every shell script; the Linux guest's initramfs (its
  # packages are downloaded by the test, with apt-get download); GRUB and systemd-boot.
  "cmd:shellcheck:shellcheck"
  "cmd:cpio:cpio"
  "cmd:grub-mkstandalone:grub-common"
  "file:/usr/lib/grub/x86_64-efi/chain.mod:grub-efi-amd64-bin"
  "file:/usr/lib/systemd/boot/efi/systemd-bootx64.efi:systemd-boot-efi"
  "cmd:setpriv:util-linux"
  # The release: the arm64 package cross-built here (clang's AArch64 Linux target, the arm64
  # libraries through dpkg's multi-arch, the AArch64 objdump that dpkg-shlibdeps reads it with),
  # its tool run under user-mode QEMU, and the stick's zip and xz.
  "file:/usr/lib/aarch64-linux-gnu/pkgconfig/libpci.pc:libpci-dev:arm64"
  "file:/usr/lib/gcc/aarch64-linux-gnu/12/libstdc++.so:libstdc++-12-dev:arm64"
  "file:/usr/lib/aarch64-linux-gnu/crt1.o:libc6-dev:arm64"
  "file:/usr/lib/gcc/aarch64-linux-gnu/12/libgcc.a:libgcc-12-dev:arm64"
  "cmd:aarch64-linux-gnu-objdump:binutils-aarch64-linux-gnu"
  "cmd:qemu-aarch64:qemu-user"
  "cmd:zip:zip"
  "cmd:xz:xz-utils"
)
if [ "${1:-}" = bench ]; then
  requirements+=(
    "file:/usr/include/benchmark/benchmark.h:libbenchmark-dev"
    "file:/usr/include/fmt/format.h:libfmt-dev"
    "cmd:valgrind:valgrind"
  )
fi

missing_packages() {
  local entry kind what package
  for entry in "${requirements[@]}"; do
    IFS=: read -r kind what package <<<"$entry"
    if [ "$kind" = cmd ] && ! command -v "$what" >/dev/null 2>&1; then
      echo "$package"
    elif [ "$kind" = file ] && [ ! -e "$what" ]; then
      echo "$package"
    elif [ "$kind" = glob ] && ! compgen -G "$what" >/dev/null; then
      echo "$package"
    fi
  done | sort -u
}

missing=$(missing_packages)
if [ -z "$missing" ]; then
  exit 0
fi
# The package names on one line.
names() {
  printf '%s\n' "$missing" | paste -sd ' ' -
}

if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1; then
  echo "Installing missing packages: $(names)" >&2
  export DEBIAN_FRONTEND=noninteractive
  # Packages of another architecture (NAME:ARCH) need it added to dpkg before apt-get update.
  for arch in $(printf '%s\n' "$missing" | sed -n 's/^[^:]*:\([a-z0-9]*\)$/\1/p' | sort -u); do
    if [ "$arch" != "$(dpkg --print-architecture)" ] &&
      ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
      echo "Adding the architecture $arch to dpkg" >&2
      dpkg --add-architecture "$arch"
    fi
  done
  apt-get update -q >/dev/null
  # shellcheck disable=SC2086
  apt-get install -y -q --no-install-recommends $missing >/dev/null
  missing=$(missing_packages)
  if [ -z "$missing" ]; then
    exit 0
  fi
  echo "error: still missing after apt-get install: $(names)" >&2
  exit 1
fi

echo "error: missing Debian packages: $(names)" >&2
echo "Install them as root: apt-get install $(names)" >&2
exit 1
