#!/usr/bin/env bash
# `make bench`: builds the benchmark corpus (scripts/make_corpus.sh) and prints
# our implode/explode figures beside node-pkware's, measured in the same run,
# then the build time of a 72 MiB package with one job and with every core.
# Expects the host build (build/host) to be done; builds implode_bench if it
# is missing. Prints figures only: nothing here passes or fails on speed.
set -euo pipefail
cd "$(dirname "$0")/.."
corpus=$(scripts/make_corpus.sh build/corpus)
bench=build/bin/implode_bench
if [ ! -x "$bench" ] || [ ! -x build/bin/package_bench ]; then
  cmake -S . -B build/host -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build/host --target implode_bench package_bench -j "$(nproc)"
fi
echo "corpus: $corpus (three files of 8 MiB); MB = 10^6 bytes of uncompressed data"
echo "columns: our decode and encode speed, our ratio; node-pkware's ratio, encode and decode speed; decode speed ours/node-pkware"
echo "after each corpus: the default (auto) against --best, and what --best costs in time and saves in size"
"$bench" "$corpus" tests/oracle
echo
echo "package build: 1 job against every core"
rm -rf build/bench_package
build/bin/package_bench "$corpus" build/bench_package
rm -rf build/bench_package
