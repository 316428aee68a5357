#!/usr/bin/env bash
# Configures and builds the 64-bit Windows test bed:
#   build-testbed.sh SOURCE_TOP BUILD_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-common.sh"
top=${1:?usage: build-testbed.sh SOURCE_TOP BUILD_DIR}
build=${2:?}
require_tools x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-gcc-posix x86_64-w64-mingw32-windres

if ! cmake -S "$top/wine/testbed" -B "$build" \
     -DCMAKE_TOOLCHAIN_FILE="$top/wine/testbed/toolchain-x86_64-posix.cmake" \
     >"$build.configure.log" 2>&1; then
  cat "$build.configure.log"
  echo "FAIL: the test bed does not configure"
  exit 1
fi
if ! cmake --build "$build" -j"$(nproc)"; then
  echo "FAIL: the test bed does not build"
  exit 1
fi
ls -l "$build"/*.exe "$build"/*.sys "$build"/*.dll

# The test-bed driver differs from the real one only in where its hardware
# operations come from: it imports from ntoskrnl.exe and qvhardware.dll, and
# from qvhardware.dll only those. Wine would not run it as a driver if it
# imported kernel32.dll or ntdll.dll.
imports=$(x86_64-w64-mingw32-objdump -p "$build/QUORVENAL.sys")
dlls=$(awk '/DLL Name:/ {print tolower($3)}' <<<"$imports" | sort | tr '\n' ' ')
if [ "$dlls" != "ntoskrnl.exe qvhardware.dll " ]; then
  echo "FAIL: the test-bed driver imports from: $dlls"
  exit 1
fi
hardware=$(awk '/DLL Name:/ {dll=tolower($3); next} /^$/ {dll=""}
                dll=="qvhardware.dll" && /^\t[0-9a-f]+\t +[0-9]+ +[^ ]+$/ {print $3}' <<<"$imports" \
           | sort | tr '\n' ' ')
if [ "$hardware" != "ExFreePool HalGetBusData HalGetBusDataByOffset MmGetPhysicalMemoryRanges MmMapIoSpace MmUnmapIoSpace __indword __outdword __readcr8 __writecr8 " ]; then
  echo "FAIL: the test-bed driver takes from qvhardware.dll: $hardware"
  exit 1
fi
echo "ok: the test-bed driver takes only its hardware from qvhardware.dll"
