#!/usr/bin/env bash
# Runs a command with Wine's display scale at PERCENT (Wine's DPI setting, which Windows programs
# read as the display's scale), and sets it back to 100% afterwards. A screenshot folder named by
# CINDRAL_SCREENSHOT_DIR (a Windows path on drive Z:) is made first.
# Usage: at_display_scale.sh PERCENT COMMAND...
set -u
percent=$1
shift
set_dpi() {
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
}
trap 'set_dpi 96' EXIT
set_dpi $((96 * percent / 100))
if [ -n "${CINDRAL_SCREENSHOT_DIR:-}" ]; then
  mkdir -p "${CINDRAL_SCREENSHOT_DIR#Z:}"
fi
"$@"
