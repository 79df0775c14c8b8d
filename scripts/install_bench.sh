#!/usr/bin/env bash
# Installation speed of setup.exe against a plain copy of the same files
# (scripts/bench.sh, `make bench`). Builds a package of 25 members of 1 to
# 4 MiB (about 64 MiB) cut from the benchmark corpus, once compressed and once
# stored, then in one fresh 32-bit Wine prefix runs, interleaved for ROUNDS
# rounds (default 5): a silent installation of each package
# (`setup.exe /S /D dir`) and `xcopy` of the installed files. Prints the median
# of each and the ratios installation/copy. Prints figures only.
#
# Usage: scripts/install_bench.sh [CORPUS_DIR] [WORK_DIR]
# Expects build/bin/setuppack and build/bin/setup.exe (make build).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
corpus=${1:-build/corpus}
work=$(realpath -m "${2:-build/install_bench}")
rounds=${ROUNDS:-5}

source scripts/wine_session.sh
if ! wine_runs; then
  echo "install benchmark: skipped, this machine cannot run Wine's 32-bit loader (wine --version fails)"
  exit 0
fi
for tool in build/bin/setuppack build/bin/setup.exe; do
  if [[ ! -x $tool && ! -f $tool ]]; then
    echo "install benchmark: $tool is missing; run make build first" >&2
    exit 1
  fi
done

rm -rf "$work"
mkdir -p "$work/members"

# The members: 25 sizes spread evenly from 1 MiB to 4 MiB, in shuffled order,
# cut in turn from the three corpus files at offsets that vary, so that text,
# binary and compressed data mix.
sources=(text.bin binary.bin compressed.bin)
mib=$((1024 * 1024))
total=0
for i in $(seq 0 24); do
  size=$((mib + (i * 7 % 25) * 3 * mib / 24))
  source=$corpus/${sources[$((i % 3))]}
  span=$(( $(stat -c %s "$source") - size ))
  offset=$(( (i * 2654435) % (span + 1) ))
  dd if="$source" of="$(printf '%s/members/member%02d.%s' "$work" "$i" "${sources[$((i % 3))]%.bin}")" \
     bs=1M iflag=skip_bytes,count_bytes skip="$offset" count="$size" status=none
  total=$((total + size))
done

for kind in compressed stored; do
  compress=false
  [[ $kind == compressed ]] && compress=true
  cat > "$work/$kind.toml" <<EOF
[settings]
run_command = "member00.text"
default_path = 'C:\\bench\\default'

[header]
ipc_prefix = "KB"

[defaults]
time = 2024-05-01T09:00:00Z
compress = $compress

[[files]]
tree = "members"
EOF
  build/bin/setuppack build "$work/$kind.toml" -o "$work/$kind.exe" --quiet >/dev/null
done

start_wine_session "$work/prefix" 1024x768x24
# A persistent server from here on: each run starts without its start-up.
# `wine program` returns when the program has ended.
wineserver -p

drive=$WINEPREFIX/drive_c/bench
mkdir -p "$drive"
cp "$work/compressed.exe" "$work/stored.exe" "$drive/"
# The files that xcopy copies: the stored package installed once.
wine 'C:\bench\stored.exe' /S /D 'C:\bench\files' >/dev/null 2>&1
if ! diff -r "$work/members" "$drive/files" >/dev/null; then
  echo "install benchmark: the installed files differ from the members" >&2
  exit 1
fi

# Seconds that a command takes, wall clock.
seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s.%N)
  echo "$start $end" | awk '{ printf "%.3f\n", $2 - $1 }'
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

: > "$work/compressed.times"
: > "$work/stored.times"
: > "$work/copy.times"
for round in $(seq 1 "$rounds"); do
  for kind in compressed stored copy; do
    rm -rf "$drive/out"
    if [[ $kind == copy ]]; then
      seconds wine xcopy 'C:\bench\files' 'C:\bench\out\' /E /I /Q /Y >> "$work/$kind.times"
    else
      seconds wine "C:\\bench\\$kind.exe" /S /D 'C:\bench\out' >> "$work/$kind.times"
    fi
  done
done
if ! diff -r "$work/members" "$drive/out" >/dev/null; then
  echo "install benchmark: the copied files differ from the members" >&2
  exit 1
fi

copy=$(median < "$work/copy.times")
echo "install benchmark: $(ls "$work/members" | wc -l) members, $((total / mib)) MiB," \
     "compressed package $(( $(stat -c %s "$work/compressed.exe") / mib )) MiB; $rounds rounds interleaved;" \
     "load average $(cut -d' ' -f1-3 /proc/loadavg)"
printf '  %-28s %8s s\n' "xcopy of the files" "$copy"
for kind in compressed stored; do
  m=$(median < "$work/$kind.times")
  printf '  %-28s %8s s   %5s x copy\n' "setup.exe /S, $kind" "$m" "$(awk -v a="$m" -v b="$copy" 'BEGIN { printf "%.2f", a / b }')"
done
