#!/usr/bin/env bash
# Builds every configuration of quorvenal and runs every test:
#  - the Windows deliverables, cross-compiled for 32-bit x86 (build-win32) and
#    for x64 (build-win64, signed with the build's test certificate);
#  - the optimised Linux build that tools/run.sh uses (build, RelWithDebInfo):
#    every target, so that warnings GCC gives only when optimising fail here,
#    and the stand-in tests run in it, so that behaviour the optimiser changes
#    fails too;
#  - the Linux build on the stand-in with AddressSanitizer and UBSan (build-test),
#    whose CTest suite also checks the Windows binaries of both architectures,
#    boots the QEMU test kernels and runs the Wine test beds (32-bit and
#    64-bit);
#  - the fuzz targets built with clang (build-fuzz), each run for 10 seconds.
# First of all, the C++ sources are checked against .clang-format.
# On a host that runs no 32-bit programs (tools/host-runs-i386.sh), the runs
# of the shipped 32-bit files under Wine are reported skipped, with the reason;
# the 64-bit bed runs on every host.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
"$top/tools/install-deps.sh" test
"$top/tools/check-format.sh"

"$top/tools/build-windows.sh"

# The build trees are CMakePresets.json's: run (build/), test (build-test/).
cd "$top"
cmake --preset run >/dev/null
cmake --build --preset run-all -j"$jobs"
ctest --preset standin -j"$jobs"

cmake --preset test | { grep -E '^-- (Wine|QEMU) bed' || true; }
cmake --build --preset test -j"$jobs"
ctest --preset test -j"$jobs"
"$top/tools/fuzz.sh" 10
