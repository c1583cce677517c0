#!/usr/bin/env bash
# Makes sure the tools and libraries the build and the tests need are present. As root on
# Debian it installs what is missing with apt; otherwise it names what is missing and fails.
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
  "file:/usr/include/gtest/gtest.h:libgtest-dev"
  "file:/usr/include/gmock/gmock.h:libgmock-dev"
  "cmd:lspci:pciutils"
  "file:/usr/include/x86_64-linux-gnu/pci/pci.h:libpci-dev"
)

missing_packages() {
  local entry kind what package
  for entry in "${requirements[@]}"; do
    IFS=: read -r kind what package <<<"$entry"
    if [ "$kind" = cmd ] && ! command -v "$what" >/dev/null 2>&1; then
      echo "$package"
    elif [ "$kind" = file ] && [ ! -e "$what" ]; then
      echo "$package"
    fi
  done | sort -u
}

missing=$(missing_packages)
if [ -z "$missing" ]; then
  exit 0
fi

if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1; then
  echo "Installing missing packages: $(echo $missing)" >&2
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q >/dev/null
  # shellcheck disable=SC2086
  apt-get install -y -q --no-install-recommends $missing >/dev/null
  missing=$(missing_packages)
  if [ -z "$missing" ]; then
    exit 0
  fi
  echo "error: still missing after apt-get install: $(echo $missing)" >&2
  exit 1
fi

echo "error: missing Debian packages: $(echo $missing)" >&2
echo "Install them as root: apt-get install $(echo $missing)" >&2
exit 1
