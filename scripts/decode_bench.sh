#!/usr/bin/env bash
# The decoder's cost and speed by target (run by scripts/bench.sh), on the
# first 4 MiB of the text and binary corpora imploded by setuppack (automatic
# settings), the same streams for every build:
# - instructions per output byte inside explode (scripts/decode_count.sh) of
#   build/bin/decode_bench (x86-64, the host codec) and
#   build/bin/decode_bench_i686 (i686 Linux, the decoder compiled as
#   setup.exe's is, cmake/SetupFlags.cmake), and their ratio i686/x86-64;
# - MB/s (median and best of 9 decodes) of both; the i686 build runs in the
#   emulated machine (scripts/i386-machine.sh) where this kernel runs no i386
#   programs, and its figures are marked "emulated" then;
# - MB/s of build/bin/decode_bench.exe (the decoder of setup.exe's own build)
#   under Wine, where Wine runs.
# Counts depend neither on the load nor on emulation; times do, and the load
# average is printed with them. Whatever cannot run is left out with one line
# saying why; nothing here fails on speed.
#   scripts/decode_bench.sh [CORPUS_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
corpus=$(scripts/make_corpus.sh "${1:-build/corpus}")
bin=build/bin
for program in "$bin/setuppack" "$bin/decode_bench"; do
  if [ ! -x "$program" ]; then
    echo "decode_bench.sh: $program is missing; run make build first" >&2
    exit 1
  fi
done

# The first 4 MiB of each corpus file and its stream, made again when the
# corpus file or setuppack is newer.
mkdir -p "$corpus/decode"
pairs=()
for name in text binary; do
  original=$corpus/decode/$name.bin
  stream=$corpus/decode/$name.imp
  if [ ! -s "$original" ] || [ "$original" -ot "$corpus/$name.bin" ]; then
    head -c $((4 * 1024 * 1024)) "$corpus/$name.bin" >"$original.tmp"
    mv "$original.tmp" "$original"
  fi
  if [ ! -s "$stream" ] || [ "$stream" -ot "$original" ] || [ "$stream" -ot "$bin/setuppack" ]; then
    "$bin/setuppack" implode "$original" "$stream.tmp"
    mv "$stream.tmp" "$stream"
  fi
  pairs+=("$stream" "$original")
done

results=$(mktemp -d "$PWD/build/decode_bench.XXXXXX")
trap 'rm -rf "$results"' EXIT

# x86-64 on the host.
counting=yes
if ! command -v valgrind >/dev/null; then
  counting=no
  echo "instructions: not counted: valgrind is missing"
else
  scripts/decode_count.sh "$bin/decode_bench" "${pairs[@]}" >"$results/x86-64.count"
fi
"$bin/decode_bench" "${pairs[@]}" >"$results/x86-64.speed"
load=$(cut -d ' ' -f 1-3 /proc/loadavg)

# i686: natively where this kernel runs i386 programs (valgrind's x86 tools
# are i386 programs too: usage, exit code 2, means both run), otherwise count
# and time it in one run of the emulated machine.
i686=$bin/decode_bench_i686
i686_where=
if [ ! -x "$i686" ]; then
  echo "i686: not run: $i686 is missing (the host build makes it where g++-multilib is installed)"
else
  status=0
  if [ $counting = yes ]; then
    valgrind -q --tool=none "$i686" >/dev/null 2>&1 || status=$?
  else
    "$i686" >/dev/null 2>&1 || status=$?
  fi
  # $0 is the results folder, $1 the program, $2 whether to count, then the
  # pairs. The load is the host's, taken before.
  # shellcheck disable=SC2016  # expanded by the shell that runs the job
  job='{ [ "$2" = no ] || scripts/decode_count.sh "$1" "${@:3}" >"$0/i686.count"; } &&
       "$1" "${@:3}" >"$0/i686.speed"'
  i686_load=$(cut -d ' ' -f 1-3 /proc/loadavg)
  if [ $status -eq 2 ]; then
    i686_where=native
    bash -c "$job" "$results" "$i686" "$counting" "${pairs[@]}"
  elif scripts/i386-machine.sh --timeout 1800 bash -c "$job" "$results" "$i686" "$counting" \
      "${pairs[@]}"; then
    i686_where=emulated
  else
    echo "i686: not run: the emulated machine failed (scripts/i386-machine.sh)"
  fi
fi

echo "decoder by target, on the first 4 MiB of each corpus imploded by setuppack"
if [ $counting = yes ]; then
  echo "instructions per output byte inside explode (callgrind, the benchmark's callbacks left out):"
  printf '%-8s %10s %10s %12s\n' corpus x86-64 i686 i686/x86-64
  while read -r file instructions _ perByte; do
    i686PerByte=-
    ratio=-
    if [ -s "$results/i686.count" ]; then
      i686PerByte=$(awk -v f="$file" '$1 == f { print $4 }' "$results/i686.count")
      ratio=$(awk -v f="$file" -v h="$instructions" '$1 == f { printf "%.3f", $2 / h }' \
        "$results/i686.count")
    fi
    printf '%-8s %10s %10s %12s\n' "${file%.imp}" "$perByte" "$i686PerByte" "$ratio"
  done <"$results/x86-64.count"
fi

echo "speed: MB = 10^6 bytes of output per second, median and best of 9"
printf '%-8s %-8s %10s %10s\n' target corpus median best
while read -r file median best width; do
  printf '%-8s %-8s %10s %10s  (%s bit buffer; load %s)\n' x86-64 "${file%.imp}" "$median" "$best" \
    "$width" "$load"
done <"$results/x86-64.speed"
if [ -s "$results/i686.speed" ]; then
  while read -r file median best width; do
    printf '%-8s %-8s %10s %10s  (%s bit buffer; %s, load %s)\n' i686 "${file%.imp}" "$median" \
      "$best" "$width" "$i686_where" "$i686_load"
  done <"$results/i686.speed"
  if [ "$i686_where" = native ]; then
    echo "i686/x86-64 (medians):"
    join <(sort "$results/x86-64.speed") <(sort "$results/i686.speed") |
      while read -r file hostMedian _ _ i686Median _ _; do
        awk -v n="${file%.imp}" -v h="$hostMedian" -v i="$i686Median" \
          'BEGIN { printf "  %-8s %.2f\n", n, i / h }'
      done
  fi
fi

# The decoder of setup.exe's own build, under Wine where Wine runs here.
source scripts/wine_session.sh
if ! wine_runs; then
  echo "setup.exe's build (decode_bench.exe): not run: Wine cannot run here ($wine_unavailable)"
  exit 0
fi
if [ ! -f "$bin/decode_bench.exe" ]; then
  echo "setup.exe's build (decode_bench.exe): not run: $bin/decode_bench.exe is missing (the cross build makes it)"
  exit 0
fi
prefix=$(mktemp -d "${TMPDIR:-/tmp}/decode_bench.XXXXXX")
start_wine_session "$prefix"
trap 'wine_session_end; rm -rf "$prefix" "$results"' EXIT
# Wine maps the root of the file system as drive Z:.
winpairs=()
for path in "${pairs[@]}"; do
  winpairs+=("Z:$(realpath "$path" | tr / '\\')")
done
if ! wine_speed=$(wine "$bin/decode_bench.exe" "${winpairs[@]}" | tr -d '\r'); then
  echo "decode_bench.exe failed under Wine" >&2
  exit 1
fi
load=$(cut -d ' ' -f 1-3 /proc/loadavg)
while read -r file median best width; do
  printf '%-8s %-8s %10s %10s  (%s bit buffer; setup.exe'"'"'s build under Wine, load %s)\n' i686 \
    "${file%.imp}" "$median" "$best" "$width" "$load"
done <<<"$wine_speed"
