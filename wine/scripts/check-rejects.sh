#!/usr/bin/env bash
# Shows that tools/check-windows-binaries.sh catches faulty deliverables:
#   check-rejects.sh SOURCE_TOP WORK_DIR
# Builds a 32-bit quorvenal.exe from the program's resource script with one
# control's text changed, and a QUORVENAL.sys that is a DLL importing
# kernel32.dll with no port instructions, and a qvcli.exe for the GUI
# subsystem whose manifest asks for no administrator rights, then requires the
# checker to fail on exactly those faults and to pass what is right in them.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-common.sh"
require_tools i686-w64-mingw32-gcc i686-w64-mingw32-windres i686-w64-mingw32-objdump python3
top=$(realpath -m "${1:?usage: check-rejects.sh SOURCE_TOP WORK_DIR}")
work=$(realpath -m "${2:?}")
rm -rf "$work"
mkdir -p "$work/app"
cp -r "$top/app/res" "$top/app/resource.h" "$work/app/"
sed 's/"Rescan bus"/"Rescan"/' "$top/app/quorvenal.rc" >"$work/app/quorvenal.rc"
cmp -s "$top/app/quorvenal.rc" "$work/app/quorvenal.rc" && { echo "FAIL: the resource script has no \"Rescan bus\""; exit 1; }
i686-w64-mingw32-windres -I "$work/app" -i "$work/app/quorvenal.rc" -O coff -o "$work/rc.o" || exit 1
printf 'int main(void) { return 0; }\n' >"$work/main.c"
i686-w64-mingw32-gcc -mwindows "$work/main.c" "$work/rc.o" -o "$work/quorvenal.exe" || exit 1
cat >"$work/driver.c" <<'C'
#include <windows.h>
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance; (void)reason; (void)reserved;
    return GetTickCount() != 0;
}
C
i686-w64-mingw32-gcc -shared "$work/driver.c" -o "$work/QUORVENAL.sys" || exit 1
mkdir -p "$work/qvcli"
sed 's/requireAdministrator/asInvoker/' "$top/app/qvcli/qvcli.manifest" >"$work/qvcli/qvcli.manifest"
cp "$top/app/qvcli/qvcli.rc" "$work/qvcli/"
i686-w64-mingw32-windres -I "$work/qvcli" -i "$work/qvcli/qvcli.rc" -O coff -o "$work/qvcli-rc.o" || exit 1
i686-w64-mingw32-gcc -mwindows "$work/main.c" "$work/qvcli-rc.o" -o "$work/qvcli.exe" || exit 1

"$top/tools/check-windows-binaries.sh" "$work" all >"$work/check.txt"
status=$?
cat "$work/check.txt"
failures=0
expect() {
  if grep -qF -- "$1" "$work/check.txt"; then
    echo "caught: $1"
  else
    echo "MISSED: $1"
    failures=$((failures + 1))
  fi
}
[ $status -eq 1 ] || { echo "MISSED: the checker exited with $status, not 1"; failures=$((failures + 1)); }
expect "FAIL: quorvenal.exe: dialog resource"
expect "control 3 is (1001, 128, 'Rescan'"
expect "ok: quorvenal.exe: icon resource"
expect "ok: quorvenal.exe: Windows GUI subsystem"
expect "FAIL: QUORVENAL.sys: subsystem is not native"
expect "FAIL: QUORVENAL.sys: DLL flag set"
expect "FAIL: QUORVENAL.sys: imports from:"
expect "FAIL: QUORVENAL.sys: does not import HalGetBusData"
expect "FAIL: QUORVENAL.sys: has no 32-bit port input instruction"
expect "FAIL: qvcli.exe: subsystem is not Windows console"
expect "FAIL: qvcli.exe: admin-manifest resource"
expect "ok: qvcli.exe: qvcli-version resource"
[ $failures -eq 0 ] || exit 1
echo "the checker rejects what is wrong"
