#!/usr/bin/env bash
# Builds Qt 6.4.2 (qtbase: Core, Gui, Widgets, Sql with its SQLite driver, Test; and qtserialport)
# for x86_64-w64-mingw32 on
# Debian 12 from Debian's own source packages: the Qt that `make windows` builds against when no
# prebuilt copy is at hand (scripts/windows-toolchain.sh). About 25 minutes on two idle cores.
# Needs root or sudo for the build packages; the sources come through a private apt setup.
# Usage: build-qt6-mingw64.sh PREFIX [WORKDIR]
set -euo pipefail
prefix=${1:?install prefix}
work=${2:-$(mktemp -d)}
mkdir -p "$work" && cd "$work"

if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get install -y -q --no-install-recommends g++-mingw-w64-x86-64-posix mingw-w64-tools \
  cmake ninja-build perl qt6-base-dev qt6-base-dev-tools xz-utils dpkg-dev >/dev/null

# Debian's source packages, fetched with a private apt configuration that adds the archives of
# the binary packages as a source of sources: the system's own apt setup stays as it is.
fetch_source() {
  local apt=$work/apt
  local opts=(-o Dir::Etc::SourceList="$apt/src.sources" -o Dir::Etc::SourceParts="$apt/none"
              -o Dir::State::Lists="$apt/lists" -o Dir::Cache="$apt/cache")
  if [ ! -d "$apt/lists" ]; then
    mkdir -p "$apt/lists/partial" "$apt/none" "$apt/cache"
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources > "$apt/src.sources"
    apt-get "${opts[@]}" update -q >/dev/null
  fi
  apt-get "${opts[@]}" source --download-only "$1" >/dev/null
}
if [ ! -d qtbase-everywhere-src-6.4.2 ]; then
  fetch_source qt6-base=6.4.2+dfsg-10
  tar xJf qt6-base_6.4.2+dfsg.orig.tar.xz
fi
# qtserialport: the upstream archive when one is given (QT_SERIALPORT_TARBALL), else Debian's.
if [ ! -d qtserialport-everywhere-src-6.4.2 ]; then
  if [ -n "${QT_SERIALPORT_TARBALL:-}" ] && [ -f "$QT_SERIALPORT_TARBALL" ]; then
    tar xJf "$QT_SERIALPORT_TARBALL"
  else
    fetch_source qt6-serialport=6.4.2-2
    tar xJf qt6-serialport_6.4.2.orig.tar.xz
  fi
fi
# Qt's SQLite driver compiles SQLite's one-file amalgamation, which Debian's qtbase source leaves
# out: made from Debian's sqlite3 source (3.40.1, the version Debian 12 ships; needs tcl).
sqlite_dir=qtbase-everywhere-src-6.4.2/src/3rdparty/sqlite
if [ ! -f "$sqlite_dir/sqlite3.c" ]; then
  "${sudo[@]}" apt-get install -y -q --no-install-recommends tcl >/dev/null
  fetch_source sqlite3
  tar xJf sqlite3_3.40.1.orig.tar.xz
  (mkdir -p sqlite3-3.40.1/bld && cd sqlite3-3.40.1/bld && ../configure >/dev/null && make sqlite3.c >/dev/null)
  mkdir -p "$sqlite_dir"
  cp sqlite3-3.40.1/bld/sqlite3.c sqlite3-3.40.1/bld/sqlite3.h "$sqlite_dir/"
fi

# Qt 6.4.2 compiles the dynamic-GL path of the Windows platform plugin even without OpenGL.
sed -i 's/^#if QT_CONFIG(dynamicgl)$/#if QT_CONFIG(dynamicgl) \&\& QT_CONFIG(opengl)/' \
  qtbase-everywhere-src-6.4.2/src/plugins/platforms/windows/qwindowswindow.cpp

# The MinGW toolchain file lives inside the prefix, so Qt's own toolchain file finds it wherever
# the prefix is unpacked (made relative after the install below).
mkdir -p "$prefix/lib/cmake/Qt6"
cat > "$prefix/lib/cmake/Qt6/mingw64.cmake" <<'TC'
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
TC

cmake -S qtbase-everywhere-src-6.4.2 -B b-base -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$prefix/lib/cmake/Qt6/mingw64.cmake" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DBUILD_SHARED_LIBS=ON \
  -DFEATURE_opengl=OFF -DFEATURE_dbus=OFF -DFEATURE_sql=ON -DFEATURE_sql_psql=OFF -DFEATURE_sql_mysql=OFF -DFEATURE_sql_odbc=OFF \
  -DFEATURE_sql_db2=OFF -DFEATURE_sql_ibase=OFF -DFEATURE_sql_oci=OFF -DFEATURE_system_sqlite=OFF -DFEATURE_network=OFF \
  -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_testlib=ON \
  -DFEATURE_vulkan=OFF -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF \
  -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_freetype=OFF -DFEATURE_system_png=OFF \
  -DFEATURE_system_jpeg=OFF -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF -DFEATURE_sql_sqlite=ON \
  -DFEATURE_system_doubleconversion=OFF -DFEATURE_icu=OFF -DFEATURE_tabletevent=OFF
cmake --build b-base -j"$(nproc)"
cmake --install b-base
cmake -S qtserialport-everywhere-src-6.4.2 -B b-serial -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$prefix/lib/cmake/Qt6/qt.toolchain.cmake" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX="$prefix" -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF
cmake --build b-serial -j"$(nproc)"
cmake --install b-serial
sed -i 's|^set(__qt_initially_configured_toolchain_file ".*")$|set(__qt_initially_configured_toolchain_file "${CMAKE_CURRENT_LIST_DIR}/mingw64.cmake")|' \
  "$prefix/lib/cmake/Qt6/qt.toolchain.cmake"
echo "Qt 6.4.2 for x86_64-w64-mingw32 installed in $prefix"
