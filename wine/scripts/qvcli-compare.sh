#!/usr/bin/env bash
# Runs qvcli on the stand-in and the shipped qvcli.exe unchanged under Wine
# (tools/run-windows.sh --console, with the shipped driver of the same
# architecture: 32-bit, or with --arch x64 the 64-bit files), both
# on the default machine (a PCI-to-PCI bridge, a CardBus bridge, PCI Express
# root ports and endpoints), and requires the same standard output and exit
# status for `list`, `list --json` and `dump`:
#   qvcli-compare.sh [--arch x86|x64] STANDIN_QVCLI STANDIN_DRIVER SHIPPED_DIR TESTBED_DIR PREFIX_DIR WORK_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
. "$here/wine-common.sh"
bed_args "usage: qvcli-compare.sh [--arch x86|x64] STANDIN_QVCLI STANDIN_DRIVER SHIPPED_DIR TESTBED_DIR PREFIX_DIR WORK_DIR" \
  qvcli driver shipped testbed prefix work -- "$@"
require_tools "$BED_WINE" wineserver sha256sum

require_bed_runs "$prefix"
require_shipped "$shipped"
[ -f "$shipped/qvcli.exe" ] || { echo "FAIL: no qvcli.exe in $shipped"; exit 1; }
require_testbed "$testbed" hal.dll

rm -rf "$work"
mkdir -p "$work/standin"
cp "$driver" "$work/standin/QUORVENAL.sys"

failures=0
compare() {
  local name=$1
  shift
  (cd "$work/standin" && ASAN_OPTIONS=detect_leaks=0 "$qvcli" "$@" >"$work/$name.standin" 2>"$work/$name.standin.err")
  local standin_status=$?
  timeout 600 "$top/tools/run-windows.sh" --arch "$BED_ARCH" --build "$shipped" --testbed "$testbed" --prefix "$prefix" \
    --run "$work/run" --console "$shipped/qvcli.exe" "$@" >"$work/$name.wine" 2>"$work/$name.wine.err"
  local wine_status=$?
  check_shipped "$shipped" "$work/$name.wine.err" QUORVENAL.sys || failures=$((failures + 1))
  if ! cmp -s "$shipped/qvcli.exe" "$work/run/qvcli.exe"; then
    echo "FAIL: the qvcli.exe that ran is not the shipped one"
    failures=$((failures + 1))
  fi
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
if [ $failures -ne 0 ]; then
  echo "---- the driver host's log"
  bed_log "$prefix"
  exit 1
fi
echo "the shipped qvcli.exe under Wine gives the stand-in's output"
