#!/usr/bin/env bash
# Sets up what the Windows build needs on Debian 12: the mingw-w64 compilers (posix threads),
# Wine, NSIS and zlib for mingw, and Qt 6 for Windows, built once from the distribution's own
# qtbase source into a cache folder outside the tree. Safe to rerun: once everything is there
# it returns at once. Prints the Qt folder on its last line.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

scripts/setup-debian.sh g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64 wine nsis dpkg-dev

qt="${CINDRAL_WINDOWS_QT:-$HOME/.cache/cindral-editor-build/qt6-windows}"
if [ -f "$qt/.complete" ]; then
  echo "$qt"
  exit 0
fi

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  sudo=(sudo)
fi
# The source of the Qt the distribution ships: a deb-src entry copied from the system's own
# entry, so it names no other place.
if ! apt-cache showsrc qt6-base 2>/dev/null | grep -q '^Package: qt6-base'; then
  src=/etc/apt/sources.list.d/cindral-deb-src.sources
  sed -e 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
    "${sudo[@]}" tee "$src" >/dev/null
  "${sudo[@]}" apt-get update -qq
fi

work="$qt.work"
mkdir -p "$work"
cd "$work"
if ! ls -d qt6-base-*/ >/dev/null 2>&1; then
  apt-get source -qq qt6-base
fi
source_dir=$(ls -d "$work"/qt6-base-*/ | head -n 1)

# Core, Gui, Widgets, Test and the Windows platform plugin, static; the host's moc, rcc and uic
# come from Debian's Qt. The distribution's source lacks the tablet header.
cmake -S "$source_dir" -B "$work/build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" \
  -DCMAKE_INSTALL_PREFIX="$qt" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DQT_QMAKE_TARGET_MKSPEC=win32-g++ -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
  -DFEATURE_tabletevent=OFF -DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF \
  -DFEATURE_opengl=OFF -DFEATURE_printsupport=OFF -DFEATURE_xml=OFF -DINPUT_opengl=no
cmake --build "$work/build"
cmake --install "$work/build"
touch "$qt/.complete"
rm -rf "$work"
echo "$qt"
