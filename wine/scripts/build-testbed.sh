#!/usr/bin/env bash
# Configures and builds the 32-bit test-bed parts (wine/testbed):
#   build-testbed.sh SOURCE_TOP BUILD_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-common.sh"
top=${1:?usage: build-testbed.sh SOURCE_TOP BUILD_DIR}
build=${2:?}
require_tools i686-w64-mingw32-g++-posix i686-w64-mingw32-gcc-posix i686-w64-mingw32-objdump

if ! cmake -S "$top/wine/testbed" -B "$build" \
     -DCMAKE_TOOLCHAIN_FILE="$top/wine/testbed/toolchain-i686-posix.cmake" \
     >"$build.configure.log" 2>&1; then
  cat "$build.configure.log"
  echo "FAIL: the test bed does not configure"
  exit 1
fi
if ! cmake --build "$build" -j"$(nproc)"; then
  echo "FAIL: the test bed does not build"
  exit 1
fi
ls -l "$build"/*.exe "$build"/*.dll

# The test bed's hal.dll must export the HAL routines under their
# undecorated names, as the shipped driver imports them.
exports=$(i686-w64-mingw32-objdump -p "$build/hal.dll" |
          awk '/\[Ordinal\/Name Pointer\] Table/ {on=1; next} on && /^\t\[/ {print $3} on && /^$/ {on=0}' |
          sort | tr '\n' ' ')
if [ "$exports" != "HalGetBusData HalGetBusDataByOffset KeGetCurrentIrql KfLowerIrql KfRaiseIrql " ]; then
  echo "FAIL: the test bed's hal.dll exports: $exports"
  exit 1
fi
echo "ok: hal.dll exports $exports"
