#!/usr/bin/env bash
# Runs the shipped quorvenal.exe and QUORVENAL.sys, unchanged, under Wine on a
# simulated machine: the test bed's hal.dll in the prefix gives the driver the
# machine's configuration space, ports and memory.
#
#   tools/run-windows.sh [--machine FILE] --script FILE [--report FILE]
#       the program headless (in Xvfb), driven by the script as the Linux
#       launcher's --script; the report goes to FILE (default: stderr)
#   tools/run-windows.sh [--machine FILE]
#       the program on this display, for a person to use
#   tools/run-windows.sh [--machine FILE] --console PROGRAM.exe [ARGUMENTS...]
#       a console program of the Windows build (of the same architecture)
#       instead of the dialog, run from a folder that holds it and the
#       shipped driver
#
# --arch x86 runs the 32-bit files under 32-bit Wine, --arch x64 the 64-bit
# files under 64-bit Wine; by default x86 where this host runs 32-bit
# programs (tools/host-runs-i386.sh), else x64.
# Further options: --build DIR (the shipped files; default build-win32 or
# build-win64, built when missing), --testbed DIR (the test-bed parts of the
# same architecture; default DIR/wine-testbed, built when missing), --prefix
# DIR (default DIR/wine-bed/prefix, made when missing), --run DIR (the folder
# the program runs in; default beside the prefix), --no-driver-file (the
# folder without QUORVENAL.sys).
# Standard output is the program's (line ends as on Linux), the exit code is
# the program's. On standard error: "shipped quorvenal.exe <sha256>" and
# "shipped QUORVENAL.sys <sha256>" of the files that ran.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
scripts="$top/wine/scripts"
. "$scripts/wine-common.sh"
. "$top/tools/windows-arch.sh"

usage() {
  sed -n '2,27p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
}

machine="" script="" report="" build="" testbed="" prefix="" run="" no_driver="" console="" arch=""
while [ $# -gt 0 ]; do
  case $1 in
    --arch) windows_arch_valid "${2:-}" || usage; arch=$2; shift 2 ;;
    --machine) machine=$(realpath -m "${2:?}"); shift 2 ;;
    --script) script=$(realpath -m "${2:?}"); shift 2 ;;
    --report) report=$(realpath -m "${2:?}"); shift 2 ;;
    --build) build=$(realpath -m "${2:?}"); shift 2 ;;
    --testbed) testbed=$(realpath -m "${2:?}"); shift 2 ;;
    --prefix) prefix=$(realpath -m "${2:?}"); shift 2 ;;
    --run) run=$(realpath -m "${2:?}"); shift 2 ;;
    --no-driver-file) no_driver=1; shift ;;
    --console) console=$(realpath -m "${2:?}"); shift 2; break ;;
    *) usage ;;
  esac
done
[ -n "$report" ] && [ -z "$script" ] && { echo "run-windows: --report needs --script" >&2; exit 2; }
[ -n "$console" ] && [ -n "$script" ] && { echo "run-windows: --console and --script exclude each other" >&2; exit 2; }
for file in "$machine" "$script" "$console"; do
  [ -z "$file" ] || [ -f "$file" ] || { echo "run-windows: no such file: $file" >&2; exit 2; }
done

# The 32-bit files are 32-bit programs: on a host that runs none, say so in
# one line before building or making anything (or, when no architecture was
# asked for, run the 64-bit files).
if ! host=$("$top/tools/host-runs-i386.sh"); then
  if [ "$arch" = x86 ]; then
    echo "run-windows: the shipped 32-bit files cannot run here: $host" >&2
    exit 2
  fi
  arch=x64
fi
arch=${arch:-x86}
bed_arch "$arch" >&2

build=${build:-$top/$(windows_arch_build_dir "$arch")}
testbed=${testbed:-$build/wine-testbed}
prefix=${prefix:-$build/wine-bed/prefix}
run=${run:-$(dirname "$prefix")/run}

require_tools "$BED_WINE" wineserver sha256sum
if [ ! -f "$build/quorvenal.exe" ] || [ ! -f "$build/QUORVENAL.sys" ]; then
  "$top/tools/build-windows.sh" --arch "$arch" "$build" >&2 || exit 1
fi
if [ ! -f "$testbed/hal.dll" ] || [ ! -f "$testbed/qvlaunch.exe" ] || [ ! -f "$testbed/qvscript.dll" ] ||
   [ ! -f "$testbed/qvaccess.dll" ]; then
  "$scripts/build-testbed.sh" --arch "$arch" "$top" "$testbed" >&2 || exit $?
fi
if [ ! -f "$prefix/system.reg" ]; then
  "$scripts/make-prefix.sh" "$prefix" >&2 || exit 1
fi
require_bed_runs "$prefix" >&2

use_prefix "$prefix"
trap 'stop_prefix; stop_xvfb' EXIT
rm -rf "$run"
mkdir -p "$run"
cp "$build/quorvenal.exe" "$build/QUORVENAL.sys" "$run/"
[ -n "$no_driver" ] && rm -f "$run/QUORVENAL.sys"
install_bed "$prefix" "$testbed" "$machine" || { echo "run-windows: cannot set up the prefix" >&2; exit 1; }
cd "$run"
# The display comes first: the prefix's desktop process, started with the
# first program, draws on the display it finds then.
if [ -n "$script" ]; then
  require_tools Xvfb
  start_xvfb >&2 || exit 1
fi
start_services >&2 || exit 1

# Every program runs with qvaccess.dll, which tells the driver host the
# access of each open of the device (Wine does not tell the driver).
launch=("$BED_WINE" "$(windows_path "$testbed/qvlaunch.exe")" --inject "$(windows_path "$testbed/qvaccess.dll")")
if [ -n "$console" ]; then
  cp "$console" "$run/"
  "${launch[@]}" "$(basename "$console")" "$@" >"$run/stdout.raw"
  status=$?
elif [ -n "$script" ]; then
  cp "$script" "$run/walk.script"
  QUORVENAL_BED_SCRIPT=walk.script QUORVENAL_BED_REPORT=${report:+report.raw} \
    timeout 300 "${launch[@]}" --inject "$(windows_path "$testbed/qvscript.dll")" quorvenal.exe \
    >"$run/stdout.raw"
  status=$?
else
  "${launch[@]}" quorvenal.exe >"$run/stdout.raw"
  status=$?
fi
tr -d '\r' <"$run/stdout.raw"
if [ -n "$report" ]; then
  if [ -f "$run/report.raw" ]; then
    tr -d '\r' <"$run/report.raw" >"$report"
  else
    rm -f "$report"
    echo "run-windows: the program wrote no report (exit code $status)" >&2
  fi
fi
# What the driver host stopped on, if it did.
bed_log "$prefix" | grep '^STOP:' >&2
for file in quorvenal.exe QUORVENAL.sys; do
  [ -f "$run/$file" ] && echo "shipped $file $(sha256sum <"$run/$file" | cut -d' ' -f1)" >&2
done
exit $status
