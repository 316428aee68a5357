#!/usr/bin/env bash
# Runs qvcli on the stand-in and the test bed's qvcli.exe under Wine, both on
# the default machine (PCI-to-PCI and CardBus bridges, PCI Express root ports
# and endpoints), and requires the same output and exit status for
# `list`, `list --json` and `dump`:
#   qvcli-compare.sh STANDIN_QVCLI STANDIN_DRIVER TESTBED_DIR PREFIX_DIR WORK_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-common.sh"
require_tools wine wineserver
qvcli=$(realpath -m "${1:?usage: qvcli-compare.sh STANDIN_QVCLI STANDIN_DRIVER TESTBED_DIR PREFIX_DIR WORK_DIR}")
driver=$(realpath -m "${2:?}")
testbed=$(realpath -m "${3:?}")
prefix=$(realpath -m "${4:?}")
work=$(realpath -m "${5:?}")

require_testbed "$testbed" QUORVENAL.sys qvhardware.dll qvcli.exe
[ -f "$prefix/system.reg" ] || { echo "FAIL: no Wine prefix in $prefix"; exit 1; }

rm -rf "$work"
mkdir -p "$work/standin" "$work/wine"
cp "$driver" "$work/standin/QUORVENAL.sys"
cp "$testbed/QUORVENAL.sys" "$testbed/qvhardware.dll" "$testbed/qvcli.exe" "$work/wine/"

use_prefix "$prefix"
trap stop_prefix EXIT
(cd "$work/wine" && start_services) || exit 1

failures=0
compare() {
  local name=$1
  shift
  (cd "$work/standin" && ASAN_OPTIONS=detect_leaks=0 "$qvcli" "$@" >"$work/$name.standin" 2>"$work/$name.standin.err")
  local standin_status=$?
  (cd "$work/wine" && timeout 300 wine qvcli.exe "$@" >"$work/$name.raw" 2>"$work/$name.wine.err")
  local wine_status=$?
  tr -d '\r' <"$work/$name.raw" >"$work/$name.wine"
  if [ $standin_status -ne 0 ] || [ $wine_status -ne $standin_status ]; then
    echo "FAIL: qvcli $*: exit status $standin_status on the stand-in, $wine_status under Wine"
    cat "$work/$name.standin.err" "$work/$name.wine.err"
    failures=$((failures + 1))
  elif ! diff -u --label stand-in --label wine "$work/$name.standin" "$work/$name.wine" >"$work/$name.diff"; then
    head -40 "$work/$name.diff"
    echo "FAIL: qvcli $*: the stand-in and Wine differ"
    failures=$((failures + 1))
  else
    echo "ok: qvcli $*: $(wc -l <"$work/$name.wine") identical lines"
  fi
}
compare list list
compare json list --json
compare dump dump
[ $failures -eq 0 ] || exit 1
echo "qvcli gives the same output on the stand-in and under Wine"
