# A fresh 32-bit Wine prefix for the scripts that run Windows programs (demo,
# screenshots, install_bench, decode_bench). Source it, then:
#
#   run_where_wine_runs SCRIPT [ARGS...]
#                        returns where Wine runs here; otherwise runs SCRIPT
#                        again in the emulated machine (scripts/i386-machine.sh)
#                        and exits with its status (WINE_MACHINE=emulated:
#                        always). A script whose Windows half needs Wine calls
#                        it first.
#   wine_runs            true when Wine can start here; otherwise sets
#                        wine_unavailable to Wine's own complaint. Wine's
#                        loader for 32-bit programs is an i386 program itself:
#                        a kernel without i386 support refuses it ("Exec
#                        format error").
#   start_wine_session PREFIX [SCREEN]
#                        makes PREFIX a new win32 prefix (removing what was
#                        there), WINEDEBUG=-all; with SCREEN (such as
#                        1024x768x24) and no DISPLAY, starts an Xvfb of its own
#                        and leaves windows unmanaged (no window manager runs,
#                        and Wine would wait for one whenever a window is
#                        hidden). On exit it ends this prefix's wineserver and
#                        its own Xvfb, nothing else; a script that sets its own
#                        EXIT trap calls wine_session_end from it.

wine_runs() {
  if wine --version >/dev/null 2>&1; then
    return 0
  fi
  wine_unavailable=$(wine --version 2>&1 | head -n 1 || true)
  return 1
}

run_where_wine_runs() {
  local why="asked for by WINE_MACHINE=emulated"
  if [[ ${WINE_MACHINE:-} != emulated || -n ${I386_MACHINE:-} ]]; then
    wine_runs && return 0
    if [[ -n ${I386_MACHINE:-} ]]; then
      echo "Wine does not start even in the emulated machine: $wine_unavailable" >&2
      exit 1
    fi
    why="Wine cannot run on this kernel: $wine_unavailable"
  fi
  echo "== Running $1 in the emulated i386 machine ($why)"
  local status=0
  "$(dirname "${BASH_SOURCE[0]}")/i386-machine.sh" "$@" || status=$?
  exit "$status"
}

wine_session_xvfb=

wine_session_end() {
  wineserver -k 2>/dev/null || true
  if [[ -n $wine_session_xvfb ]]; then
    kill "$wine_session_xvfb" 2>/dev/null || true
    wait "$wine_session_xvfb" 2>/dev/null || true
    wine_session_xvfb=
  fi
}

start_wine_session() {
  export WINEARCH=win32 WINEPREFIX=$1 WINEDEBUG=-all
  export WINEDLLOVERRIDES='mscoree,mshtml=;winemenubuilder.exe=d'
  trap wine_session_end EXIT
  rm -rf "$WINEPREFIX"
  mkdir -p "$(dirname "$WINEPREFIX")"
  local screen=${2:-}
  if [[ -n $screen && -z ${DISPLAY:-} ]]; then
    # Xvfb takes a free display and writes its number once it accepts clients.
    local number
    number=$(mktemp)
    Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp 3>"$number" 2>/dev/null &
    wine_session_xvfb=$!
    for _ in $(seq 100); do
      [[ -s $number ]] && break
      sleep 0.2
    done
    export DISPLAY=:$(head -n 1 "$number")
    rm -f "$number"
  fi
  wineboot --init >/dev/null 2>&1 || true
  wineserver -w || true
  if [[ -n $screen ]]; then
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
  fi
}
