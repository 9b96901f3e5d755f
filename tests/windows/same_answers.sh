#!/usr/bin/env bash
# The decompressor for Windows, run under Wine, gives the same answer as the one built here for
# every input: the same exit status and, when it accepts the state, the same image, byte for
# byte. Usage: same_answers.sh UNVELL UNVELL_EXE STATE...
# Prints "SKIPPED: ..." where the Windows build or Wine is not at hand.
set -u
unvell=$1 exe=$2
shift 2
if [ ! -f "$exe" ] || ! command -v wine >/dev/null; then
  echo "SKIPPED: no Windows build of the decompressor or no Wine"
  exit 0
fi
export WINEDEBUG=-all
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/here" "$work/windows"
cp "$unvell" "$work/here/Unvell"
cp "$exe" "$work/windows/Unvell.exe"
passed=0 failed=0
for state in "$@"; do
  rm -f "$work"/here/newstate.dec "$work"/windows/newstate.dec "$work"/*/flag.unv
  # The same state for both, at a path with spaces and letters beyond ASCII.
  copy="$work/état de $(basename "$state").000"
  cp "$state" "$copy"
  "$work/here/Unvell" -dec "$copy" >/dev/null 2>&1
  here=$?
  wine "$work/windows/Unvell.exe" -dec "Z:${copy//\//\\}" >/dev/null 2>&1
  windows=$?
  if [ "$here" -eq "$windows" ] && { [ "$here" -ne 0 ] || cmp -s "$work/here/newstate.dec" "$work/windows/newstate.dec"; }; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "differs: $(basename "$state") (exit $here here, $windows on Windows)"
  fi
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
