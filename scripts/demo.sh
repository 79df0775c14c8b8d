#!/usr/bin/env bash
# The demonstration behind `make demo`: packs the example package with
# build/bin/setuppack, lists it, and installs it silently with setup.exe in a
# fresh 32-bit Wine prefix, then shows what was installed.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bin=build/bin
demo=build/demo
program=$demo/KorvaneSetup.exe
target='C:\Korvane Demo'

for tool in "$bin/setuppack" "$bin/setup.exe"; do
  if [[ ! -e $tool ]]; then
    echo "demo: $tool is missing; run make build first" >&2
    exit 1
  fi
done

source scripts/wine_session.sh
run_where_wine_runs "$0" "$@"

mkdir -p "$demo"

echo "== Packing examples/package.toml"
"$bin/setuppack" build examples/package.toml -o "$program"
echo
echo "== Listing $program"
"$bin/setuppack" list "$program"
echo

# In the emulated machine the prefix lives on its tmpfs: on the host's disk,
# shared over 9p, wineboot alone takes minutes.
prefix=$root/$demo/prefix
[[ -n ${I386_MACHINE:-} ]] && prefix=/tmp/korvane-demo/prefix
echo "== Creating a fresh 32-bit Wine prefix in $prefix"
start_wine_session "$prefix" 1024x768x24

echo "== Running: wine $program /S /D \"$target\""
set +e
wine "$program" /S /D "$target"
status=$?
set -e
wineserver -w
echo "setup.exe exit code: $status"
echo

installed="$WINEPREFIX/drive_c/Korvane Demo"
echo "== Installed tree: $installed"
if [[ -d $installed ]]; then
  (cd "$installed" && find . -mindepth 1 -printf '%y %8s  %TY-%Tm-%Td %TH:%TM  %P\n' | sort -k5)
  # The same members unpacked on the host must match byte for byte.
  rm -rf "$demo/extracted"
  "$bin/setuppack" extract "$program" -d "$demo/extracted" >/dev/null
  if diff -r "$demo/extracted" "$installed" >/dev/null; then
    echo "Installed files match the package byte for byte."
  else
    echo "Installed files differ from the package:"
    diff -rq "$demo/extracted" "$installed" || true
  fi
else
  echo "(nothing installed)"
fi

exit "$status"
