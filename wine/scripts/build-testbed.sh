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
