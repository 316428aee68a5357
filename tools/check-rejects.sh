#!/usr/bin/env bash
# Shows that tools/check-windows-binaries.sh rejects faulty deliverables of
# both architectures and passes the shipped ones:
#   check-rejects.sh WIN32_BUILD WIN64_BUILD WORK_DIR [FAULT...]
# Each fault (a wrong checksum, wrong headers, imports and sections, the
# driver's code changed, resources changed, x64: relocations, unwind data,
# memory-integrity flags, a broken signature) is planted in a copy of one
# shipped file; tools/windows_checks/rejects.py lists them with the FAIL
# lines each must cause; FAULT names limit the run to those. Exits 77 when a
# tool is missing.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/tools/windows-arch.sh"
usage="usage: check-rejects.sh WIN32_BUILD WIN64_BUILD WORK_DIR [FAULT...]"
[ $# -ge 3 ] || { echo "$usage"; exit 2; }
windows_checks_require i686-w64-mingw32-objdump x86_64-w64-mingw32-objdump osslsigncode openssl
python=$(windows_checks_python)
win32=$(realpath -m "$1") win64=$(realpath -m "$2") work=$(realpath -m "$3")
shift 3
exec "$python" "$top/tools/windows_checks/rejects.py" "$top" "$win32" "$win64" "$work" "$@"
