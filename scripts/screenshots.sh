#!/usr/bin/env bash
# Saves a PNG of each dialog a user of the example package sees: the welcome
# dialog with its picture, the directory chooser, the progress dialog, the
# finish dialog, the Setup Info dialog and a message box. Runs the package
# under Wine in a fresh prefix on its own Xvfb display (in the emulated
# machine where this kernel runs no i386 programs); the images go to
# docs/images as indexed-colour PNGs.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/wine_session.sh
run_where_wine_runs "$0" "$@"
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
caption="Korvane Online Backup Installation"
scale=${WINE_TESTS_TIME_SCALE:-1}

# Waits for a visible window titled $1 that was not shot before, and at least
# $2 pixels high when given (the finish dialog and the progress dialog share a
# caption); prints its id. X reuses the ids of a program that ended: each
# run starts with an empty list.
shot=" "
wait_new() {
  local id height
  for _ in $(seq $((100 * scale))); do
    for id in $(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null); do
      [[ $shot == *" $id "* ]] && continue
      height=$(xdotool getwindowgeometry "$id" 2>/dev/null | sed -n 's/.*Geometry: [0-9]*x//p')
      ((${height:-0} >= ${2:-0})) || continue
      echo "$id"
      return 0
    done
    sleep 0.2
  done
  echo "screenshots: no window \"$1\"; shown: $(for w in $(xdotool search --onlyvisible --name . 2>/dev/null); do printf "\"%s\" " "$(xdotool getwindowname "$w")"; done)" >&2
  return 1
}
# (Only the setup program is waited for: Xvfb is a child of this shell too.)
# Saves window $1 as $2.png once it has painted.
save() {
  shot+="$1 "
  sleep $((scale))
  import -window "$1" "$work/$2.png"
  pngquant --force --strip 64 --output "$out/$2.png" "$work/$2.png"
  echo "$out/$2.png"
}
# Types the keys $2... into window $1.
keys() {
  local id=$1
  shift
  xdotool windowfocus "$id"
  sleep 0.3
  xdotool key "$@"
}

# An interactive installation: welcome, the directory chooser behind Browse
# (Wine titles it "Save As"), then Install and the finish dialog.
wine "$work/KorvaneSetup.exe" &
setup=$!
welcome=$(wait_new "$caption")
save "$welcome" welcome
keys "$welcome" alt+b
chooser=$(wait_new "Save As")
save "$chooser" directory
keys "$chooser" Escape
keys "$welcome" Return
finish=$(wait_new "$caption" 200)
save "$finish" finish
keys "$finish" alt+e
wait "$setup" || true

# A second installation over the first, with a member held open by another
# program: the progress dialog stays up behind the message box that names it.
coproc HOLD { wine build/bin/tests/hold_file.exe 'C:\Program Files\Korvane Online Backup\README.TXT'; }
read -r -t $((30 * scale)) held <&"${HOLD[0]}" || true
[[ ${held:-} == ready* ]] || { echo "screenshots: README.TXT could not be held (${held:-no answer})" >&2; exit 1; }
shot=" "
wine "$work/KorvaneSetup.exe" /S &
setup=$!
box=$(wait_new "Korvane Online Backup Installat")
progress=$(wait_new "$caption")
save "$box" message-box
# The box covers the dialog's middle: moved aside, it lets the dialog repaint.
xdotool windowmove "$box" 420 480
save "$progress" progress
keys "$box" Return
wait "$setup" || true
exec {HOLD[1]}>&-
wait "$HOLD_PID" || true

# Info mode lists the archive.
shot=" "
wine "$work/KorvaneSetup.exe" /I &
setup=$!
info=$(wait_new "Setup Info")
save "$info" setup-info
keys "$info" Escape
wait "$setup" || true
