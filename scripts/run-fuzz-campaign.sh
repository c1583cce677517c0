#!/bin/sh
# A long fuzzing campaign of one target, detached from the terminal that starts it.
#
#   scripts/run-fuzz-campaign.sh start NAME WORK [RUNS] [BUILD]
#   scripts/run-fuzz-campaign.sh status WORK
#
# start copies BUILD/tests/fuzz/NAME_fuzz (BUILD defaults to build-sanitize, a -DRBAR_FUZZ=ON
# build) into WORK under a name holding the commit it was built from, so that rebuilding or
# removing the build does not touch the running campaign. It then starts, with setsid and
# nohup at nice 19, `run-fuzz.py campaign`: RUNS executions (10,000,000 by default) from a
# scratch copy of tests/fuzz/corpus/NAME and regressions/NAME in WORK/corpus, crash inputs in
# WORK/artifacts, then the corpus minimized into WORK/minimized. Everything it prints goes to
# WORK/campaign.log; the figures for docs/fuzzing.md end up in WORK/figures.txt. The campaign
# outlives the session that started it.
#
# status shows whether the campaign still runs, its latest progress line and, once it is
# done, its figures. To keep the minimized corpus, copy WORK/minimized/* over
# tests/fuzz/corpus/NAME (the replay test runs every file there).
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)

usage() {
  echo "usage: $0 start NAME WORK [RUNS] [BUILD] | $0 status WORK" >&2
  exit 2
}

start() {
  name=$1
  work=$2
  runs=${3:-10000000}
  build=${4:-$ROOT/build-sanitize}
  binary=$build/tests/fuzz/${name}_fuzz
  [ -x "$binary" ] || { echo "no fuzz target $binary: build with -DRBAR_FUZZ=ON" >&2; exit 1; }
  [ -d "$ROOT/tests/fuzz/corpus/$name" ] || { echo "no corpus for $name" >&2; exit 1; }
  if [ -f "$work/pid" ] && kill -0 "$(cat "$work/pid")" 2>/dev/null; then
    echo "a campaign already runs in $work (process $(cat "$work/pid"))" >&2
    exit 1
  fi
  mkdir -p "$work"
  work=$(cd "$work" && pwd)
  commit=$(git -C "$ROOT" rev-parse --short HEAD)
  copy=$work/${name}_fuzz.$commit
  cp "$binary" "$copy"
  # setsid gives the campaign a session of its own, and with it a scheduler group of its own
  # where the kernel groups by session (sched_autogroup_enabled): nice then ranks it only
  # within that group, so the group itself is niced too, or it takes a whole core.
  # shellcheck disable=SC2016
  setsid nohup sh -c 'echo 19 >/proc/self/autogroup 2>/dev/null; exec nice -n 19 "$@"' campaign \
    python3 "$ROOT/tests/fuzz/run-fuzz.py" campaign --target "$copy" \
    --corpus "$ROOT/tests/fuzz/corpus/$name" --regressions "$ROOT/tests/fuzz/regressions/$name" \
    --work "$work" --runs "$runs" >"$work/campaign.log" 2>&1 </dev/null &
  echo $! >"$work/pid"
  echo "campaign of $name ($runs executions, $copy) started as process $(cat "$work/pid")"
  echo "log: $work/campaign.log; figures when done: $work/figures.txt"
}

status() {
  work=$1
  [ -f "$work/pid" ] || { echo "no campaign in $work" >&2; exit 1; }
  if kill -0 "$(cat "$work/pid")" 2>/dev/null; then
    echo "running (process $(cat "$work/pid"))"
  else
    echo "not running"
  fi
  # The fuzzing's latest status line, before the merge prints lines of its own.
  awk '/^MERGE-/ { exit } /^#[0-9]+/ { last = $0 } END { if (last) print last }' \
    "$work/campaign.log"
  if [ -f "$work/figures.txt" ]; then
    cat "$work/figures.txt"
  fi
}

[ $# -ge 2 ] || usage
mode=$1
shift
case $mode in
start) start "$@" ;;
status) status "$1" ;;
*) usage ;;
esac
