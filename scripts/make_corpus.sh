#!/usr/bin/env bash
# Builds the benchmark corpus from files every Debian 12 machine of this
# project has: three files of 8 MiB each in DIR (default build/corpus).
#   text.bin        every file of /usr/share/common-licenses, then every
#                   /usr/share/man/man1/*.gz decompressed
#   binary.bin      the files behind g++-12, libstdc++.so.6, libc.so.6 and git
#   compressed.bin  the raw bytes of every .gz under /usr/share/doc
# Files are taken in C-locale path order, concatenated and cut at 8 MiB.
# Existing corpus files of the right size are kept.
set -eu
# No pipefail: the producers below are cut short by head on purpose.
export LC_ALL=C
cd "$(dirname "$0")/.."
dir=${1:-build/corpus}
size=$((8 * 1024 * 1024))
mkdir -p "$dir"

# Writes stdin to $1, cut at $size bytes; fails when fewer bytes arrived.
cut_to() {
  head -c "$size" > "$1.tmp"
  local got
  got=$(stat -c %s "$1.tmp")
  if [ "$got" -ne "$size" ]; then
    echo "make_corpus.sh: only $got bytes for $1" >&2
    rm -f "$1.tmp"
    return 1
  fi
  mv "$1.tmp" "$1"
}


fresh() { [ -f "$1" ] && [ "$(stat -c %s "$1")" -eq "$size" ]; }

if ! fresh "$dir/text.bin"; then
  {
    find -L /usr/share/common-licenses -type f | sort | while read -r f; do cat "$f"; done
    # gzip killed by SIGPIPE (status above 128): the cut has all it needs.
    for f in $(printf '%s\n' /usr/share/man/man1/*.gz | sort); do
      gzip -dc "$f" || { [ $? -gt 128 ] && break; }
    done
  } 2>/dev/null | cut_to "$dir/text.bin"
fi

if ! fresh "$dir/binary.bin"; then
  for f in /usr/bin/g++-12 /usr/lib/x86_64-linux-gnu/libstdc++.so.6 \
           /usr/lib/x86_64-linux-gnu/libc.so.6 /usr/bin/git; do
    cat "$(readlink -f "$f")"
  done 2>/dev/null | cut_to "$dir/binary.bin"
fi

if ! fresh "$dir/compressed.bin"; then
  find /usr/share/doc -name '*.gz' \( -type f -o -type l \) | sort | while read -r f; do
    cat "$f" 2>/dev/null || true
  done | cut_to "$dir/compressed.bin"
fi
echo "$dir"
