#!/bin/sh
# Runs a command and shows what it printed only when it fails, with its exit status: for build
# steps whose tools report every success (openssl's "writing RSA key", sbsign's "Signing
# Unsigned original image").
#
# Usage: run-quietly.sh COMMAND [ARGUMENT...]
set -eu

if [ "$#" -eq 0 ]; then
  echo "usage: $0 COMMAND [ARGUMENT...]" >&2
  exit 2
fi
status=0
output=$("$@" 2>&1) || status=$?
if [ "$status" -ne 0 ]; then
  printf '%s\n' "$output" >&2
  echo "run-quietly: $1 failed (exit status $status)" >&2
  exit "$status"
fi
