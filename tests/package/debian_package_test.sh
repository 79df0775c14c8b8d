#!/usr/bin/env bash
# Builds the Debian package into a scratch directory, unpacks it with
# dpkg-deb -x and builds, lists and verifies the example package with the tool
# and the stub found there. Exit code 77 (skipped) without the cross-built
# setup.exe.
set -euo pipefail
build_dir=$1 source_dir=$2 stub=$3

if [ ! -f "$stub" ]; then
  echo "skipped: $stub is missing; the cross build makes it (make build)"
  exit 77
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

cpack --config "$build_dir/CPackConfig.cmake" -B "$scratch/out" >/dev/null
deb=$(ls "$scratch"/out/setuppack_*.deb)
dpkg-deb -x "$deb" "$scratch/root"
root=$scratch/root

for f in usr/bin/setuppack usr/lib/setuppack/setup.exe usr/share/man/man1/setuppack.1.gz \
         usr/share/doc/setuppack/examples/package.toml; do
  [ -f "$root/$f" ] || { echo "the package lacks /$f"; exit 1; }
done
cmp "$stub" "$root/usr/lib/setuppack/setup.exe"
dpkg-deb -f "$deb" Depends | grep -q libc6 || { echo "no shared library dependencies"; exit 1; }

# The example is built without --stub: the tool must find the packaged stub.
mkdir "$scratch/dist"
"$root/usr/bin/setuppack" build "$root/usr/share/doc/setuppack/examples/package.toml" -o "$scratch/dist/Setup.exe"
cmp -n "$(stat -c %s "$stub")" "$stub" "$scratch/dist/Setup.exe"
"$root/usr/bin/setuppack" verify "$scratch/dist/Setup.exe"
echo "debian package: ok"
