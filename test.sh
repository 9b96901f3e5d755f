#!/usr/bin/env bash
# Sets up a Debian 12 machine, builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")"

scripts/setup-debian.sh
cmake --preset default
cmake --build --preset default
ctest --preset default
