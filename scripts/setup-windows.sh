#!/usr/bin/env bash
# Sets up what the Windows build needs on Debian 12: the mingw-w64 compilers (posix threads),
# Wine, NSIS and zlib for mingw, and Qt 6 and Google Benchmark for Windows, built once from the
# distribution's own sources into cache folders outside the tree. Safe to rerun: once everything is there
# it returns at once. Prints the Qt folder on its last line.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

scripts/setup-debian.sh g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64 wine nsis dpkg-dev

# Google Benchmark for the benchmarks, from the distribution's source too (about 20 seconds).
benchmark="${CINDRAL_WINDOWS_BENCHMARK:-$HOME/.cache/cindral-editor-build/benchmark-windows}"
if [ ! -f "$benchmark/.complete" ]; then
  work="$benchmark.work"
  rm -rf "$work"
  mkdir -p "$work"
  (
    cd "$work"
    if ! apt-cache showsrc benchmark 2>/dev/null | grep -q '^Package: benchmark'; then
      "$repo/scripts/add-deb-src.sh"
    fi
    apt-get source -qq benchmark
    # GIT_VERSION: the source package is no git checkout; its version is the project's own.
    cmake -S "$(ls -d "$work"/benchmark-*/ | head -n 1)" -B build -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release \
      -DBENCHMARK_ENABLE_TESTING=OFF -DBENCHMARK_ENABLE_GTEST_TESTS=OFF \
      -DBENCHMARK_ENABLE_WERROR=OFF -DBUILD_SHARED_LIBS=OFF -DGIT_VERSION=0.0.0 \
      -DCMAKE_INSTALL_PREFIX="$benchmark" >/dev/null
    cmake --build build >/dev/null
    cmake --install build >/dev/null
  )
  touch "$benchmark/.complete"
  rm -rf "$work"
fi

qt="${CINDRAL_WINDOWS_QT:-$HOME/.cache/cindral-editor-build/qt6-windows}"
if [ -f "$qt/.complete" ]; then
  echo "$qt"
  exit 0
fi

if ! apt-cache showsrc qt6-base 2>/dev/null | grep -q '^Package: qt6-base'; then
  scripts/add-deb-src.sh
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
