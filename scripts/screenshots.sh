#!/usr/bin/env bash
# Saves a PNG of each dialog a user of the example package sees: the welcome
# dialog with its picture, the directory chooser, the progress dialog, the
# finish dialog, the Setup Info dialog and a message box. Runs the package
# under Wine in a fresh prefix on its own Xvfb display; the images go to
# docs/images as indexed-colour PNGs.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/wine_session.sh
if ! wine_runs; then
  echo "screenshots: Wine cannot run here ($wine_unavailable);" >&2
  echo "screenshots: they need a kernel that runs 32-bit programs" >&2
  exit 1
fi
for tool in Xvfb xdotool import pngquant; do
  command -v "$tool" >/dev/null || { echo "screenshots: $tool is missing" >&2; exit 1; }
done

out=docs/images
work=$(mktemp -d)
unset DISPLAY  # always a display of our own, of a known size, without a window manager
start_wine_session "$work/prefix" 800x600x24
trap 'wine_session_end; rm -rf "$work"' EXIT
mkdir -p "$out"
build/bin/setuppack build examples/package.toml -o "$work/KorvaneSetup.exe" >/dev/null

# Waits for a window whose title matches $1 and saves it as $2.png.
shoot() {
  local id
  for _ in $(seq 100); do
    id=$(xdotool search --name "$1" 2>/dev/null | tail -n1) && [ -n "$id" ] && break
    sleep 0.2
  done
  [ -n "${id:-}" ] || { echo "screenshots: no window \"$1\"" >&2; exit 1; }
  sleep 0.5
  import -window "$id" "$work/$2.png"
  pngquant --force --strip --quality 40-80 16 --output "$out/$2.png" "$work/$2.png"
  echo "$out/$2.png"
}
press() { xdotool key --window "$1" "$2"; }

# An interactive installation: welcome, directory chooser, progress, finish.
wine "$work/KorvaneSetup.exe" &
shoot "Welcome" welcome
press "$(xdotool search --name Welcome | tail -n1)" Return
shoot "Choose Directory" directory
press "$(xdotool search --name 'Choose Directory' | tail -n1)" Return
shoot "Installation" progress
shoot "Setup Complete" finish
press "$(xdotool search --name 'Setup Complete' | tail -n1)" Escape
wait || true

# Info mode lists the archive; a second run over the installation asks first.
wine "$work/KorvaneSetup.exe" /I &
shoot "Setup Info" setup-info
press "$(xdotool search --name 'Setup Info' | tail -n1)" Escape
wait || true
wine "$work/KorvaneSetup.exe" /CD &
shoot "Korvane Online Backup Installat" message-box
press "$(xdotool search --name 'Korvane Online Backup Installat' | tail -n1)" Return
wait || true
