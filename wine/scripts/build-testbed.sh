#!/usr/bin/env bash
# Configures and builds the test-bed parts (wine/testbed) for the shipped
# files of one architecture (x86 by default):
#   build-testbed.sh [--arch x86|x64] SOURCE_TOP BUILD_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-common.sh"
if [ "${1:-}" = --arch ]; then bed_arch "${2:-}"; shift 2; fi
top=${1:?usage: build-testbed.sh [--arch x86|x64] SOURCE_TOP BUILD_DIR}
build=${2:?}
require_tools "$BED_TRIPLE-g++-posix" "$BED_TRIPLE-gcc-posix" "$BED_TRIPLE-objdump"

toolchain="$top/wine/testbed/toolchain-posix.cmake"
configure() {
  cmake -S "$top/wine/testbed" -B "$build" \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DQUORVENAL_BED_ARCH="$BED_ARCH" >"$build.configure.log" 2>&1
}
# A folder configured by an older tree (another toolchain file, say) may not
# configure again: it then starts afresh, once.
if ! configure && ! { rm -rf "$build" && configure; }; then
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
# undecorated names, as the shipped driver imports them: on x86 the bus-data
# reads and the IRQL routines, on x64 the bus-data reads alone (the x64 HAL
# has no IRQL routines).
if [ "$BED_ARCH" = x64 ]; then
  expected="HalGetBusData HalGetBusDataByOffset "
else
  expected="HalGetBusData HalGetBusDataByOffset KeGetCurrentIrql KfLowerIrql KfRaiseIrql "
fi
exports=$("$BED_TRIPLE-objdump" -p "$build/hal.dll" |
          awk '/\[Ordinal\/Name Pointer\] Table/ {on=1; next} on && /^\t\[/ {print $3} on && /^$/ {on=0}' |
          sort | tr '\n' ' ')
if [ "$exports" != "$expected" ]; then
  echo "FAIL: the test bed's hal.dll exports: $exports"
  exit 1
fi
echo "ok: hal.dll ($BED_ARCH) exports $exports"
