#!/usr/bin/env bash
# Runs one command in an emulated x86-64 machine whose kernel runs i386
# programs, for hosts whose own kernel does not (Wine's 32-bit loader is an
# i386 program). The machine is qemu under software emulation with a stock
# Debian kernel; it mounts this host's root over 9p and chroots into it, so
# the command sees the same files at the same paths, and runs in the current
# directory with the current environment (less the display). /tmp, /run and
# /dev/shm are a tmpfs of the machine's own: Unix sockets cannot live on 9p.
#
#   i386-machine.sh prepare        fetches the kernel and makes the initramfs
#                                  (once; under build/i386-machine)
#   i386-machine.sh [--timeout S] [--memory MIB] [--] COMMAND [ARGS...]
#                                  boots, runs COMMAND, powers off; exits with
#                                  COMMAND's status, 125 when the machine could
#                                  not run it (one line on stderr says why),
#                                  124 when the time limit (default 3600 s)
#                                  ran out
#
# Output of COMMAND goes to this script's stdout as it comes. Nothing is left
# behind: qemu is ended on every exit path, and the job folder is removed.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
state=${I386_MACHINE_DIR:-$here/build/i386-machine}
modules=(virtio_ring virtio virtio_pci_legacy_dev virtio_pci_modern_dev virtio_pci
         netfs fscache 9pnet 9pnet_virtio 9p)

fail() {
  echo "i386-machine: $*" >&2
  exit 125
}

prepare() {
  [[ -s $state/vmlinuz && -s $state/initramfs.cpio ]] && return 0
  command -v qemu-system-x86_64 >/dev/null || fail "qemu-system-x86_64 missing (apt-get install qemu-system-x86)"
  [[ -x /bin/busybox ]] || fail "/bin/busybox missing (apt-get install busybox-static)"
  local package work
  package=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-/ {print $2; exit}')
  [[ -n $package ]] || fail "no kernel package: apt-cache knows no linux-image-amd64 (run apt-get update)"
  work=$(mktemp -d)
  trap 'rm -rf "$work"' RETURN
  (cd "$work" && chmod 777 . && apt-get download -q "$package" >/dev/null 2>&1) ||
    fail "apt-get download $package failed"
  dpkg -x "$work"/*.deb "$work/root"
  local release
  release=$(ls "$work/root/lib/modules")
  mkdir -p "$work/initramfs"/{bin,dev,proc,sys,newroot,lib/modules}
  cp /bin/busybox "$work/initramfs/bin/busybox"
  for m in "${modules[@]}"; do
    local file
    file=$(find "$work/root/lib/modules/$release" -name "$m.ko" | head -n 1)
    [[ -n $file ]] || fail "module $m missing from $package"
    cp "$file" "$work/initramfs/lib/modules/"
  done
  cat >"$work/initramfs/init" <<EOF
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
for m in ${modules[*]}; do insmod /lib/modules/\$m.ko || echo "i386-machine: insmod \$m failed"; done
job=\$(sed -n 's/.*i386job=\([^ ]*\).*/\1/p' /proc/cmdline)
if mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000,cache=loose hostroot /newroot; then
  for d in proc sys dev; do mount --move /\$d /newroot/\$d 2>/dev/null || mount --bind /\$d /newroot/\$d; done
  mkdir -p /newroot/dev/pts /newroot/dev/shm
  mount -t devpts devpts /newroot/dev/pts
  mount -t tmpfs -o mode=1777 tmpfs /newroot/dev/shm
  mount -t tmpfs -o mode=1777 tmpfs /newroot/tmp
  mount -t tmpfs -o mode=755 tmpfs /newroot/run
  ip link set lo up 2>/dev/null
  chroot /newroot /bin/bash "\$job/job.sh"
  sync
  echo o >/newroot/proc/sysrq-trigger
else
  echo "i386-machine: the host's root could not be mounted over 9p"
fi
echo o >/proc/sysrq-trigger
EOF
  chmod 755 "$work/initramfs/init"
  mkdir -p "$state"
  (cd "$work/initramfs" && find . | /bin/busybox cpio -o -H newc 2>/dev/null) >"$state/initramfs.cpio.new"
  cp "$work/root/boot/vmlinuz-$release" "$state/vmlinuz.new"
  mv "$state/initramfs.cpio.new" "$state/initramfs.cpio"
  mv "$state/vmlinuz.new" "$state/vmlinuz"
  echo "$package" >"$state/kernel"
}

run() {
  local timeout=3600 memory=6144
  while [[ $# -gt 0 ]]; do
    case $1 in
      --timeout) timeout=$2; shift 2 ;;
      --memory) memory=$2; shift 2 ;;
      --) shift; break ;;
      *) break ;;
    esac
  done
  [[ $# -gt 0 ]] || fail "no command given"
  command -v qemu-system-x86_64 >/dev/null || fail "qemu-system-x86_64 missing (apt-get install qemu-system-x86)"
  prepare
  local available
  available=$(awk '/MemAvailable/ {print int($2 / 1024)}' /proc/meminfo)
  ((available >= memory + 512)) ||
    fail "not enough free memory: the machine needs ${memory} MiB and ${available} MiB are available"

  # The job folder is on the host's disk (the machine's /tmp is its own).
  job=$(mktemp -d /var/tmp/i386-machine.XXXXXX)
  qemu_pid=
  # shellcheck disable=SC2317
  cleanup() {
    if [[ -n $qemu_pid ]]; then
      kill "$qemu_pid" 2>/dev/null || true
      wait "$qemu_pid" 2>/dev/null || true
    fi
    rm -rf "$job"
  }
  trap cleanup EXIT
  trap 'exit 130' INT TERM

  {
    echo '#!/bin/bash'
    # The host's environment, less what names the host's display and session.
    export -p | grep -v -E '^declare -x (DISPLAY|XAUTHORITY|WAYLAND_DISPLAY|DBUS_SESSION_BUS_ADDRESS|XDG_RUNTIME_DIR|TMPDIR|SSH_[A-Z_]*|OLDPWD)='
    echo 'export I386_MACHINE=1'
    printf 'cd %q || exit 125\n' "$PWD"
    # The second serial port carries the command's output; the first, the
    # firmware's and the kernel's messages, stays in the job folder.
    echo 'stty -onlcr </dev/ttyS1 2>/dev/null'
    # Through a pipe, as when the host's output is one: a program that asks
    # whether it writes to a terminal is not told yes by the serial port.
    printf '%q ' "$@"
    echo '</dev/null 2>&1 | cat >/dev/ttyS1'
    printf 'echo "${PIPESTATUS[0]}" >%q\n' "$job/status"
  } >"$job/job.sh"

  local cpu=max,-smap,-smep,-pku
  qemu-system-x86_64 -accel tcg,thread=multi -smp 2 -m "$memory" -cpu "$cpu" \
    -nographic -no-reboot -nic none -monitor none \
    -serial file:"$job/console.log" -serial stdio \
    -kernel "$state/vmlinuz" -initrd "$state/initramfs.cpio" \
    -append "console=ttyS0 quiet loglevel=3 panic=-1 i386job=$job" \
    -virtfs local,path=/,mount_tag=hostroot,security_model=passthrough,multidevs=remap \
    </dev/null 2>"$job/qemu.log" &
  qemu_pid=$!
  local waited=0
  while kill -0 "$qemu_pid" 2>/dev/null; do
    if ((waited >= timeout * 10)); then
      echo "i386-machine: the command did not end within ${timeout} s; the machine was stopped" >&2
      exit 124
    fi
    sleep 0.1
    waited=$((waited + 1))
  done
  wait "$qemu_pid" || true
  qemu_pid=
  if [[ ! -s $job/status ]]; then
    local why
    why=$(grep -v '^$' "$job/qemu.log" | head -n 1)
    [[ -n $why ]] || why=$(grep -a -i -E 'panic|oops|i386-machine' "$job/console.log" | head -n 1)
    fail "the machine ended without the command's exit status${why:+ ($why)}"
  fi
  return "$(cat "$job/status")"
}

case ${1:-} in
  prepare) prepare ;;
  *) run "$@" ;;
esac
