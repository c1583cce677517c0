# Cross-builds the Linux tool for arm64 on an amd64 Debian machine: clang's AArch64 Linux
# target, lld, and the arm64 libraries and headers that dpkg's multi-arch installs beside the
# machine's own (libpci-dev:arm64, libstdc++-12-dev:arm64, libc6-dev:arm64). The EFI images
# are built as in any build: they do not depend on the host processor.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(RBAR_CROSS_TRIPLE aarch64-linux-gnu)
# The Debian architecture of the package CPack makes.
set(RBAR_DEBIAN_ARCHITECTURE arm64)

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${RBAR_CROSS_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${RBAR_CROSS_TRIPLE})
set(CMAKE_EXE_LINKER_FLAGS_INIT -fuse-ld=lld)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -fuse-ld=lld)
# The host's strip does not know AArch64 objects; llvm-strip knows every target.
find_program(CMAKE_STRIP NAMES llvm-strip llvm-strip-14 REQUIRED)

# Libraries and pkg-config files from the multi-arch folders only; programs from the machine.
set(CMAKE_LIBRARY_ARCHITECTURE ${RBAR_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${RBAR_CROSS_TRIPLE}/pkgconfig:/usr/share/pkgconfig)
