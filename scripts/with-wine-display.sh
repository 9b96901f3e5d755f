#!/usr/bin/env bash
# Runs a command (ctest, say) with a Wine of its own: a Wine prefix kept for the tests outside
# the tree, so the user's own is never touched, and an X server (Xvfb) for the Windows
# programs' windows. Wine's server keeps the display it started with, so it is started here and
# stopped at the end.
set -euo pipefail

export WINEPREFIX="${CINDRAL_WINE_PREFIX:-$HOME/.cache/cindral-editor-build/wine}"
export WINEDEBUG=-all
# No offers to install Wine's .NET and browser engines into a new prefix.
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"

display_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 1 100); do
  [ -s "$display_file" ] && break
  sleep 0.1
done
export DISPLAY=":$(head -n 1 "$display_file")"
rm -f "$display_file"
stop() {
  wineserver -k 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
}
trap stop EXIT
wineserver -k 2>/dev/null || true
# The prefix, made or brought up to date once, before the first test's clock starts.
wineboot -u >/dev/null 2>&1 || true
"$@"
