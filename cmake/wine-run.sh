#!/usr/bin/env bash
# Runs a cross-built Windows program under Wine for ctest (the toolchain's emulator). Wine hands
# a QtTest suite's own output to no pipe or file, so a suite writes it to a file of its own,
# printed afterwards; the exit status is the program's.
#
# A suite that has created windows does not always end under Wine once its report is complete
# (it waits on Wine's server). Its report then decides: 20 seconds after the report's last line
# the process is stopped, and the status is that of the report's totals.
#
# With CINDRAL_WINDOWS_LIKE naming the test build's launcher, the program is started through it,
# so it sees the environment Windows would give it rather than the Unix variables.
program=$1
shift
launcher=()
if [ -n "${CINDRAL_WINDOWS_LIKE:-}" ] && [ -f "$CINDRAL_WINDOWS_LIKE" ]; then
  launcher=("$CINDRAL_WINDOWS_LIKE")
fi
unset CINDRAL_WINDOWS_LIKE
case $(basename "$program") in
tst_*) ;;
*) exec wine "${launcher[@]}" "$program" "$@" ;;
esac

out=$(mktemp)
trap 'rm -f "$out"' EXIT
wine "${launcher[@]}" "$program" "$@" -o "$out,txt" &
suite=$!
finished_at=
while kill -0 "$suite" 2>/dev/null; do
  if grep -q '^\*\*\*\*\*\*\*\*\* Finished testing' "$out" 2>/dev/null; then
    finished_at=${finished_at:-$SECONDS}
    if [ $((SECONDS - finished_at)) -ge 20 ]; then
      kill -KILL "$suite" 2>/dev/null
      # Started through the launcher, the suite is a process of its own: the one whose command
      # starts with this program's path (this script's names it later; another checkout's suite
      # has another path).
      pattern=$(printf '%s' "$program" | sed 's/[][\.*^$+?(){}|]/\\&/g')
      pkill -KILL -f "^${pattern}( |\$)" 2>/dev/null
      wait "$suite" 2>/dev/null
      cat "$out"
      echo "wine-run: the suite did not end after its report; its totals decide"
      grep -q '^Totals: [0-9]* passed, 0 failed' "$out"
      exit $?
    fi
  fi
  sleep 1
done
wait "$suite"
status=$?
cat "$out"
exit $status
