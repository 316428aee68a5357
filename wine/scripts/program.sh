#!/usr/bin/env bash
# Runs the shipped program and driver (32-bit, or with --arch x64 the 64-bit
# ones) under Wine in Xvfb, on the test bed's default machine, as a user
# would:
#   program.sh [--arch x86|x64] SHIPPED_DIR TESTBED_DIR PREFIX_DIR WORK_DIR [EXPECTED_STDOUT]
# It starts from a folder that holds the shipped files, shows the dialog
# with the device list filled, selects a PCI Express function with the
# keyboard, saves it into slot 1 and ends with Escape. Screenshots of the
# dialog after start, after the selection and after the save are written to
# WORK_DIR/screenshots. The test fails when the dialog does not show, when a
# screenshot shows nothing or does not change with the action, when the
# program does not end, when its diagnostics differ from EXPECTED_STDOUT (the
# stand-in's, for the same actions), when the service is left behind, or
# when the files that ran are not the shipped ones byte for byte.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-common.sh"
bed_args "usage: program.sh [--arch x86|x64] SHIPPED_DIR TESTBED_DIR PREFIX_DIR WORK_DIR [EXPECTED_STDOUT]" \
  shipped testbed prefix work -- "$@"
expected=${BED_REST[0]:+$(realpath -m "${BED_REST[0]}")}
require_tools "$BED_WINE" wineserver Xvfb xdotool xwininfo import compare identify sha256sum

require_bed_runs "$prefix"
require_testbed "$testbed" hal.dll
require_shipped "$shipped"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

use_prefix "$prefix"
cleanup() {
  [ -n "${program_pid:-}" ] && kill "$program_pid" 2>/dev/null
  stop_prefix
  stop_xvfb
}
trap cleanup EXIT
start_xvfb || exit 1

rm -rf "$work/run" "$work/screenshots"
mkdir -p "$work/run" "$work/screenshots"
cp "$shipped/quorvenal.exe" "$shipped/QUORVENAL.sys" "$work/run/"
install_bed "$prefix" "$testbed" || exit 1
cd "$work/run"
start_services || exit 1
"$BED_WINE" quorvenal.exe >"$work/stdout.raw" 2>"$work/stderr.txt" &
program_pid=$!

# The window shows once OnInitDialog (and with it the first scan) is done.
window=$(wait_for_window quorvenal 120) || { fail "the dialog did not show"; exit 1; }
echo "dialog window $window"
sleep 2
xdotool windowfocus "$window" 2>/dev/null
sleep 0.5
shots="$work/screenshots"
screenshot "$window" "$shots/dialog-start.png"

# after_action BEFORE AFTER: waits (up to 20 s) until the window no longer
# looks as in BEFORE, lets it settle, and takes AFTER.
after_action() {
  local end=$((SECONDS + 20)) pixels
  while [ $SECONDS -lt $end ]; do
    sleep 0.5
    screenshot "$window" "$shots/$2.png"
    pixels=$(compare -metric AE "$shots/$1.png" "$shots/$2.png" null: 2>&1 >/dev/null)
    [ "${pixels%% *}" != 0 ] && break
  done
  sleep 1
  screenshot "$window" "$shots/$2.png"
}

# Exit has the focus at start.
# A mouse click on the eighth row of the device list, 00:1c.0, a PCI Express
# root port of the built-in machine (rows are 14 pixels apart in Wine's
# Tahoma, which stands for the dialog font, the first at y=60 of the
# window). Then Tab: the list
# keeps the focus it took from the click, so the next Tab goes on from it.
xdotool mousemove --window "$window" 60 158 click 1
after_action dialog-start dialog-pcie-selected

# From the device list the tab order runs: Rescan bus, the register list,
# the five reload buttons, then Save "1".
xdotool key --delay 150 Tab Tab Tab Tab Tab Tab Tab Tab space
after_action dialog-pcie-selected dialog-saved

xdotool key Escape
end=$((SECONDS + 60))
while kill -0 "$program_pid" 2>/dev/null && [ $SECONDS -lt $end ]; do sleep 0.5; done
if kill -0 "$program_pid" 2>/dev/null; then
  fail "the program did not end after Escape"
else
  wait "$program_pid"
  echo "program exited with $?"
fi
program_pid=""
tr -d '\r' <"$work/stdout.raw" >"$work/stdout.txt"
echo "---- standard output under Wine"
cat "$work/stdout.txt"
echo "----"

# Each screenshot shows a drawn dialog, and each action changed it.
for shot in dialog-start dialog-pcie-selected dialog-saved; do
  deviation=$(identify -format '%[fx:standard_deviation]' "$shots/$shot.png" 2>/dev/null || echo 0)
  if awk -v d="$deviation" 'BEGIN {exit !(d > 0.05)}'; then
    echo "ok: $shot.png shows the dialog ($(identify -format '%wx%h' "$shots/$shot.png"))"
  else
    fail "$shot.png is blank (deviation $deviation)"
  fi
done
changed() {
  local pixels
  pixels=$(compare -metric AE "$shots/$1.png" "$shots/$2.png" null: 2>&1 >/dev/null)
  pixels=${pixels%% *}
  if [ "${pixels:-0}" != 0 ] 2>/dev/null && awk -v p="$pixels" 'BEGIN {exit !(p > 100)}'; then
    echo "ok: $2.png differs from $1.png in $pixels pixels"
  else
    fail "$2.png does not differ from $1.png ($pixels pixels)"
  fi
}
changed dialog-start dialog-pcie-selected
changed dialog-pcie-selected dialog-saved

if [ -n "$expected" ]; then
  if diff -u --label stand-in --label wine "$expected" "$work/stdout.txt"; then
    echo "ok: the diagnostics are the stand-in's"
  else
    fail "the diagnostics differ from the stand-in's"
  fi
fi

# The service is removed when the dialog ends.
if wine reg query 'HKLM\System\CurrentControlSet\Services\QUORVENAL' >/dev/null 2>&1; then
  fail "the QUORVENAL service is still registered"
else
  echo "ok: no QUORVENAL service is left"
fi

for file in quorvenal.exe QUORVENAL.sys; do
  echo "shipped $file $(sha256sum <"$work/run/$file" | cut -d' ' -f1)"
done >"$work/hashes.txt"
check_shipped "$shipped" "$work/hashes.txt" quorvenal.exe QUORVENAL.sys || failures=$((failures + 1))

[ $failures -eq 0 ] || { echo "---- the driver host's log"; bed_log "$prefix"; exit 1; }
echo "the shipped program ran under Wine"
