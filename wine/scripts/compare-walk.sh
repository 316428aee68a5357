#!/usr/bin/env bash
# Runs one user script on the stand-in and on the shipped files of one
# architecture under Wine (tools/run-windows.sh; the 32-bit files, or with
# --arch x64 the 64-bit ones) and requires the same report, the same
# diagnostics on standard output and the same exit code, and that the files
# that ran under Wine are the shipped ones byte for byte:
#   compare-walk.sh [--arch x86|x64] STANDIN_PROGRAM STANDIN_DIR SHIPPED_DIR TESTBED_DIR PREFIX_DIR WORK_DIR SCRIPT
# STANDIN_DIR is the Linux build folder that holds the stand-in driver. A
# script named no-driver-file.script runs both programs from folders without
# the driver file. A script line "# machine: FILE" (FILE relative to the
# source tree) runs both on that machine instead of the default one.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
. "$here/wine-common.sh"
bed_args "usage: compare-walk.sh [--arch x86|x64] STANDIN_PROGRAM STANDIN_DIR SHIPPED_DIR TESTBED_DIR PREFIX_DIR WORK_DIR SCRIPT" \
  program standin_dir shipped testbed prefix work script -- "$@"
require_tools "$BED_WINE" wineserver Xvfb sha256sum

require_bed_runs "$prefix"
require_testbed "$testbed" hal.dll qvlaunch.exe qvscript.dll
require_shipped "$shipped"

rm -rf "$work"
mkdir -p "$work"
machine_options=()
machine=$(sed -n 's/^# machine: *//p' "$script" | head -n1)
if [ -n "$machine" ]; then
  machine_options=(--machine "$top/$machine")
fi
wine_options=()
ran=(quorvenal.exe QUORVENAL.sys)
case $(basename "$script") in
  no-driver-file.script)
    # The folder's path is in the diagnostics: the same folder both ways.
    standin_dir="$work/run"
    mkdir -p "$standin_dir"
    wine_options=(--no-driver-file)
    ran=(quorvenal.exe)
    ;;
esac
# The stand-in's own driver image stays loaded while the program's device
# handle is open, which the program never closes; that is not this test's
# business, so the leak check is off here.
(cd "$standin_dir" && ASAN_OPTIONS=detect_leaks=0 "$program" "${machine_options[@]}" --script "$script" \
   --report "$work/standin-report.txt" >"$work/standin-stdout.txt" 2>"$work/standin-stderr.txt")
standin_status=$?
"$top/tools/run-windows.sh" --arch "$BED_ARCH" --build "$shipped" --testbed "$testbed" --prefix "$prefix" --run "$work/run" \
  "${machine_options[@]}" "${wine_options[@]}" --script "$script" --report "$work/wine-report.txt" \
  >"$work/wine-stdout.txt" 2>"$work/wine-stderr.txt"
wine_status=$?

failures=0
check_shipped "$shipped" "$work/wine-stderr.txt" "${ran[@]}" || failures=1
echo "exit codes: stand-in $standin_status, wine $wine_status"
[ "$standin_status" = "$wine_status" ] || { echo "FAIL: the exit codes differ"; failures=1; }
if [ ! -f "$work/wine-report.txt" ]; then
  echo "FAIL: no report under Wine; its standard error and the driver host's log:"
  cat "$work/wine-stderr.txt"
  bed_log "$prefix"
  exit 1
fi
if ! diff -u --label stand-in --label wine "$work/standin-report.txt" "$work/wine-report.txt"; then
  echo "FAIL: the reports differ"
  failures=1
fi
if ! diff -u --label stand-in --label wine "$work/standin-stdout.txt" "$work/wine-stdout.txt"; then
  echo "FAIL: the diagnostics differ"
  failures=1
fi
if [ $failures -ne 0 ]; then
  echo "---- the driver host's log"
  bed_log "$prefix"
  exit 1
fi
echo "same report ($(wc -l <"$work/wine-report.txt") lines) and diagnostics on the stand-in and under Wine"
