#!/usr/bin/env bash
# Installation speed of setup.exe against a plain copy of the same files
# (scripts/bench.sh, `make bench`). Builds a package of 25 members of 1 to
# 4 MiB (about 64 MiB) in the root and four folders, cut from the benchmark
# corpus, once compressed and once stored, then in one fresh 32-bit Wine
# prefix runs, interleaved for ROUNDS rounds (default 5): a silent
# installation of each package (`setup.exe /S /D dir`) and `xcopy` of the
# installed files. Wine's desktop is kept running throughout, as Windows'
# is. Prints the median and the fastest time of each, and the ratio
# installation/copy as the median of the rounds' own ratios (a shared host's
# speed drifts within a run; the two runs of a round meet the same one),
# with the load average.
#
# Then the figures that do not depend on the machine: the file system calls
# per MiB installed of one more run of each, counted in Wine's trace of its
# relayed calls (WINEDEBUG=+relay, scripts/file_calls.awk): ntdll's file calls
# made inside the program's own Win32 calls, so setup.exe and xcopy are
# counted at the same layer, Wine's start-up left out.
#
# Wine runs natively where this kernel runs its 32-bit loader, otherwise in
# the emulated machine (scripts/i386-machine.sh), where times are distorted
# and say so; the members and packages are made on the host first.
#
# Usage: scripts/install_bench.sh [CORPUS_DIR] [WORK_DIR]
# Expects build/bin/setuppack and build/bin/setup.exe (make build).
#   INSTALL_BENCH_BASELINE=other/setup.exe  measures a second setup program
#                                           beside it, in the same rounds
# Prints figures only: nothing here passes or fails on speed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
corpus=$(realpath -m "${1:-build/corpus}")
work=$(realpath -m "${2:-build/install_bench}")
rounds=${ROUNDS:-5}
baseline=${INSTALL_BENCH_BASELINE:-}
mib=$((1024 * 1024))

source scripts/wine_session.sh

# The packages: "" for setup.exe, "baseline" for the second one.
stubs=("")
[[ -n $baseline ]] && stubs+=(baseline)

if [[ -z ${INSTALL_BENCH_PREPARED:-} ]]; then
  for tool in build/bin/setuppack build/bin/setup.exe build/bin/tests/probe_message.exe $baseline; do
    if [[ ! -f $tool ]]; then
      echo "install benchmark: $tool is missing; run make build first" >&2
      exit 1
    fi
  done
  rm -rf "$work"
  mkdir -p "$work/members"

  # The members: 25 sizes spread evenly from 1 MiB to 4 MiB, in shuffled
  # order, cut in turn from the three corpus files at offsets that vary, so
  # that text, binary and compressed data mix; in turn in the root and in
  # four folders up to three levels deep, as a program's files lie.
  sources=(text.bin binary.bin compressed.bin)
  folders=("" program program/data program/data/sets docs)
  for i in $(seq 0 24); do
    size=$((mib + (i * 7 % 25) * 3 * mib / 24))
    source=$corpus/${sources[$((i % 3))]}
    span=$(( $(stat -c %s "$source") - size ))
    offset=$(( (i * 2654435) % (span + 1) ))
    folder=$work/members/${folders[$((i % 5))]}
    mkdir -p "$folder"
    dd if="$source" of="$(printf '%s/member%02d.%s' "$folder" "$i" "${sources[$((i % 3))]%.bin}")" \
       bs=1M iflag=skip_bytes,count_bytes skip="$offset" count="$size" status=none
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
    if [[ -n $baseline ]]; then
      build/bin/setuppack build "$work/$kind.toml" -o "$work/baseline-$kind.exe" --stub "$baseline" \
        --quiet >/dev/null
    fi
  done
  # What start-up costs: a package of one small member, a copy of one file.
  mkdir -p "$work/one"
  echo "one small member" > "$work/one/startup.txt"
  sed -e 's/tree = "members"/tree = "one"/' -e 's/compress = true/compress = false/' \
    "$work/compressed.toml" > "$work/startup.toml"
  build/bin/setuppack build "$work/startup.toml" -o "$work/startup.exe" --quiet >/dev/null
  if [[ -n $baseline ]]; then
    build/bin/setuppack build "$work/startup.toml" -o "$work/baseline-startup.exe" --stub "$baseline" \
      --quiet >/dev/null
  fi
  export INSTALL_BENCH_PREPARED=1
fi

# In the emulated machine, the load that counts is the host's: it is noted
# before the machine starts and printed when it has ended.
export INSTALL_BENCH_HOST_LOAD=${INSTALL_BENCH_HOST_LOAD:-$(cut -d' ' -f1-3 /proc/loadavg)}
if [[ -z ${I386_MACHINE:-} ]]; then
  trap 'echo "  host load average $INSTALL_BENCH_HOST_LOAD before the machine started, $(cut -d" " -f1-3 /proc/loadavg) after it ended"' EXIT
fi
run_where_wine_runs "$0" "$@"
trap - EXIT

where=natively
prefix=$work/prefix
if [[ -n ${I386_MACHINE:-} ]]; then
  where="emulated (qemu, software emulation: times distorted)"
  # The prefix and everything timed live on the machine's tmpfs: over 9p,
  # every file call would cross to the host.
  prefix=/tmp/korvane-install-bench/prefix
fi

start_wine_session "$prefix" 1024x768x24
# A persistent server from here on: each run starts without its start-up.
# `wine program` returns when the program has ended. The session's last
# server ends first: -p cannot take over one that runs.
wineserver -w
wineserver -p

# Wine's desktop (explorer.exe) runs while a window exists, and is started
# again by the next program that makes one: on Windows it is always there.
# A message box kept open keeps it up through the runs, so that setup.exe is
# not charged with the start of Wine's desktop each time.
wine build/bin/tests/probe_message.exe >/dev/null 2>&1 &

drive=$WINEPREFIX/drive_c/bench
mkdir -p "$drive"
cp "$work"/*.exe "$drive/"
cp -r "$work/one" "$drive/one"
# The files that xcopy copies: the stored package installed once.
wine 'C:\bench\stored.exe' /S /D 'C:\bench\files' >/dev/null 2>&1
if ! diff -r "$work/members" "$drive/files" >/dev/null; then
  echo "install benchmark: the installed files differ from the members" >&2
  exit 1
fi
# xcopy started by its path: by its bare name, `wine` would start it through
# start.exe, one process more.
xcopy=('C:\windows\system32\xcopy.exe' 'C:\bench\files' 'C:\bench\out\' /E /I /Q /Y)

# The runs: copy, and each package of each setup program; then their
# start-up: the copy of one file, the package of one small member.
kinds=(copy)
startups=(copy-startup)
for stub in "${stubs[@]}"; do
  for kind in compressed stored; do
    kinds+=("${stub:+$stub-}$kind")
  done
  startups+=("${stub:+$stub-}startup")
done
run_kind() {
  rm -rf "$drive/out"
  if [[ $1 == copy ]]; then
    wine "${xcopy[@]}"
  elif [[ $1 == copy-startup ]]; then
    wine "${xcopy[0]}" 'C:\bench\one' "${xcopy[@]:2}"
  else
    wine "C:\\bench\\$1.exe" /S /D 'C:\bench\out'
  fi
}
# What a run left in out must be the members, byte for byte.
check_out() {
  if ! diff -r "$work/members" "$drive/out" >/dev/null; then
    echo "install benchmark: $1 left files that differ from the members" >&2
    exit 1
  fi
}

# Seconds that a command takes, wall clock.
seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s.%N)
  echo "$start $end" | awk '{ printf "%.3f\n", $2 - $1 }'
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for kind in "${kinds[@]}" "${startups[@]}"; do : > "$work/$kind.times"; done
for _ in $(seq 1 "$rounds"); do
  for kind in "${kinds[@]}" "${startups[@]}"; do
    seconds run_kind "$kind" >> "$work/$kind.times"
  done
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

total=$(find "$work/members" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')
label() {
  case $1 in
    copy) echo "xcopy of the files" ;;
    copy-startup) echo "xcopy of one file" ;;
    startup) echo "setup.exe /S, one small member" ;;
    baseline-startup) echo "baseline setup.exe, one member" ;;
    baseline-*) echo "baseline setup.exe, ${1#baseline-}" ;;
    *) echo "setup.exe /S, $1" ;;
  esac
}
copy=$(median < "$work/copy.times")
echo "install benchmark: $(find "$work/members" -type f | wc -l) members in" \
     "$(find "$work/members" -mindepth 1 -type d | wc -l) folders, $((total / mib)) MiB," \
     "compressed package $(( $(stat -c %s "$work/compressed.exe") / mib )) MiB; $rounds rounds interleaved;" \
     "Wine ran $where"
if [[ -n ${I386_MACHINE:-} ]]; then
  echo "  the machine's load average $load_before before the rounds, $load_after after them"
else
  echo "  load average $load_before before the rounds, $load_after after them"
fi
printf '  %-30s %8s %8s   %s\n' "" median fastest "x copy: median of the rounds' ratios"
printf '  %-30s %8s %8s\n' "$(label copy)" "$copy" "$(sort -n "$work/copy.times" | head -n 1)"
for kind in "${kinds[@]:1}"; do
  ratio=$(paste "$work/$kind.times" "$work/copy.times" | awk '{ printf "%.4f\n", $1 / $2 }' | median)
  printf '  %-30s %8s %8s   %5.2f\n' "$(label "$kind")" "$(median < "$work/$kind.times")" \
    "$(sort -n "$work/$kind.times" | head -n 1)" "$ratio"
done
echo "  start-up, and the time beyond it (median less the start-up's median):"
for kind in "${startups[@]}"; do
  printf '  %-30s %8s %8s\n' "$(label "$kind")" "$(median < "$work/$kind.times")" \
    "$(sort -n "$work/$kind.times" | head -n 1)"
done
beyond() { awk -v a="$(median < "$work/$1.times")" -v b="$(median < "$work/$2.times")" 'BEGIN { printf "%.3f", a - b }'; }
copy_beyond=$(beyond copy copy-startup)
printf '  %-30s %8s\n' "beyond start-up: xcopy" "$copy_beyond"
for kind in "${kinds[@]:1}"; do
  startup=startup
  [[ $kind == baseline-* ]] && startup=baseline-startup
  b=$(beyond "$kind" "$startup")
  printf '  %-30s %8s   %5s x copy\n' "beyond start-up: ${kind/-/, }" "$b" \
    "$(awk -v a="$b" -v c="$copy_beyond" 'BEGIN { printf "%.2f", a / c }')"
done

# The file calls, one traced run of each. The trace keeps KERNEL32, through
# which the programs reach the file system, and ntdll's file calls below it.
nt_calls=(NtCreateFile NtOpenFile NtReadFile NtWriteFile NtClose NtSetInformationFile
          NtQueryInformationFile NtQueryAttributesFile NtQueryFullAttributesFile
          NtQueryDirectoryFile NtQueryVolumeInformationFile NtFlushBuffersFile NtFsControlFile
          NtDeviceIoControlFile NtDeleteFile NtLockFile NtUnlockFile)
include='KERNEL32.*'
for call in "${nt_calls[@]}"; do include+=";ntdll.$call"; done
wine reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /d "$include" /f >/dev/null 2>&1
# The bounds of a program's image: its base and size from the PE header.
image_bounds() {
  local pe base size
  pe=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  base=$(od -An -tu4 -j$((pe + 52)) -N4 "$1" | tr -d ' ')
  size=$(od -An -tu4 -j$((pe + 80)) -N4 "$1" | tr -d ' ')
  printf '%08x %08x\n' "$base" $((base + size))
}
xcopy_image=$(find /usr/lib/wine /usr/lib/i386-linux-gnu/wine -path '*i386-windows/xcopy.exe' 2>/dev/null | head -n 1)
echo "file system calls per MiB installed, counted as Wine sees them (one traced run each; ntdll's file"
echo "calls made inside the program's own Win32 calls; dirs: directories created; the same on any machine):"
printf '  %-30s %7s %7s %7s %7s %7s %7s   %s\n' "" reads writes dirs opens other all "(whole process, start-up included)"
for kind in "${kinds[@]}"; do
  image=$work/$kind.exe
  [[ $kind == copy ]] && image=$xcopy_image
  read -r lo hi <<< "$(image_bounds "$image")"
  trace=$(dirname "$prefix")/$kind.trace
  WINEDEBUG=+relay run_kind "$kind" >/dev/null 2> "$trace"
  check_out "$kind"
  read -r -a counts <<< "$(awk -v lo="$lo" -v hi="$hi" -f scripts/file_calls.awk "$trace")"
  rm -f "$trace"
  line=$(printf '  %-30s' "$(label "$kind")")
  for count in "${counts[@]:0:6}"; do
    line+=$(awk -v n="$count" -v t="$total" -v m="$mib" 'BEGIN { printf " %7.2f", n * m / t }')
  done
  echo "$line   (${counts[5]} calls; ${counts[6]} in all)"
done
