#!/usr/bin/env bash
# The decoder's speed as each target builds it (run by scripts/bench.sh):
# build/bin/decode_bench (x86-64, the host codec) natively and
# build/bin/decode_bench.exe (i686, the decoder as setup.exe has it) under
# Wine in a fresh 32-bit prefix, on the text and binary corpora imploded by
# setuppack (automatic settings). Prints MB/s (median and best of 9 decodes)
# for both builds and the ratio i686/x86-64 of the medians.
#   scripts/decode_bench.sh [CORPUS_DIR]
# Where Wine cannot run, the i686 half is left out with one line saying why;
# nothing here fails on speed.
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

# The streams, made again when the corpus file or setuppack is newer.
pairs=()
for name in text binary; do
  stream=$corpus/$name.imp
  if [ ! -s "$stream" ] || [ "$stream" -ot "$corpus/$name.bin" ] || [ "$stream" -ot "$bin/setuppack" ]; then
    "$bin/setuppack" implode "$corpus/$name.bin" "$stream.tmp"
    mv "$stream.tmp" "$stream"
  fi
  pairs+=("$stream" "$corpus/$name.bin")
done

echo "decoder speed by target: MB = 10^6 bytes of output per second, median and best of 9"
host=$("$bin/decode_bench" "${pairs[@]}")
printf '%-8s %-8s %10s %10s\n' target corpus median best
while read -r file median best width; do
  printf '%-8s %-8s %10s %10s  (%s bit buffer)\n' x86-64 "${file%.imp}" "$median" "$best" "$width"
done <<< "$host"

source scripts/wine_session.sh
if ! wine_runs; then
  echo "i686: not run: Wine cannot run here ($wine_unavailable)"
  exit 0
fi
if [ ! -f "$bin/decode_bench.exe" ]; then
  echo "i686: not run: $bin/decode_bench.exe is missing (the cross build makes it)"
  exit 0
fi

prefix=$(mktemp -d "${TMPDIR:-/tmp}/decode_bench.XXXXXX")
start_wine_session "$prefix"
trap 'wine_session_end; rm -rf "$prefix"' EXIT

# Wine maps the root of the file system as drive Z:.
winpairs=()
for path in "${pairs[@]}"; do
  winpairs+=("Z:$(realpath "$path" | tr / '\\')")
done
if ! i686=$(wine "$bin/decode_bench.exe" "${winpairs[@]}" | tr -d '\r'); then
  echo "i686: decode_bench.exe failed under Wine" >&2
  exit 1
fi
while read -r file median best width; do
  printf '%-8s %-8s %10s %10s  (%s bit buffer)\n' i686 "${file%.imp}" "$median" "$best" "$width"
done <<< "$i686"

echo "i686/x86-64 (medians):"
join <(sort <<< "$host") <(sort <<< "$i686") |
  while read -r file hostMedian _ _ i686Median _ _; do
    awk -v n="${file%.imp}" -v h="$hostMedian" -v i="$i686Median" 'BEGIN { printf "  %-8s %.2f\n", n, i / h }'
  done
