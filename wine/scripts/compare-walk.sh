#!/usr/bin/env bash
# Runs one user script on the stand-in and under Wine and requires the same
# report, the same diagnostics on standard output and the same exit code:
#   compare-walk.sh STANDIN_PROGRAM STANDIN_DIR TESTBED_DIR PREFIX_DIR WORK_DIR SCRIPT
# STANDIN_DIR is the Linux build folder that holds the stand-in driver. A
# script named no-driver-file.script runs both programs from folders without
# the driver file.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-common.sh"
require_tools wine wineserver Xvfb
program=$(realpath -m "${1:?usage: compare-walk.sh STANDIN_PROGRAM STANDIN_DIR TESTBED_DIR PREFIX_DIR WORK_DIR SCRIPT}")
standin_dir=$(realpath -m "${2:?}")
testbed=$(realpath -m "${3:?}")
prefix=$(realpath -m "${4:?}")
work=$(realpath -m "${5:?}")
script=$(realpath -m "${6:?}")

require_testbed "$testbed" QUORVENAL.sys qvhardware.dll quorvenal.exe
[ -f "$prefix/system.reg" ] || { echo "FAIL: no Wine prefix in $prefix"; exit 1; }

rm -rf "$work"
mkdir -p "$work"
# The stand-in's own driver image stays loaded while the program's device
# handle is open, which the program never closes; that is not this test's
# business, so the leak check is off here.
no_driver=""
case $(basename "$script") in no-driver-file.script) no_driver=1 ;; esac
if [ -n "$no_driver" ]; then
  # The folder's path is in the diagnostics: the same folder both ways.
  standin_dir="$work/wine/run"
  mkdir -p "$standin_dir"
fi
(cd "$standin_dir" && ASAN_OPTIONS=detect_leaks=0 "$program" --script "$script" \
   --report "$work/standin-report.txt" >"$work/standin-stdout.txt" 2>"$work/standin-stderr.txt")
standin_status=$?
NO_DRIVER_FILE=$no_driver "$here/script-under-wine.sh" "$testbed" "$prefix" "$work/wine" "$script"
wine_status=$?

failures=0
echo "exit codes: stand-in $standin_status, wine $wine_status"
[ "$standin_status" = "$wine_status" ] || { echo "FAIL: the exit codes differ"; failures=1; }
if ! diff -u --label stand-in --label wine "$work/standin-report.txt" "$work/wine/report.txt"; then
  echo "FAIL: the reports differ"
  failures=1
fi
if ! diff -u --label stand-in --label wine "$work/standin-stdout.txt" "$work/wine/stdout.txt"; then
  echo "FAIL: the diagnostics differ"
  failures=1
fi
[ $failures -eq 0 ] || exit 1
echo "same report ($(wc -l <"$work/wine/report.txt") lines) and diagnostics on the stand-in and under Wine"
