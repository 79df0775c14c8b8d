#!/usr/bin/env bash
# Counts the instructions the decoder takes per output byte (run by
# scripts/decode_bench.sh, on the host or inside scripts/i386-machine.sh).
# PROGRAM, a build of bench/decode_bench.cpp, decodes each STREAM once under
# callgrind, which collects inside explode only: from its entry to its
# return, less the benchmark's read and write callbacks (the memmove and
# memset that explode calls count, from the C library here; setup.exe has its
# own). The count depends neither on the load nor on emulation. Prints one
# line per stream: its file name, the instructions, the bytes of ORIGINAL and
# the instructions per byte.
#   scripts/decode_count.sh PROGRAM STREAM ORIGINAL [STREAM ORIGINAL ...]
# Exit code 0, 1 when valgrind fails or a decode differs, 2 on bad usage.
set -euo pipefail
if [ $# -lt 3 ] || [ $(($# % 2)) -ne 1 ]; then
  echo "usage: scripts/decode_count.sh PROGRAM STREAM ORIGINAL [STREAM ORIGINAL ...]" >&2
  exit 2
fi
program=$1
shift
work=$(mktemp -d "${TMPDIR:-/tmp}/decode_count.XXXXXX")
trap 'rm -rf "$work"' EXIT

while [ $# -gt 0 ]; do
  stream=$1
  original=$2
  shift 2
  # Toggling on the callbacks' entry and exit leaves them out.
  if ! valgrind --tool=callgrind --callgrind-out-file="$work/out" \
      --toggle-collect='explode(*' --toggle-collect='*ReadFromMemory*' \
      --toggle-collect='*WriteToMemory*' "$program" --once "$stream" "$original" \
      >"$work/log" 2>&1; then
    cat "$work/log" >&2
    echo "decode_count.sh: $program failed on $stream under callgrind" >&2
    exit 1
  fi
  instructions=$(awk '/^totals:/ { print $2 }' "$work/out")
  bytes=$(stat -c %s "$original")
  awk -v name="${stream##*/}" -v i="$instructions" -v b="$bytes" \
    'BEGIN { printf "%s %d %d %.2f\n", name, i, b, i / b }'
done
