#!/bin/sh
# Runs a cross-built Windows program under Wine for ctest (the toolchain's emulator). Wine hands
# a QtTest suite's own output to no pipe or file, so a suite writes it to a file of its own,
# printed afterwards; the exit status is the program's.
program=$1
shift
case $(basename "$program") in
tst_*)
  out=$(mktemp)
  wine "$program" "$@" -o "$out,txt"
  status=$?
  cat "$out"
  rm -f "$out"
  exit $status
  ;;
*)
  exec wine "$program" "$@"
  ;;
esac
