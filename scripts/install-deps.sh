#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine, once:
# the mingw-w64 cross compiler, g++'s 32-bit libraries and valgrind (the
# decoder's i686 Linux build and its instruction counts, `make bench`), Wine
# with its 32-bit loader, Xvfb and the host libraries, node-pkware (the
# reference implode/explode used by the tests), and qemu with a stock Debian
# kernel for hosts whose kernel runs no i386 programs (scripts/i386-machine.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi

packages=(g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-multilib wine wine32:i386 xvfb xdotool
          cmake g++ make pkg-config libgtest-dev libbenchmark-dev libcli11-dev
          libtomlplusplus-dev clang libclang-rt-14-dev nodejs npm
          libssl-dev nlohmann-json3-dev libyaml-cpp-dev osslsigncode openssl dpkg-dev
          qemu-system-x86 busybox-static imagemagick pngquant valgrind)

# node and npm may come from elsewhere on this machine: they count as missing
# only when the commands are absent.
missing=()
for p in "${packages[@]}"; do
  case "$p" in
    nodejs) command -v node >/dev/null && continue ;;
    npm) command -v npm >/dev/null && continue ;;
  esac
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  # A mirror in the middle of a sync fails an index now and then: try again,
  # and go on with what was fetched when it keeps failing.
  for attempt in 1 2 3; do
    $SUDO apt-get update -qq && break
    echo "apt-get update failed (attempt $attempt)"
    sleep $((attempt * 10))
  done
  install=(env DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends)
  if ! "${install[@]}" "${missing[@]}" >/dev/null; then
    # The i386 packages must match the versions of their amd64 twins. When
    # one index of the security archive failed above, its newer amd64
    # versions have no i386 twins to pair with: take the release's own
    # versions instead (signed indexes either way), and leave the security
    # updates to the next run.
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    echo "Installing from $codename's own versions"
    "${install[@]}" -t "$codename" "${missing[@]}" >/dev/null
  fi
fi

if [ ! -d tests/oracle/node_modules/node-pkware ]; then
  echo "Installing node-pkware"
  (cd tests/oracle && npm install --no-audit --no-fund --silent)
fi

# Wine's loader for 32-bit programs is an i386 program: where this kernel
# refuses it, the Windows half runs in the emulated machine, whose kernel and
# initramfs are made here once.
if ! wine --version >/dev/null 2>&1; then
  $SUDO scripts/i386-machine.sh prepare
fi
