#!/usr/bin/env bash
# Runs the conformance client under Wine against the shipped driver
# (tools/run-windows.sh --console), the test bed's 32-bit client against the
# 32-bit driver or, with --arch x64, its 64-bit client against the 64-bit
# driver, and compares its transcript with the one the stand-in gave:
#   conformance.sh [--arch x86|x64] SHIPPED_DIR TESTBED_DIR PREFIX_DIR STANDIN_TRANSCRIPT WORK_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
. "$here/wine-common.sh"
bed_args "usage: conformance.sh [--arch x86|x64] SHIPPED_DIR TESTBED_DIR PREFIX_DIR STANDIN_TRANSCRIPT WORK_DIR" \
  shipped testbed prefix standin work -- "$@"
require_tools "$BED_WINE" wineserver sha256sum

require_bed_runs "$prefix"
require_shipped "$shipped"
require_testbed "$testbed" hal.dll qvconform.exe
[ -f "$standin" ] || { echo "FAIL: no stand-in transcript $standin"; exit 1; }
mkdir -p "$work"
timeout 900 "$top/tools/run-windows.sh" --arch "$BED_ARCH" --build "$shipped" --testbed "$testbed" --prefix "$prefix" \
  --run "$work/run" --console "$testbed/qvconform.exe" >"$work/wine-transcript.txt" 2>"$work/wine-stderr.txt"
status=$?
echo "conformance client under Wine exited with $status; $(wc -l <"$work/wine-transcript.txt") lines"
failures=0
check_shipped "$shipped" "$work/wine-stderr.txt" QUORVENAL.sys || failures=1
grep 'UNEXPECTED' "$work/wine-transcript.txt"
# The bed hands the driver each open's access (qvaccess.dll), so what the
# driver enforces on a handle opened for reading only is compared too.
if ! diff -u --label stand-in --label wine "$standin" "$work/wine-transcript.txt"; then
  echo "FAIL: the stand-in and Wine transcripts differ"
  failures=1
fi
if [ $status -ne 0 ]; then
  echo "FAIL: the conformance client exited with $status under Wine"
  failures=1
fi
if [ $failures -ne 0 ]; then
  echo "---- the driver host's log"
  bed_log "$prefix"
  exit 1
fi
echo "transcripts identical"
