#!/bin/sh
# run-in-wine.sh PREFIX SECONDS PROGRAM [ARGUMENTS...]: runs one window test
# program on a virtual screen under Wine with the tests' prefix, ends it after
# SECONDS, and stops that prefix's Wine server afterwards, so no process is
# left behind and the next test starts clean.
set -u
prefix=$1
seconds=$2
shift 2
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# A server left by a program run without a display would own this one's windows.
wineserver -k 2>/dev/null
wineserver -w 2>/dev/null
exec xvfb-run -a -s "-screen 0 1600x1200x24 -nolisten tcp" sh -c '
  seconds=$1; shift
  timeout -k 5 "$seconds" wine "$@"
  status=$?
  [ $status -eq 124 ] && echo "FAIL: no result after $seconds s"
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
  exit $status' run-in-wine "$seconds" "$@"
