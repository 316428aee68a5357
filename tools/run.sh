#!/usr/bin/env bash
# Builds quorvenal for Linux (on the stand-in) and runs it in this terminal on
# the embedded default machine. Extra arguments go to the program's launcher,
# e.g. --machine FILE.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/install-deps.sh" run
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$top/build" -j"$(nproc)" --target quorvenal quorvenal_driver
cd "$top/build"
exec ./quorvenal "$@"
