#!/usr/bin/env bash
# `make bench`: builds the benchmark corpus (scripts/make_corpus.sh) and prints
# our implode/explode figures beside node-pkware's, measured in the same run,
# then the decoder's instructions per byte and speed as the host and as
# setup.exe build it (scripts/decode_bench.sh), the build time of a 72 MiB
# package of small members with one job and with every core and of a 64 MiB
# package of eight large members with one job and with two, and the time setup.exe takes to
# install a 64 MiB package under Wine against a copy of its files
# (scripts/install_bench.sh).
# Expects the host build (build/host) to be done; builds implode_bench if it
# is missing. Prints figures only: nothing here passes or fails on speed.
set -euo pipefail
cd "$(dirname "$0")/.."
corpus=$(scripts/make_corpus.sh build/corpus)
bench=build/bin/implode_bench
if [ ! -x "$bench" ] || [ ! -x build/bin/package_bench ] || [ ! -x build/bin/decode_bench ]; then
  cmake -S . -B build/host -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build/host --target implode_bench package_bench decode_bench -j "$(nproc)"
fi
echo "corpus: $corpus (three files of 8 MiB); MB = 10^6 bytes of uncompressed data"
echo "columns: our decode and encode speed, our ratio; node-pkware's ratio, encode and decode speed; decode speed ours/node-pkware"
echo "after each corpus: the default (auto) against --best, and what --best costs in time and saves in size"
"$bench" "$corpus"
echo
scripts/decode_bench.sh "$corpus"
echo
echo "package build: 72 members of 1 MiB, 1 job against every core; 8 members of 8 MiB, 1 job against 2"
rm -rf build/bench_package
build/bin/package_bench "$corpus" build/bench_package
rm -rf build/bench_package
echo
echo "installation: setup.exe /S against xcopy of the same files, under Wine"
scripts/install_bench.sh "$corpus" build/install_bench
rm -rf build/install_bench
