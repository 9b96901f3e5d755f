#!/usr/bin/env bash
# Sets up a Debian 12 or 13 machine, builds, writes a demo state and starts the editor.
set -euo pipefail
cd "$(dirname "$0")"

scripts/setup-debian.sh
cmake --preset default
cmake --build --preset default

demo=build/demo/demo.000
if [ ! -e "$demo" ]; then
  build/tests/make-demo-state "$demo"
  echo "Wrote a demo state to $demo"
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display (DISPLAY and WAYLAND_DISPLAY are unset): built build/bin/cindral-editor but cannot show it here." >&2
  exit 1
fi
exec build/bin/cindral-editor
