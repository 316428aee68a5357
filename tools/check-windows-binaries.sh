#!/usr/bin/env bash
# Checks the Windows deliverables in a build folder without Windows:
#   tools/check-windows-binaries.sh [--arch x86|x64] BUILD_DIR [all|exe|sys|qvcli]
# (--arch x86 by default). The rules themselves are in tools/windows_checks/.
# quorvenal.exe: PE32 (x86) or PE32+ (x64) for the architecture, GUI
# subsystem, not a DLL; dialog 102 exactly as the program's window is laid
# out, group icon 128 with nine images, version 1.0.0.1 named "quorvenal.exe".
# qvcli.exe: the same image kind, console subsystem, not a DLL; a manifest that
# requires administrator rights (trustInfo in the asm.v3 namespace), version
# 1.0.0.1 named "qvcli.exe".
# QUORVENAL.sys: native subsystem, not a DLL, imports only ntoskrnl.exe and
# hal.dll (the bus-data reads, the mappings, the device and link calls, the
# device's security descriptor), and of those only routines on the
# architecture's list of kernel exports; issues its own 32-bit port
# instructions, reads and writes the memory-mapped window only through AX,
# carries a version resource, DriverEntry in a discardable INIT section, no
# thread-local storage, no .eh_frame. x86: the usual driver image base
# 0x10000, no instruction newer than the Pentium. x64: image base above
# 4 GiB with 64-bit relocations, unwind data for every function, no floating
# point, NX-compatible, no section both writable and executable, sections on
# page boundaries.
# All: release form, no DWARF or symbols in the image, the debug information
# in IMAGE.debug beside it, named by the image's .gnu_debuglink, a right
# checksum. x64 also: each file carries an Authenticode signature that
# osslsigncode verifies against the build's signing-certificate.pem.
# The images are read with pefile (Debian's python3-pefile), a PE reader
# independent of the build's own post-link step: its checksum, headers,
# sections, imports, relocations, exception directory and resources; the
# driver's code with objdump's disassembly.
# Prints one line per check; exits 0 when all pass, 1 when any fails, 77 when
# the tools are missing (the caller treats that as a skipped test).
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/tools/windows-arch.sh"
checks=$top/tools/windows_checks

usage="usage: check-windows-binaries.sh [--arch x86|x64] BUILD_DIR [all|exe|sys|qvcli]"
arch=x86
if [ "${1:-}" = --arch ]; then
  windows_arch_valid "${2:-}" || { echo "$usage"; exit 2; }
  arch=$2
  shift 2
fi
dir=${1:?$usage}
what=${2:-all}
triple=$(windows_arch_triple "$arch")
objdump=$triple-objdump
needed=("$objdump")
[ "$arch" = x64 ] && needed+=(osslsigncode)
windows_checks_require "${needed[@]}"
python=$(windows_checks_python)

failures=0
pass() { echo "ok: $*"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Turns a rule script's "good"/"bad" lines into ok/FAIL lines for FILE.
verdicts() {
  local name=$1 out=$2 status=$3 line
  if [ "$status" -ne 0 ]; then
    fail "$name: a check did not run"
    printf '%s\n' "$out"
    return
  fi
  while IFS= read -r line; do
    case $line in
      "good "*) pass "$name: ${line#good }" ;;
      "bad "*) fail "$name: ${line#bad }" ;;
      "") ;;
      *) echo "$line" ;;
    esac
  done <<<"$out"
}

# check_image FILE KIND [DISASSEMBLY]: the rules of tools/windows_checks/
# for the file's kind (exe, qvcli or sys).
check_image() {
  local out
  out=$("$python" "$checks/check_image.py" "$1" "$arch" "$2" ${3:+"$3"})
  verdicts "$(basename "$1")" "$out" $?
}

# The signature of an x64 image, verified against the build's certificate.
check_signature() {
  local file=$1 out
  [ "$arch" = x64 ] || return 0
  if [ ! -f "$dir/signing-certificate.pem" ]; then
    fail "$(basename "$file"): no signing-certificate.pem in the build folder to verify the signature with"
    return
  fi
  if out=$(osslsigncode verify -in "$file" -CAfile "$dir/signing-certificate.pem" 2>&1) &&
     grep -q '^Signature verification: ok' <<<"$out"; then
    pass "$(basename "$file"): signature verified ($(grep -m1 'Subject:' <<<"$out" | sed 's/^[[:space:]]*//'))"
  else
    fail "$(basename "$file"): no valid signature ($(grep -m1 -iE 'error|fail|no signature' <<<"$out"))"
  fi
}

check_exe() {
  local exe=$dir/quorvenal.exe
  [ -f "$exe" ] || { fail "quorvenal.exe is not in the build folder"; return; }
  check_image "$exe" exe
  check_signature "$exe"
}

check_qvcli() {
  local exe=$dir/qvcli.exe
  [ -f "$exe" ] || { fail "qvcli.exe is not in the build folder"; return; }
  check_image "$exe" qvcli
  check_signature "$exe"
}

check_sys() {
  local sys=$dir/QUORVENAL.sys code
  [ -f "$sys" ] || { fail "QUORVENAL.sys is not in the build folder"; return; }
  code=$(mktemp)
  "$objdump" -d --no-show-raw-insn "$sys" >"$code" 2>/dev/null || fail "QUORVENAL.sys: objdump cannot disassemble it"
  check_image "$sys" sys "$code"
  rm -f "$code"
  check_signature "$sys"
}

case $what in
  all) check_exe; check_sys; check_qvcli ;;
  exe) check_exe ;;
  sys) check_sys ;;
  qvcli) check_qvcli ;;
  *) echo "unknown part: $what (all, exe, sys or qvcli)"; exit 2 ;;
esac

if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed ($arch)"
