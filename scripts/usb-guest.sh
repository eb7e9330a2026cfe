#!/usr/bin/env bash
# shellcheck disable=SC2054 # QEMU's options hold commas
# Runs a command in a QEMU guest on the Linux kernel's own USB serial drivers, with emulated FTDI
# adapters (FT232, USB 0403:6001) that the command can pull and plug in again.
#
#   scripts/usb-guest.sh [--adapter SERIAL[=TARGET]]... [--share DIR]... -- COMMAND [ARG]...
#
# The guest runs Debian's kernel (linux-image-amd64) with a busybox initramfs that loads the
# modules it needs, then sees the host's root read-only with a tmpfs on top, so it runs this very
# build. Each --share DIR is mounted writable at the same path. systemd-udevd runs when the host
# has it, so /dev/serial/by-id and the USB properties exist as on a technician's machine.
#
# Each adapter's host end is a serial device on the host (a pty: `quarvelctl simulate --pty`);
# the adapter is plugged in while its host end is connected. In the guest, `usb-adapter plug
# SERIAL [TARGET]` connects it (to TARGET, a host path, when given) and prints the tty it got;
# `usb-adapter unplug SERIAL` pulls it; each returns once the guest's kernel has seen it.
# Adapters given without a TARGET start unplugged.
#
# Exits with the command's exit code (125 when the guest never ran it). KVM when it works,
# software emulation otherwise. USB_GUEST_MEMORY (MB, default 768), USB_GUEST_TIMEOUT (seconds,
# default 900). Every process it starts is ended on the way out.
set -euo pipefail

adapters=() # SERIAL=TARGET
shares=()
while [ $# -gt 0 ]; do
  case $1 in
  --adapter) adapters+=("$2"); shift 2 ;;
  --share) shares+=("$(realpath "$2")"); shift 2 ;;
  --) shift; break ;;
  *) echo "usb-guest: unknown option $1 (see the head of $0)" >&2; exit 125 ;;
  esac
done
[ $# -gt 0 ] || { echo "usb-guest: no command given" >&2; exit 125; }

kernel=$(ls -1 /boot/vmlinuz-* 2>/dev/null | sort -V | tail -n 1)
[ -n "$kernel" ] || { echo "usb-guest: no kernel in /boot (scripts/install-deps.sh --usb)" >&2; exit 125; }
version=${kernel#/boot/vmlinuz-}
modules=(virtio_pci 9pnet_virtio 9p overlay xhci_pci ftdi_sio)
for tool in qemu-system-x86_64 busybox socat cpio; do
  command -v "$tool" >/dev/null || { echo "usb-guest: $tool missing (scripts/install-deps.sh --usb)" >&2; exit 125; }
done

run=$(mktemp -d /tmp/usb-guest.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for f in "$run"/plug-*.pid; do [ -f "$f" ] && kill "$(cat "$f")" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$run"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The initramfs: busybox and the modules in load order, built once per kernel and kept.
cache=${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/quarvel-usb-guest
initrd=$cache/initrd-$version.cpio.gz
if [ ! -f "$initrd" ] || [ "$initrd" -ot "$0" ]; then
  mkdir -p "$cache"
  root=$run/initrd
  mkdir -p "$root"/{bin,dev,proc,sys,host,rw,newroot,lib/modules}
  cp "$(command -v busybox)" "$root/bin/busybox"
  : >"$root/modules"
  for m in "${modules[@]}"; do
    modprobe -S "$version" --show-depends "$m" | awk '$1 == "insmod" { print $2 }'
  done | awk '!seen[$0]++' | while read -r ko; do
    cp "$ko" "$root/lib/modules/"
    echo "/lib/modules/$(basename "$ko")" >>"$root/modules"
  done
  cat >"$root/init" <<'EOF'
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc; mount -t sysfs sys /sys; mount -t devtmpfs dev /dev
while read -r ko; do insmod "$ko" || echo "usb-guest: $ko did not load" >/dev/console; done </modules
run=$(sed 's/.*usbguest.run=\([^ ]*\).*/\1/' /proc/cmdline)
mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=262144 hostroot /host
mount -t tmpfs -o size=50% rw /rw && mkdir -p /rw/upper /rw/work
mount -t overlay -o lowerdir=/host,upperdir=/rw/upper,workdir=/rw/work overlay /newroot
mkdir -p "/newroot$run" && mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 run "/newroot$run"
for m in proc sys dev; do mount --move /$m /newroot/$m; done
exec switch_root /newroot /bin/bash "$run/stage2"
EOF
  chmod +x "$root/init"
  (cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$initrd.tmp"
  mv "$initrd.tmp" "$initrd"
  rm -rf "$root"
fi

# What runs in the guest after the switch to the host's root.
printf '%q ' "$@" >"$run/command"
printf '%s\n' "${shares[@]}" >"$run/shares"
for a in "${adapters[@]}"; do if [ "$a" != "${a%%=*}" ]; then echo "${a%%=*}"; fi; done >"$run/plugged"
mkdir -p "$run/bin"
cat >"$run/stage2" <<EOF
run=$run
EOF
cat >>"$run/stage2" <<'EOF'
set -u
echo "usb-guest: booted in $(cut -d' ' -f1 /proc/uptime) s" >/dev/console
mount -t tmpfs tmpfs /run; mkdir -p /dev/pts; mount -t devpts devpts /dev/pts
i=0
while read -r dir; do
  [ -n "$dir" ] || continue
  mkdir -p "$dir" && mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 "share$i" "$dir"
  i=$((i + 1))
done <"$run/shares"
if [ -x /lib/systemd/systemd-udevd ]; then
  # No trigger: the adapters are plugged in below, and their hotplug events are all it needs.
  /lib/systemd/systemd-udevd --daemon >/dev/null 2>&1
fi
stty -F /dev/ttyS1 raw -echo
stty -F /dev/console -onlcr 2>/dev/null
export PATH="$run/bin:$PATH" USB_GUEST_CONTROL=/dev/ttyS1 HOME=/root
cd "$run"
while read -r serial; do
  [ -n "$serial" ] && usb-adapter plug "$serial" >/dev/null
done <"$run/plugged"
echo "usb-guest: ready at $(cut -d' ' -f1 /proc/uptime) s" >/dev/console
bash -c "$(cat "$run/command")" </dev/null >/dev/console 2>&1
echo $? >"$run/rc"
sync
exec /bin/busybox poweroff -f
EOF
cat >"$run/bin/usb-adapter" <<'EOF'
#!/bin/bash
# usb-adapter plug SERIAL [TARGET] | unplug SERIAL: asks the host, then waits for the kernel.
set -euo pipefail
tty_of() { # the ttyUSB whose adapter has serial number $1
  local t
  for t in /sys/bus/usb-serial/devices/ttyUSB*; do
    [ -e "$t" ] || continue
    [ "$(cat "$(readlink -f "$t")/../../serial" 2>/dev/null)" = "$1" ] && { basename "$t"; return 0; }
  done
  return 1
}
exec 3<>"$USB_GUEST_CONTROL"
echo "$*" >&3
read -r answer <&3
[ "$answer" = ok ] || { echo "usb-adapter: $answer" >&2; exit 1; }
for _ in $(seq 1 600); do
  if [ "$1" = plug ]; then
    if t=$(tty_of "$2") && [ -c "/dev/$t" ]; then
      command -v udevadm >/dev/null && udevadm settle 2>/dev/null
      echo "$t"; exit 0
    fi
  elif ! tty_of "$2" >/dev/null; then
    command -v udevadm >/dev/null && udevadm settle 2>/dev/null
    exit 0
  fi
  sleep 0.05
done
echo "usb-adapter: $2 did not $1 within 30 s" >&2
exit 1
EOF
chmod +x "$run/bin/usb-adapter" "$run/stage2"

# The adapters: each a chardev socket that its host end connects to; the connection is the plug.
args=(-device qemu-xhci,id=xhci)
declare -A target index
n=0
for a in "${adapters[@]}"; do
  serial=${a%%=*}
  [[ $serial =~ ^[A-Za-z0-9]+$ ]] || { echo "usb-guest: adapter serial '$serial': letters and digits only" >&2; exit 125; }
  [ "$a" != "$serial" ] && target[$serial]=${a#*=}
  index[$serial]=$n
  args+=(-chardev "socket,id=usb$n,path=$run/usb$n.sock,server=on,wait=off"
    -device "usb-serial,bus=xhci.0,chardev=usb$n,serial=$serial,id=adapter$n")
  n=$((n + 1))
done
i=0
for dir in "${shares[@]}"; do
  args+=(-fsdev "local,id=share$i,path=$dir,security_model=none" -device "virtio-9p-pci,fsdev=share$i,mount_tag=share$i")
  i=$((i + 1))
done

plug() { # plug SERIAL [TARGET]
  local serial=$1 t=${2:-${target[$1]:-}}
  [ -n "${index[$serial]:-}" ] || { echo "no adapter $serial"; return; }
  [ -n "$t" ] || { echo "no host end for $serial"; return; }
  [ -e "$t" ] || { echo "$t is not there"; return; }
  target[$serial]=$t
  unplug "$serial" >/dev/null
  socat "UNIX-CONNECT:$run/usb${index[$serial]}.sock" "FILE:$t,raw,echo=0" 2>>"$run/socat.log" &
  echo $! >"$run/plug-$serial.pid"
  echo ok
}
unplug() { # unplug SERIAL
  local f=$run/plug-$1.pid
  [ -n "${index[$1]:-}" ] || { echo "no adapter $1"; return; }
  if [ -f "$f" ]; then
    kill "$(cat "$f")" 2>/dev/null || true
    rm -f "$f"
  fi
  echo ok
}

mkfifo "$run/control.in" "$run/control.out"
qemu_args=(-nodefaults -no-user-config -display none -no-reboot -m "${USB_GUEST_MEMORY:-768}" -smp 1
  -kernel "$kernel" -initrd "$initrd"
  -append "console=ttyS0 quiet loglevel=1 panic=-1 usbguest.run=$run"
  -chardev stdio,id=console,signal=off -serial chardev:console
  -chardev "pipe,id=control,path=$run/control" -serial chardev:control
  -fsdev local,id=hostroot,path=/,security_model=none,readonly=on,multidevs=remap -device virtio-9p-pci,fsdev=hostroot,mount_tag=hostroot
  -fsdev "local,id=run,path=$run,security_model=none" -device virtio-9p-pci,fsdev=run,mount_tag=run
  -nic none "${args[@]}")

# KVM only when a guest really runs on it (a nested /dev/kvm may refuse the guest CPU).
accel=(-accel tcg -cpu max)
if [ -r /dev/kvm ] && [ -w /dev/kvm ] &&
  bash -c 'timeout 20 qemu-system-x86_64 -accel kvm -cpu host -nodefaults -display none -no-reboot -m 128 \
    -kernel "$1" -append "panic=-1 loglevel=0" >/dev/null 2>&1 </dev/null' probe "$kernel" 2>/dev/null; then
  accel=(-accel kvm -cpu host)
fi

timeout "${USB_GUEST_TIMEOUT:-900}" qemu-system-x86_64 "${accel[@]}" "${qemu_args[@]}" </dev/null &
qemu=$!
pids+=("$qemu")

# The guest's requests, one a line, each answered with "ok" or what went wrong.
(
  exec 7<>"$run/control.out" 8<>"$run/control.in"
  while IFS= read -r line <&7; do
    read -r verb serial t <<<"$line"
    case $verb in
    plug) plug "$serial" "$t" >&8 ;;
    unplug) unplug "$serial" >&8 ;;
    *) echo "unknown request '$verb'" >&8 ;;
    esac
  done
) &
pids+=($!)

rc=0
wait "$qemu" || rc=$?
[ "$rc" = 124 ] && echo "usb-guest: the guest ran longer than ${USB_GUEST_TIMEOUT:-900} s; stopped" >&2
if [ -f "$run/rc" ]; then
  exit "$(cat "$run/rc")"
fi
echo "usb-guest: the guest did not run the command (qemu exit $rc); see above" >&2
exit 125
