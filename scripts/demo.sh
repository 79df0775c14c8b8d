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

mkdir -p "$demo"

echo "== Packing examples/package.toml"
"$bin/setuppack" build examples/package.toml -o "$program"
echo
echo "== Listing $program"
"$bin/setuppack" list "$program"
echo

source scripts/wine_session.sh
# Where Wine cannot run, the host half of the demonstration still does.
if ! wine_runs; then
  echo "== Extracting $program on the host into $demo/extracted"
  rm -rf "$demo/extracted"
  "$bin/setuppack" extract "$program" -d "$demo/extracted"
  (cd "$demo/extracted" && find . -mindepth 1 -printf '%y %8s  %P\n' | sort -k3)
  echo
  echo "demo: this machine cannot run Wine's 32-bit loader (wine --version fails);"
  echo "demo: setup.exe was not run. The package above is complete."
  exit 0
fi

echo "== Creating a fresh 32-bit Wine prefix in $root/$demo/prefix"
start_wine_session "$root/$demo/prefix" 1024x768x24

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
