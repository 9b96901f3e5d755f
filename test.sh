#!/usr/bin/env bash
# Sets up a Debian 12 machine, builds, and runs every test: first the release build, then the
# whole suite again under AddressSanitizer and UBSan.
set -euo pipefail
cd "$(dirname "$0")"

# Beyond the build: a bare X server for the window test and a window manager (openbox, with
# xprop to see it start) for the test under one, clang-format for the format check, dpkg-dev for
# the .deb's dependencies, the validators of the desktop entry and metainfo, lintian for the .deb.
scripts/setup-debian.sh xvfb xauth openbox x11-utils clang-format dpkg-dev desktop-file-utils \
  appstream lintian
scripts/check-format.sh
cmake --preset default
cmake --build --preset default
ctest --preset default

cmake --preset asan
cmake --build --preset asan
ctest --preset asan
