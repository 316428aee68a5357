#!/usr/bin/env bash
# Cross-compiles the Windows deliverables, quorvenal.exe, qvcli.exe and
# QUORVENAL.sys, with mingw-w64, each with its debug information beside it:
#   tools/build-windows.sh
#       both architectures: 32-bit x86 into build-win32/, 64-bit x86 into
#       build-win64/
#   tools/build-windows.sh --arch x86|x64 [DIR]
#       one architecture, into DIR (default: its folder above)
# The 64-bit files are signed, by default with a test certificate that the
# build folder makes itself (its key stays in DIR/test-signing/). To sign with
# your own code-signing certificate instead:
#   --sign-cert CERT.pem --sign-key KEY.pem [--sign-password-file FILE]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/tools/windows-arch.sh"

usage() {
  sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
}

arches=(x86 x64) out="" signing=()
while [ $# -gt 0 ]; do
  case $1 in
    --arch) windows_arch_valid "${2:-}" || usage; arches=("$2"); shift 2 ;;
    --sign-cert) signing+=(-DQUORVENAL_SIGNING_CERT="$(realpath "${2:?}")"); shift 2 ;;
    --sign-key) signing+=(-DQUORVENAL_SIGNING_KEY="$(realpath "${2:?}")"); shift 2 ;;
    --sign-password-file) signing+=(-DQUORVENAL_SIGNING_PASSWORD_FILE="$(realpath "${2:?}")"); shift 2 ;;
    -*) usage ;;
    *) [ -z "$out" ] || usage; out=$1; shift ;;
  esac
done
[ -n "$out" ] && [ ${#arches[@]} -ne 1 ] && { echo "build-windows: a folder goes with --arch" >&2; exit 2; }

for arch in "${arches[@]}"; do
  dir=${out:-"$top/$(windows_arch_build_dir "$arch")"}
  (cd "$top" && cmake --preset "$(windows_arch_preset "$arch")" -B "$dir" "${signing[@]}" >/dev/null)
  cmake --build "$dir" -j"$(nproc)"
  echo "Windows deliverables ($arch) in $dir: quorvenal.exe qvcli.exe QUORVENAL.sys"
done
