#!/usr/bin/env bash
# Builds every configuration of quorvenal and runs every test:
#  - the Windows deliverables, cross-compiled for 32-bit x86 (build-win32);
#  - the Linux build on the stand-in with AddressSanitizer and UBSan (build-test),
#    whose CTest suite also checks the Windows binaries, boots the QEMU test
#    kernels and runs the Wine test bed;
#  - the fuzz targets built with clang (build-fuzz), each run for 10 seconds.
# First of all, the C++ sources are checked against .clang-format.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
"$top/tools/install-deps.sh" test
"$top/tools/check-format.sh"

"$top/tools/build-windows.sh" --arch x86 "$top/build-win32"

cmake -S "$top" -B "$top/build-test" -DQUORVENAL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug \
      -DQUORVENAL_WIN32_BUILD="$top/build-win32" >/dev/null
cmake --build "$top/build-test" -j"$jobs"
cd "$top/build-test"
ctest --output-on-failure -j"$jobs"
"$top/tools/fuzz.sh" 10
