#!/usr/bin/env bash
# Sets up a Debian 12 or 13 machine, builds, and runs every test: first the release build, then
# the whole suite again under AddressSanitizer and UBSan (not with --release-only).
#
# With --windows: cross-builds every program, suite and package for Windows (Qt for Windows is
# built once into a cache folder, see scripts/setup-windows.sh) and runs the suites under Wine.
# With --debian13: the release build and every suite inside a minimal Debian 13 root (made once
# into a cache folder, see scripts/test-debian13.sh), whatever release this machine runs.
set -euo pipefail
cd "$(dirname "$0")"

if [ "${1:-}" = "--debian13" ]; then
  exec scripts/test-debian13.sh
fi

if [ "${1:-}" = "--windows" ]; then
  scripts/setup-debian.sh xvfb xauth xdotool zip unzip e2fsprogs
  qt=$(scripts/setup-windows.sh | tail -n 1)
  cmake --preset windows -DCINDRAL_WINDOWS_QT="$qt"
  cmake --build --preset windows
  scripts/with-wine-display.sh ctest --preset windows
  # Where the Linux build is there too, both give the same answers.
  if [ -f build/CTestTestfile.cmake ]; then
    scripts/with-wine-display.sh ctest --preset default -R unvell_same_on_windows
  fi
  exit 0
fi

# Beyond the build: a bare X server for the window test and a window manager (openbox, with
# xprop to see it start) for the test under one, clang-format for the format check, dpkg-dev for
# the .deb's dependencies, the validators of the desktop entry and metainfo, lintian for the .deb.
scripts/setup-debian.sh xvfb xauth openbox x11-utils clang-format dpkg-dev desktop-file-utils \
  appstream lintian
scripts/check-format.sh
cmake --preset default
cmake --build --preset default
ctest --preset default
if [ "${1:-}" = "--release-only" ]; then
  exit 0
fi

cmake --preset asan
cmake --build --preset asan
ctest --preset asan
