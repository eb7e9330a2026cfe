#!/usr/bin/env bash
# Installs every package needed to build, run and test QUARVEL on Debian 12 (ccache, which every
# build folder uses when it is there; the manual and man
# pages, and the package checks, included: python3-markdown, help2man, lintian, desktop-file-utils,
# appstream); with --windows also
# what the Windows build and its tests under Wine need: the MinGW-w64 compiler (posix threads,
# which Qt's build for it assumes), GoogleTest's sources to compile for that target, Wine to run
# the results and NSIS for the installer. Debian's wine64 runs 64-bit programs alone; without i386
# packages `wine` only warns that wine32 is missing, so no foreign architecture is added.
# Idempotent: packages already present are not fetched again.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config ccache
  qt6-base-dev qt6-serialport-dev libgl-dev libqt6sql6-sqlite libqt6sql6-psql postgresql
  libgtest-dev libgmock-dev
  clang clang-format clang-tidy libclang-rt-14-dev
  xvfb xauth imagemagick fonts-dejavu-core
  help2man python3 python3-markdown
  lintian desktop-file-utils appstream
)
# --windows (any position): the Windows build and its tests under Wine.
case " $* " in
*" --windows "*) packages+=(g++-mingw-w64-x86-64-posix googletest wine wine64 nsis) ;;
esac
# --usb (any position): the USB tests' guest (scripts/usb-guest.sh). The kernel package is only a
# file for the guest: its hooks must not build an initramfs for this host.
hooks=()
case " $* " in
*" --usb "*)
  packages+=(qemu-system-x86 linux-image-amd64 busybox-static socat cpio kmod udev)
  hooks=(INITRD=No) # sudo passes no environment on
  ;;
esac

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  sudo=()
elif command -v sudo >/dev/null 2>&1; then
  sudo=(sudo)
else
  echo "install-deps: need root or sudo to install: ${missing[*]}" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" env "${hooks[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}" || {
  # In a container a kernel package's hooks may fail; the guest needs only its files.
  [ ${#hooks[@]} -gt 0 ] && compgen -G '/boot/vmlinuz-*' >/dev/null && compgen -G '/lib/modules/*/kernel' >/dev/null ||
    exit 1
  echo "install-deps: a package's hook failed, but the guest's kernel and modules are there" >&2
}
