#!/usr/bin/env bash
# Cross-compiles the Windows deliverables, quorvenal.exe, qvcli.exe and QUORVENAL.sys, for
# 32-bit x86 with mingw-w64 into build-win32/ (or the folder given).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-"$top/build-win32"}
cmake -S "$top" -B "$out" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-i686.cmake" \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$out" -j"$(nproc)"
echo "Windows deliverables in $out: quorvenal.exe qvcli.exe QUORVENAL.sys"
