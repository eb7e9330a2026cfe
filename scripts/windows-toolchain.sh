#!/usr/bin/env bash
# Makes Qt 6.4.2 for x86_64-w64-mingw32 available and prints the CMake toolchain file to build
# QUARVEL for Windows with. A prebuilt archive (qt6.4.2-mingw64.tar.xz) is unpacked when one is
# found; otherwise scripts/build-qt6-mingw64.sh builds the same from Debian's sources (about half
# an hour on two cores, once). Either way the result is kept in the cache folder and reused.
#   QUARVEL_QT_MINGW       where Qt goes   (default ~/.cache/quarvel/qt6-mingw64)
#   QUARVEL_TOOLCHAINS     a folder holding the prebuilt archive (and qtserialport's sources)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
prefix=${QUARVEL_QT_MINGW:-${XDG_CACHE_HOME:-$HOME/.cache}/quarvel/qt6-mingw64}
toolchain=$prefix/lib/cmake/Qt6/qt.toolchain.cmake

# A Qt unpacked from the earlier archive has no Qt SQL, which the history needs: it is this
# script's own cache, so it is unpacked anew.
if [ -f "$toolchain" ] && [ ! -f "$prefix/bin/Qt6Sql.dll" ]; then
  echo "windows-toolchain: $prefix has no Qt SQL (an earlier archive); unpacking anew" >&2
  rm -rf "$prefix"
fi

if [ ! -f "$toolchain" ]; then
  # Where the user says, or beside the checkout, where a shared machine keeps it.
  archive=
  searched=()
  [ -n "${QUARVEL_TOOLCHAINS:-}" ] && searched+=("$QUARVEL_TOOLCHAINS")
  searched+=("$(cd "$here/../.." && pwd)/shared/toolchains")
  for dir in "${searched[@]}"; do
    [ -z "$archive" ] && [ -f "$dir/qt6.4.2-mingw64.tar.xz" ] && archive=$dir/qt6.4.2-mingw64.tar.xz
    # The source build takes qtserialport from here when it is there.
    if [ -z "${QT_SERIALPORT_TARBALL:-}" ] && [ -f "$dir/qtserialport-everywhere-src-6.4.2.tar.xz" ]; then
      export QT_SERIALPORT_TARBALL=$dir/qtserialport-everywhere-src-6.4.2.tar.xz
    fi
  done
  # A folder that holds something else is never wiped: it may be one the user named by mistake.
  if [ -e "$prefix" ] && [ -n "$(ls -A "$prefix" 2>/dev/null)" ]; then
    echo "windows-toolchain: $prefix holds no Qt for MinGW but is not empty; remove it or set QUARVEL_QT_MINGW" >&2
    exit 1
  fi
  rm -rf "$prefix" "$prefix.partial"
  mkdir -p "$prefix.partial"
  if [ -n "$archive" ]; then
    echo "windows-toolchain: unpacking $archive" >&2
    tar xJf "$archive" -C "$prefix.partial" --strip-components=1
  else
    echo "windows-toolchain: no qt6.4.2-mingw64.tar.xz in ${searched[*]} (set QUARVEL_TOOLCHAINS to its folder);" \
      "building Qt for MinGW from source (about 30 minutes)" >&2
    work=$(mktemp -d)
    "$here/build-qt6-mingw64.sh" "$prefix.partial" "$work" >&2
    rm -rf "$work"
  fi
  # Only a complete tree takes the final name, so an interrupted run starts again next time.
  mv "$prefix.partial" "$prefix"
fi
echo "$toolchain"
