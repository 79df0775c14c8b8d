#!/bin/sh
# Runs the libFuzzer targets of tests/fuzz.
#
#   scripts/fuzz.sh [short|long] [seconds]
#
# short (the default) gives each target 20 seconds, long 600 (`make fuzz`);
# a number of seconds overrides both. The targets are built in build/host
# (configured first when needed; FUZZ_BUILD_DIR names another build tree) and
# keep their corpus in <build>/tests/fuzz/corpus/<target>, so each run starts
# where the last one stopped. A crash leaves its input in
# <build>/tests/fuzz/crashes and makes the script exit with 1; without
# clang++ it says so and exits with 0.
set -eu

cd "$(dirname "$0")/.."
root=$(pwd)
build=${FUZZ_BUILD_DIR:-$root/build/host}
mode=${1:-short}
case "$mode" in
  short) seconds=20 ;;
  long) seconds=600 ;;
  *) echo "usage: scripts/fuzz.sh [short|long] [seconds]" >&2; exit 2 ;;
esac
seconds=${2:-$seconds}

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target fuzz_targets >/dev/null 2>&1 || {
  if ! command -v clang++ >/dev/null 2>&1; then
    echo "fuzz: clang++ is not installed; nothing to run"
    exit 0
  fi
  echo "fuzz: building the fuzz targets failed; run: cmake --build $build --target fuzz_targets" >&2
  exit 1
}

fuzzdir="$build/tests/fuzz"
mkdir -p "$fuzzdir/crashes"
status=0
ran=0
for target in explode_fuzz implode_round_trip_fuzz member_name_fuzz manifest_fuzz archive_reader_fuzz; do
  program="$fuzzdir/$target"
  [ -x "$program" ] || continue
  ran=1
  mkdir -p "$fuzzdir/corpus/$target"
  # The regression inputs and seeds that fuzz_seeds wrote, where there are any.
  inputs=""
  for kind in regressions seeds; do
    [ -d "$fuzzdir/$kind/$target" ] && inputs="$inputs $fuzzdir/$kind/$target"
  done
  echo "fuzz: $target for $seconds s"
  # shellcheck disable=SC2086  # the input directories are separate words
  if ! "$program" -max_total_time="$seconds" -print_final_stats=1 \
       -artifact_prefix="$fuzzdir/crashes/$target-" "$fuzzdir/corpus/$target" $inputs \
       >"$fuzzdir/$target.log" 2>&1; then
    echo "fuzz: $target FAILED; see $fuzzdir/$target.log and $fuzzdir/crashes" >&2
    status=1
  else
    grep -E '^stat::number_of_executed_units' "$fuzzdir/$target.log" || true
  fi
done
[ "$ran" = 1 ] || echo "fuzz: no fuzz targets were built (is clang++ able to link libFuzzer?)"
exit $status
