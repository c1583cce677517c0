#!/bin/sh
# Makes the release of the commit checked out in this clone: dist/rbar-survey-VERSION/ holding
#   rbar-survey-VERSION.tar.gz         the commit's source (git archive)
#   rbar-survey-VERSION-usb.img.xz     the USB stick image, compressed
#   rbar-survey-VERSION-usb.zip        the stick's files (EFI folder, README.TXT) for a FAT32 stick
#   rbar-survey_VERSION_amd64.deb      the Debian package for x86-64 machines
#   rbar-survey_VERSION_arm64.deb      the same for AArch64 machines, cross-built here
#   SHA256SUMS                         the checksums of all of them
# The same commit gives the same bytes in any folder, at any time: everything is built from
# the source archive unpacked into a scratch folder, every time stamp is the commit's
# (SOURCE_DATE_EPOCH), paths are mapped out of the binaries, archives are sorted and the
# compression settings are fixed. The folder is checked at the end: exactly these files, and no
# build path in any of them.
#
# Usage: make-release.sh [DIST]          make the release into DIST (default: dist)
#        make-release.sh --list VERSION  print the names of the release's files
#        make-release.sh --check FOLDER VERSION
#                                        check that FOLDER holds exactly those files
set -eu

fail() {
  echo "make-release: $*" >&2
  exit 1
}

usage() {
  echo "usage: $0 [DIST] | --list VERSION | --check FOLDER VERSION" >&2
  exit 2
}

# The release's files, one a line, in the order SHA256SUMS lists them.
release_files() {
  printf '%s\n' "rbar-survey-$1-usb.img.xz" "rbar-survey-$1-usb.zip" "rbar-survey-$1.tar.gz" \
    "rbar-survey_$1_amd64.deb" "rbar-survey_$1_arm64.deb" SHA256SUMS
}

# FOLDER holds exactly the release's files of VERSION, each a regular non-empty file.
check_folder() {
  folder=$1
  [ -d "$folder" ] || fail "$folder is not a directory"
  expected=$(release_files "$2" | LC_ALL=C sort)
  found=$(cd "$folder" && find . -mindepth 1 | sed 's|^\./||' | LC_ALL=C sort)
  if [ "$found" != "$expected" ]; then
    extra=$(printf '%s\n' "$found" | grep -vxF "$expected" | paste -sd ' ' - || true)
    missing=$(printf '%s\n' "$expected" | grep -vxF "$found" | paste -sd ' ' - || true)
    fail "$folder does not hold exactly the release's files: extra [$extra], missing [$missing]"
  fi
  for file in $expected; do
    if [ ! -f "$folder/$file" ] || [ ! -s "$folder/$file" ]; then
      fail "$folder/$file is empty or not a file"
    fi
  done
}

case "${1:-}" in
--list)
  [ "$#" -eq 2 ] || usage
  release_files "$2"
  exit 0
  ;;
--check)
  [ "$#" -eq 3 ] || usage
  check_folder "$2" "$3"
  echo "$2: the release's $(release_files "$3" | wc -l) files"
  exit 0
  ;;
-*) usage ;;
esac
[ "$#" -le 1 ] || usage
dist=${1:-dist}

for tool in git cmake ninja clang++ cpack xz zip gzip sha256sum; do
  command -v "$tool" >/dev/null 2>&1 || fail "$tool not found: run scripts/ensure-deps.sh as root"
done
top=$(git rev-parse --show-toplevel 2>/dev/null) || fail "not inside a git clone"
cd "$top"

# The version and the time, both from the commit.
version=$(git show HEAD:CMakeLists.txt |
  sed -n 's/^project(rbar-survey VERSION \([0-9][0-9.]*\)[ )].*/\1/p')
[ -n "$version" ] || fail "no project(rbar-survey VERSION x.y.z) in the commit's CMakeLists.txt"
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
export SOURCE_DATE_EPOCH
# File modes, zip's local times and sort orders are the same for everyone.
umask 022
TZ=UTC
LC_ALL=C
export TZ LC_ALL

name=rbar-survey-$version
output=$dist/$name
scratch=$top/build-release
rm -rf "$scratch" "$output"
mkdir -p "$scratch" "$output"
output=$(cd "$output" && pwd)

# The source: the commit as git archive writes it (entries sorted, times the commit's, modes
# masked by 022 whatever the user's git configuration says), compressed without a name or time
# stamp.
git -c tar.umask=0022 -c core.autocrlf=false archive --format=tar --prefix="$name/" HEAD |
  gzip -9 -n >"$output/$name.tar.gz" ||
  fail "git archive failed"
mkdir "$scratch/source"
tar -xzf "$output/$name.tar.gz" -C "$scratch/source" || fail "cannot unpack the source archive"
source=$scratch/source/$name

# build ARCH [CMAKE OPTION...]: what the package holds, built from the unpacked source, and the
# package made with CPack.
build() {
  arch=$1
  shift
  echo "make-release: building for $arch" >&2
  cmake -S "$source" -B "$scratch/$arch" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBUILD_TESTING=OFF "$@" >"$scratch/$arch.log" 2>&1 ||
    fail "configuring the $arch build failed: see $scratch/$arch.log"
  cmake --build "$scratch/$arch" >>"$scratch/$arch.log" 2>&1 ||
    fail "the $arch build failed: see $scratch/$arch.log"
  (cd "$scratch/$arch" && cpack -G DEB) >>"$scratch/$arch.log" 2>&1 ||
    fail "cpack failed for $arch: see $scratch/$arch.log"
  cp "$scratch/$arch/rbar-survey_${version}_$arch.deb" "$output/" ||
    fail "cpack made no rbar-survey_${version}_$arch.deb"
}
build amd64 -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
build arm64 -DCMAKE_TOOLCHAIN_FILE="$source/cmake/Aarch64LinuxToolchain.cmake"

# The stick: its image compressed with fixed settings (one thread: xz's threaded output
# differs), and its files in a zip, sorted, with the commit's time and no extra attributes.
stick=$scratch/amd64/rbar-survey-usb
xz --format=xz --check=crc64 -9 --threads=1 -c "$scratch/amd64/rbar-survey-usb.img" \
  >"$output/$name-usb.img.xz" || fail "xz failed"
find "$stick" -type d -exec chmod 755 {} + -o -type f -exec chmod 644 {} +
find "$stick" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
(cd "$stick" && find EFI README.TXT | sort | zip -q -X -9 "$output/$name-usb.zip" -@) ||
  fail "zip failed"

sums=$(cd "$output" && release_files "$version" | grep -vx SHA256SUMS | xargs sha256sum) ||
  fail "sha256sum failed"
printf '%s\n' "$sums" >"$output/SHA256SUMS"

check_folder "$output" "$version"
# No file may carry the folder it was built in.
(cd "$scratch" && mkdir unpacked && for arch in amd64 arm64; do
  dpkg-deb -x "$output/rbar-survey_${version}_$arch.deb" "unpacked/$arch"
done) || fail "cannot unpack the packages"
if found=$(grep -rlF "$top" "$scratch/unpacked" "$scratch/amd64/rbar-survey-usb"); then
  fail "build paths in: $found"
fi
echo "make-release: $output" >&2
(cd "$output" && ls -l)
