#!/usr/bin/env bash
# Shows that tools/check-windows-binaries.sh catches drivers that are unsafe on
# real hardware or not in release form:
#   check-driver-rejects.sh SOURCE_TOP WORK_DIR
# Builds two small 32-bit kernel drivers that map 2 bytes with MmMapIoSpace and
# read them:
#  - "window": in release form (image base 0x10000, no unwind tables, entry in a
#    discardable INIT section, stripped, debug file beside it, checksum right),
#    but it reads the window through BX;
#  - "hygiene": reads through AX, but built as a plain program is: DWARF and
#    symbols in the image, .eh_frame, the default image base, the entry in
#    .text, a wrong checksum, and an import that Windows XP does not export.
# The checker must fail each on exactly its faults and pass the rest.
set -uo pipefail
top=$(realpath -m "${1:?usage: check-driver-rejects.sh SOURCE_TOP WORK_DIR}")
work=$(realpath -m "${2:?}")
triple=i686-w64-mingw32
for tool in $triple-gcc $triple-objcopy $triple-strip $triple-objdump python3; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIP: $tool is not installed (tools/install-deps.sh test installs it)"
    exit 77
  fi
done
rm -rf "$work"
mkdir -p "$work/window" "$work/hygiene"

# $1: the register the 2 bytes are read into ("a" for AX, "b" for BX);
# $2: the entry's section attribute; $3: extra code in the entry.
driver_source() {
  cat <<C
typedef unsigned short USHORT;
typedef unsigned long ULONG;
__declspec(dllimport) void* __stdcall MmMapIoSpace(long long address, ULONG bytes, int caching);
__declspec(dllimport) void __stdcall MmUnmapIoSpace(void* address, ULONG bytes);
__declspec(dllimport) long __stdcall IoValidateDeviceIoControlAccess(void* irp, ULONG access);
static USHORT ReadWindow(ULONG address) {
    volatile USHORT* mapping = (volatile USHORT*)MmMapIoSpace(address, 2, 0);
    USHORT value = 0xFFFF;
    if (mapping) {
        __asm__ __volatile__("movw (%1), %0" : "=$1"(value) : "c"(mapping) : "memory");
        MmUnmapIoSpace((void*)mapping, 2);
    }
    return value;
}
long __stdcall DriverEntry(void* driver, void* path) $2;
long __stdcall DriverEntry(void* driver, void* path) {
    (void)driver; (void)path;
    $3
    return ReadWindow(0xE0000000) == 0xFFFF ? 0 : (long)0xC0000001;
}
C
}

driver_source b '__attribute__((section("INIT")))' '' >"$work/window/driver.c"
driver_source a '' 'if (path == 0) return IoValidateDeviceIoControlAccess(driver, 2);' >"$work/hygiene/driver.c"
link="-nostdlib -Wl,--subsystem,native -Wl,--entry,_DriverEntry@8"

( cd "$work/window" &&
  $triple-gcc -O2 -fno-asynchronous-unwind-tables -fno-unwind-tables driver.c -o QUORVENAL.sys \
      $link -Wl,--image-base,0x10000 -lntoskrnl &&
  $triple-objcopy --only-keep-debug QUORVENAL.sys QUORVENAL.sys.debug &&
  $triple-strip --strip-all QUORVENAL.sys &&
  $triple-objcopy --add-gnu-debuglink=QUORVENAL.sys.debug QUORVENAL.sys &&
  python3 "$top/cmake/pe_finish.py" QUORVENAL.sys --discardable INIT ) || exit 1
( cd "$work/hygiene" &&
  $triple-gcc -O2 -g driver.c -o QUORVENAL.sys $link -lntoskrnl ) || exit 1
# The checksum off by one, as a file changed after the link would have it.
python3 - "$work/hygiene/QUORVENAL.sys" <<'PY' || exit 1
import struct, sys
data = bytearray(open(sys.argv[1], 'rb').read())
at = struct.unpack_from('<I', data, 0x3C)[0] + 24 + 64
struct.pack_into('<I', data, at, struct.unpack_from('<I', data, at)[0] + 1)
open(sys.argv[1], 'wb').write(data)
PY

failures=0
run_checker() {
  "$top/tools/check-windows-binaries.sh" "$work/$1" sys >"$work/$1/check.txt"
  local status=$?
  echo "== $1"
  cat "$work/$1/check.txt"
  [ $status -eq 1 ] || { echo "MISSED: the checker exited with $status on $1, not 1"; failures=$((failures + 1)); }
}
expect() {
  if grep -qF -- "$2" "$work/$1/check.txt"; then
    echo "caught ($1): $2"
  else
    echo "MISSED ($1): $2"
    failures=$((failures + 1))
  fi
}

run_checker window
expect window "FAIL: QUORVENAL.sys: 16-bit window access through another register than AX"
expect window "(%ecx),%bx"
expect window "ok: QUORVENAL.sys: image base 0x10000"
expect window "ok: QUORVENAL.sys: no .eh_frame"
expect window "ok: QUORVENAL.sys: DriverEntry in the discardable INIT section"
expect window "ok: QUORVENAL.sys: PE checksum"
expect window "ok: QUORVENAL.sys: no DWARF sections"
expect window "ok: QUORVENAL.sys: debug information in QUORVENAL.sys.debug beside it"

run_checker hygiene
expect hygiene "FAIL: QUORVENAL.sys: DWARF sections in the image"
expect hygiene "FAIL: QUORVENAL.sys: image base 0x400000, not the driver base 0x10000"
expect hygiene "FAIL: QUORVENAL.sys: unwind tables in the image"
expect hygiene "FAIL: QUORVENAL.sys: entry point"
expect hygiene "FAIL: QUORVENAL.sys: PE checksum"
expect hygiene "FAIL: QUORVENAL.sys: no .gnu_debuglink"
expect hygiene "FAIL: QUORVENAL.sys: imports routines not on the list of Windows XP exports: IoValidateDeviceIoControlAccess"
expect hygiene "ok: QUORVENAL.sys: window accessed through AX only (1 16-bit accesses)"

[ $failures -eq 0 ] || exit 1
echo "the checker rejects both drivers on their faults"
