#!/usr/bin/env bash
# Builds quorvenal for Linux (on the stand-in) and runs it in this terminal on
# the embedded default machine. Extra arguments go to the program's launcher
# (bash tools/run.sh --help lists them); the files they name are taken
# relative to where you stand, e.g. --machine machines/tree-fujitsu-p8010.
set -euo pipefail
here=$PWD
top=$(cd "$(dirname "$0")/.." && pwd)

# The program runs in the build folder, beside its driver file: file options
# become absolute paths first.
args=()
while [ $# -gt 0 ]; do
  args+=("$1")
  case $1 in
    --machine|--script|--report)
      if [ $# -gt 1 ]; then
        value=$2
        case $value in
          /*|'') ;;
          sysfs) [ "$1" = --machine ] || value=$here/$value ;;
          *) value=$here/$value ;;
        esac
        args+=("$value")
        shift
      fi ;;
  esac
  shift
done

"$top/tools/install-deps.sh" run
(cd "$top" && cmake --preset run >/dev/null && cmake --build --preset run -j"$(nproc)" >&2)
cd "$top/build"
exec ./quorvenal "${args[@]+"${args[@]}"}"
