#!/usr/bin/env bash
# Runs the test-bed program under Wine in Xvfb with a user script and keeps
# its report and standard output:
#   script-under-wine.sh TESTBED_DIR PREFIX_DIR WORK_DIR SCRIPT
# Writes WORK_DIR/report.txt and WORK_DIR/stdout.txt (line ends as on Linux).
# The exit code is the program's; 124 when it did not end in time. With
# NO_DRIVER_FILE=1 the folder holds the program only.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-common.sh"
require_tools wine wineserver Xvfb
testbed=$(realpath -m "${1:?usage: script-under-wine.sh TESTBED_DIR PREFIX_DIR WORK_DIR SCRIPT}")
prefix=$(realpath -m "${2:?}")
work=$(realpath -m "${3:?}")
script=$(realpath -m "${4:?}")

use_prefix "$prefix"
trap 'stop_prefix; stop_xvfb' EXIT
start_xvfb || exit 1
rm -rf "$work"
mkdir -p "$work/run"
cp "$testbed/QUORVENAL.sys" "$testbed/qvhardware.dll" "$testbed/quorvenal.exe" "$work/run/"
cp "$script" "$work/run/walk.script"
[ -n "${NO_DRIVER_FILE:-}" ] && rm -f "$work/run/QUORVENAL.sys"
cd "$work/run"
start_services || exit 1
timeout 300 wine quorvenal.exe --script walk.script --report report.raw >"$work/stdout.raw" 2>"$work/stderr.txt"
status=$?
tr -d '\r' <"$work/stdout.raw" >"$work/stdout.txt"
if [ -f report.raw ]; then
  tr -d '\r' <report.raw >"$work/report.txt"
else
  echo "no report from the program under Wine (exit code $status); its output:"
  cat "$work/stdout.txt" "$work/stderr.txt"
fi
exit $status
