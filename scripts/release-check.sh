#!/bin/sh
# Checks that the release is reproducible: clones the checked-out commit twice, into two
# different folders, runs make-release.sh in each one after the other (so at different times,
# the second under another umask and time zone), and compares the two release folders byte for
# byte. Prints each run's time, the release's files with their sizes, and the result.
#
# Usage: release-check.sh [WORK]   WORK: where the clones go (default: a new folder in TMPDIR,
#                                  removed afterwards)
set -eu

fail() {
  echo "release-check: $*" >&2
  exit 1
}

[ "$#" -le 1 ] || {
  echo "usage: $0 [WORK]" >&2
  exit 2
}
top=$(git rev-parse --show-toplevel 2>/dev/null) || fail "not inside a git clone"
commit=$(git -C "$top" rev-parse HEAD)
if [ "$#" -eq 1 ]; then
  work=$1
  mkdir -p "$work" || fail "cannot make $work"
else
  work=$(mktemp -d "${TMPDIR:-/tmp}/rbar-release-check.XXXXXX") || fail "cannot make a folder"
  trap 'rm -rf "$work"' EXIT
  trap 'exit 1' HUP INT TERM
fi

# release CLONE: clones the commit into CLONE and makes its release there; prints the seconds.
release() {
  clone=$1
  rm -rf "$clone"
  git clone -q --no-hardlinks "$top" "$clone" || fail "cannot clone $top into $clone"
  git -C "$clone" checkout -q --detach "$commit" || fail "cannot check out $commit in $clone"
  start=$(date +%s)
  (cd "$clone" && scripts/make-release.sh dist) >"$clone.log" 2>&1 ||
    fail "make-release.sh failed in $clone: see $clone.log"
  echo $(($(date +%s) - start))
}

first=$work/first/rbar-survey
second=$work/elsewhere/second-clone/rbar-survey
first_seconds=$(release "$first")
second_seconds=$(umask 077 && TZ=Pacific/Kiritimati release "$second")

first_dist=$(find "$first/dist" -mindepth 1 -maxdepth 1 -type d)
second_dist=$(find "$second/dist" -mindepth 1 -maxdepth 1 -type d)
[ "$(basename "$first_dist")" = "$(basename "$second_dist")" ] ||
  fail "the releases are named differently: $first_dist, $second_dist"
differing=""
for file in "$first_dist"/* "$second_dist"/*; do
  name=$(basename "$file")
  if ! cmp -s "$first_dist/$name" "$second_dist/$name"; then
    case " $differing " in
    *" $name "*) ;;
    *) differing="$differing $name" ;;
    esac
  fi
done

echo "commit $commit"
echo "first release:  $first_dist, $first_seconds s"
echo "second release: $second_dist, $second_seconds s"
(cd "$first_dist" && find . -type f -printf '%s %P\n' | LC_ALL=C sort -k 2)
if [ -n "$differing" ]; then
  echo "release-check: the releases differ in:$differing" >&2
  exit 1
fi
echo "release-check: the two releases are byte-identical ($(find "$first_dist" -type f | wc -l) files)"
