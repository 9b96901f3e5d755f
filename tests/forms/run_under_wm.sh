#!/bin/sh
# Runs PROGRAM [ARGS...] on the X server of xvfb-run under the window manager openbox, once
# openbox manages the screen, and exits with the program's status. Run it inside xvfb-run:
#   xvfb-run -a tests/forms/run_under_wm.sh PROGRAM [ARGS...]
set -eu
openbox --sm-disable >/dev/null 2>&1 &
wm=$!
trap 'kill "$wm" 2>/dev/null || true' EXIT
# openbox names itself on the root window once it manages the screen. A bound for a hung
# start only; a busy machine takes a second or two.
tries=0
until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; do
    tries=$((tries + 1))
    if [ "$tries" -gt 1200 ] || ! kill -0 "$wm" 2>/dev/null; then
        echo "run_under_wm: openbox did not start" >&2
        exit 1
    fi
    sleep 0.1
done
status=0
"$@" || status=$?
exit "$status"
