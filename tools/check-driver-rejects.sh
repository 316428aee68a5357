#!/usr/bin/env bash
# Shows that tools/check-windows-binaries.sh catches drivers that are unsafe on
# real hardware or not in release form, for one architecture:
#   check-driver-rejects.sh [--arch x86|x64] SOURCE_TOP WORK_DIR
# Builds small kernel drivers that map 2 bytes with MmMapIoSpace and read them:
#  - "window": in release form (x86: image base 0x10000, no unwind tables;
#    x64: image base above 4 GiB, unwind data, signed with a certificate made
#    for the test; both: entry in a discardable INIT section, stripped, debug
#    file beside it, checksum right), but it reads the window through BX;
#  - "hygiene": reads through AX, but built as a plain program is: DWARF and
#    symbols in the image, the entry in .text, a wrong checksum, an import the
#    architecture's kernels do not export (x86: IoValidateDeviceIoControlAccess,
#    not in XP; x64: KfRaiseIrql, which mingw-w64 lists and no x64 kernel
#    exports). x86 also: .eh_frame, the default image base and an instruction
#    the Pentium does not have (cmov). x64 also: no
#    unwind data, floating-point code, a section both writable and
#    executable, no NX-compatible flag, thread-local storage, an image base
#    below 4 GiB, and no signature;
#  - x64 "tampered": the window driver with one byte changed after signing.
# The checker must fail each on exactly its faults and pass the rest.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/windows-arch.sh"
arch=x86
if [ "${1:-}" = --arch ]; then
  windows_arch_valid "${2:-}" || { echo "usage: check-driver-rejects.sh [--arch x86|x64] SOURCE_TOP WORK_DIR"; exit 2; }
  arch=$2
  shift 2
fi
top=$(realpath -m "${1:?usage: check-driver-rejects.sh [--arch x86|x64] SOURCE_TOP WORK_DIR}")
work=$(realpath -m "${2:?}")
triple=$(windows_arch_triple "$arch")
needed=($triple-gcc $triple-objcopy $triple-strip $triple-objdump python3)
[ "$arch" = x64 ] && needed+=(osslsigncode openssl)
for tool in "${needed[@]}"; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIP: $tool is not installed (tools/install-deps.sh test installs it)"
    exit 77
  fi
done
rm -rf "$work"
mkdir -p "$work/window" "$work/hygiene"

# $1: the register the 2 bytes are read into ("a" for AX, "b" for BX);
# $2: the entry's section attribute; $3: extra code in the entry; $4: extra
# definitions.
driver_source() {
  cat <<C
typedef unsigned short USHORT;
typedef unsigned long ULONG;
typedef __SIZE_TYPE__ SIZE_T;
#ifdef _WIN64
#define API
#else
#define API __stdcall
#endif
__declspec(dllimport) void* API MmMapIoSpace(long long address, SIZE_T bytes, int caching);
__declspec(dllimport) void API MmUnmapIoSpace(void* address, SIZE_T bytes);
$4
static USHORT ReadWindow(ULONG address) {
    volatile USHORT* mapping = (volatile USHORT*)MmMapIoSpace(address, 2, 0);
    USHORT value = 0xFFFF;
    if (mapping) {
        __asm__ __volatile__("movw (%1), %0" : "=$1"(value) : "c"(mapping) : "memory");
        MmUnmapIoSpace((void*)mapping, 2);
    }
    return value;
}
long API DriverEntry(void* driver, void* path) $2;
long API DriverEntry(void* driver, void* path) {
    (void)driver; (void)path;
    $3
    return ReadWindow(0xE0000000) == 0xFFFF ? 0 : (long)0xC0000001;
}
C
}

in_init='__attribute__((section("INIT")))'
finish() {
  $triple-objcopy --only-keep-debug QUORVENAL.sys QUORVENAL.sys.debug &&
  $triple-strip --strip-all QUORVENAL.sys &&
  $triple-objcopy --add-gnu-debuglink=QUORVENAL.sys.debug QUORVENAL.sys &&
  python3 "$top/cmake/pe_finish.py" QUORVENAL.sys --discardable INIT
}
if [ "$arch" = x86 ]; then
  link="-nostdlib -Wl,--subsystem,native -Wl,--entry,_DriverEntry@8"
  driver_source b "$in_init" '' '' >"$work/window/driver.c"
  driver_source a '' 'if (path == 0) return IoValidateDeviceIoControlAccess(driver, 2);
    __asm__ __volatile__("cmovel %%ecx, %%edx" ::: "edx");' \
    '__declspec(dllimport) long API IoValidateDeviceIoControlAccess(void* irp, ULONG access);' \
    >"$work/hygiene/driver.c"
  ( cd "$work/window" &&
    $triple-gcc -O2 -fno-asynchronous-unwind-tables -fno-unwind-tables driver.c -o QUORVENAL.sys \
        $link -Wl,--image-base,0x10000 -lntoskrnl && finish ) || exit 1
  ( cd "$work/hygiene" && $triple-gcc -O2 -g driver.c -o QUORVENAL.sys $link -lntoskrnl ) || exit 1
else
  link="-nostdlib -Wl,--subsystem,native -Wl,--entry,DriverEntry"
  driver_source b "$in_init" '' '' >"$work/window/driver.c"
  driver_source a '' \
    'if (path == 0) return KfRaiseIrql(2) + (long)(scale * counter) + WriteAndRun[0];' \
    '__declspec(dllimport) unsigned char KfRaiseIrql(unsigned char level);
volatile double scale = 1.5;
__attribute__((section(".tls"))) int counter = 1;
__asm__(".section .wx,\"xw\"\n_WriteAndRun: .byte 0xc3\n.text");
extern unsigned char WriteAndRun[] __asm__("_WriteAndRun");' >"$work/hygiene/driver.c"
  # A certificate made for this test only; its key goes with the work folder.
  ( cd "$work" &&
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=quorvenal checker test" \
        -addext "extendedKeyUsage=codeSigning" -keyout test.key -out test.pem 2>/dev/null ) || exit 1
  sign() {
    osslsigncode sign -certs "$work/test.pem" -key "$work/test.key" -h sha256 \
        -in QUORVENAL.sys -out QUORVENAL.sys.signed >/dev/null && mv QUORVENAL.sys.signed QUORVENAL.sys
  }
  ( cd "$work/window" &&
    $triple-gcc -O2 driver.c -o QUORVENAL.sys $link -Wl,--image-base,0x140000000 -lntoskrnl &&
    finish && sign && cp "$work/test.pem" signing-certificate.pem ) || exit 1
  ( cd "$work/hygiene" &&
    $triple-gcc -O2 -g -fno-asynchronous-unwind-tables -fno-unwind-tables driver.c -o QUORVENAL.sys \
        $link -Wl,--image-base,0x10000 -Wl,--disable-nxcompat -lntoskrnl &&
    cp "$work/test.pem" signing-certificate.pem ) || exit 1
  # One byte of the DOS stub's text changed after signing (the checksum
  # written again, as a tool that patches files would): the code stays as it
  # was, the signed digest no longer matches.
  cp -r "$work/window" "$work/tampered"
  python3 - "$work/tampered/QUORVENAL.sys" <<'PY' || exit 1
import struct, sys
path = sys.argv[1]
data = bytearray(open(path, 'rb').read())
at = data.index(b'This program cannot be run')
data[at] ^= 0x20
open(path, 'wb').write(data)
PY
  python3 "$top/cmake/pe_finish.py" "$work/tampered/QUORVENAL.sys" || exit 1
fi
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
  "$top/tools/check-windows-binaries.sh" --arch "$arch" "$work/$1" sys >"$work/$1/check.txt"
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
# Every check of the driver that fails names one of the faults expected, or
# what these small drivers lack by design (the product's imports, port
# instructions and version resource).
only() {
  local name=$1; shift
  local unexpected
  unexpected=$(grep '^FAIL: QUORVENAL.sys' "$work/$name/check.txt" |
               grep -vF -e 'imports from:' -e 'does not import' -e 'has no 32-bit port' \
                        -e 'windres cannot decompile' "${@/#/-e}")
  if [ -n "$unexpected" ]; then
    echo "UNEXPECTED ($name): $unexpected"
    failures=$((failures + 1))
  fi
}

run_checker window
expect window "FAIL: QUORVENAL.sys: 16-bit window access through another register than AX"
expect window "ok: QUORVENAL.sys: DriverEntry in the discardable INIT section"
expect window "ok: QUORVENAL.sys: PE checksum"
expect window "ok: QUORVENAL.sys: no DWARF sections"
expect window "ok: QUORVENAL.sys: debug information in QUORVENAL.sys.debug beside it"
expect window "ok: QUORVENAL.sys: no .eh_frame"
run_checker hygiene
expect hygiene "FAIL: QUORVENAL.sys: DWARF sections in the image"
expect hygiene "FAIL: QUORVENAL.sys: entry point"
expect hygiene "FAIL: QUORVENAL.sys: PE checksum"
expect hygiene "FAIL: QUORVENAL.sys: no .gnu_debuglink"
expect hygiene "ok: QUORVENAL.sys: window accessed through AX only (1 16-bit accesses)"
if [ "$arch" = x86 ]; then
  expect window "(%ecx),%bx"
  expect window "ok: QUORVENAL.sys: image base 0x10000"
  expect hygiene "FAIL: QUORVENAL.sys: image base 0x400000, not the driver base 0x10000"
  expect hygiene "FAIL: QUORVENAL.sys: unwind tables in the image"
  expect hygiene "FAIL: QUORVENAL.sys: imports routines not on the list of routines Windows XP exports: IoValidateDeviceIoControlAccess"
  expect hygiene "FAIL: QUORVENAL.sys: instructions newer than the Pentium (i586):"
  expect window "ok: QUORVENAL.sys: instructions of the Pentium (i586) only"
else
  expect window "(%rcx),%bx"
  expect window "ok: QUORVENAL.sys: unwind data for every function"
  expect window "ok: QUORVENAL.sys: signature verified"
  expect window "ok: QUORVENAL.sys: NX-compatible"
  expect window "ok: QUORVENAL.sys: no floating-point or vector instructions"
  expect window "ok: QUORVENAL.sys: image base 0x140000000, above 4 GiB"
  expect hygiene "FAIL: QUORVENAL.sys: imports routines not on the list of routines the x64 kernels of Windows 7, 10 and 11 export: KfRaiseIrql"
  expect hygiene "FAIL: QUORVENAL.sys: unwind data:"
  expect hygiene "FAIL: QUORVENAL.sys: floating-point or vector instructions:"
  expect hygiene "FAIL: QUORVENAL.sys: sections both writable and executable: .wx"
  expect hygiene "FAIL: QUORVENAL.sys: not marked NX-compatible"
  expect hygiene "FAIL: QUORVENAL.sys: thread-local storage in the image"
  expect hygiene "FAIL: QUORVENAL.sys: image base 0x10000, below 4 GiB"
  expect hygiene "FAIL: QUORVENAL.sys: no valid signature"
  run_checker tampered
  expect tampered "FAIL: QUORVENAL.sys: no valid signature"
  expect tampered "ok: QUORVENAL.sys: PE checksum"
  only tampered "no valid signature" "16-bit window access"
fi
only window "16-bit window access"

[ $failures -eq 0 ] || exit 1
echo "the checker rejects the $arch drivers on their faults"
