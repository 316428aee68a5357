#!/usr/bin/env bash
# Runs the test-bed conformance client under Wine and compares its
# transcript with the one the stand-in gave:
#   conformance.sh TESTBED_DIR PREFIX_DIR STANDIN_TRANSCRIPT WORK_DIR
# The client runs in WORK_DIR/run, beside the test-bed driver and its
# simulated hardware, as it installs the driver from its current folder.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-common.sh"
require_tools wine wineserver
testbed=$(realpath -m "${1:?usage: conformance.sh TESTBED_DIR PREFIX_DIR STANDIN_TRANSCRIPT WORK_DIR}")
prefix=$(realpath -m "${2:?}")
standin=$(realpath -m "${3:?}")
work=$(realpath -m "${4:?}")

require_testbed "$testbed" QUORVENAL.sys qvhardware.dll qvconform.exe
[ -f "$prefix/system.reg" ] || { echo "FAIL: no Wine prefix in $prefix"; exit 1; }
[ -f "$standin" ] || { echo "FAIL: no stand-in transcript $standin"; exit 1; }

use_prefix "$prefix"
trap stop_prefix EXIT
rm -rf "$work/run"
mkdir -p "$work/run"
cp "$testbed/QUORVENAL.sys" "$testbed/qvhardware.dll" "$testbed/qvconform.exe" "$work/run/"
cd "$work/run"
start_services || exit 1
timeout 600 wine qvconform.exe >"$work/wine-transcript.raw" 2>"$work/wine-stderr.txt"
status=$?
tr -d '\r' <"$work/wine-transcript.raw" >"$work/wine-transcript.txt"
echo "conformance client under Wine exited with $status; $(wc -l <"$work/wine-transcript.txt") lines"
grep 'UNEXPECTED' "$work/wine-transcript.txt"
# "handle access:" lines are observations of what each system enforces
# (Wine does not tell the driver a handle's access): shown, not compared.
echo "what each system enforces on a handle opened for reading only:"
grep '^handle access:' "$standin" | sed 's/^/  stand-in: /'
grep '^handle access:' "$work/wine-transcript.txt" | sed 's/^/  wine:     /'
grep -v '^handle access:' "$standin" >"$work/standin-compared.txt"
grep -v '^handle access:' "$work/wine-transcript.txt" >"$work/wine-compared.txt"
if ! diff -u --label stand-in --label wine "$work/standin-compared.txt" "$work/wine-compared.txt"; then
  echo "FAIL: the stand-in and Wine transcripts differ"
  exit 1
fi
if [ $status -ne 0 ]; then
  echo "FAIL: the conformance client exited with $status under Wine"
  exit 1
fi
echo "transcripts identical"
