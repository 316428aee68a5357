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
windres=$triple-windres
needed=("$objdump" "$windres" python3)
[ "$arch" = x64 ] && needed+=(osslsigncode)
for tool in "${needed[@]}"; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIP: $tool is not installed (tools/install-deps.sh test installs it)"
    exit 77
  fi
done
if [ "$arch" = x64 ]; then
  format=pei-x86-64 magic=020b kind="PE32+"
else
  format=pei-i386 magic=010b kind=PE32
fi

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

# check_pe FILE SUBSYSTEM_NUMBER SUBSYSTEM_NAME; leaves objdump's header dump in pe_header.
pe_header=""
check_pe() {
  local file=$1 subsystem=$2 name=$3 header
  header=$("$objdump" -p "$file" 2>&1) || { fail "$file: objdump cannot read it"; return 1; }
  pe_header=$header
  grep -q "file format $format\$" <<<"$header" && pass "$(basename "$file"): $format" \
    || fail "$(basename "$file"): not a $format image"
  grep -Eq "^Magic[[:space:]]+$magic" <<<"$header" && pass "$(basename "$file"): $kind optional header" \
    || fail "$(basename "$file"): optional header is not $kind"
  grep -Eq "^Subsystem[[:space:]]+0*${subsystem}[[:space:]]" <<<"$header" \
    && pass "$(basename "$file"): $name subsystem" || fail "$(basename "$file"): subsystem is not $name"
  local characteristics
  characteristics=$(awk '/^Characteristics/ {print $2; exit}' <<<"$header")
  if [ -n "$characteristics" ] && (( (characteristics & 0x2000) == 0 )); then
    pass "$(basename "$file"): no DLL flag (characteristics $characteristics)"
  else
    fail "$(basename "$file"): DLL flag set or characteristics unreadable ($characteristics)"
  fi
}

# Decompiles the resources of FILE and checks them with the rules named after it.
check_resources() {
  local file=$1; shift
  local res out status
  res=$(mktemp --suffix=.res)
  if ! "$windres" -i "$file" -O res -o "$res" 2>/dev/null; then
    fail "$(basename "$file"): windres cannot decompile its resources"
    rm -f "$res"
    return
  fi
  out=$(python3 "$checks/resources.py" "$res" "$@")
  status=$?
  rm -f "$res"
  verdicts "$(basename "$file")" "$(sed -e 's/^good \(.*\)$/good \1 resource/' -e 's/^bad \(.*\)$/bad \1 resource/' <<<"$out")" $status
}

check_release() {
  local out
  out=$(python3 "$checks/release_form.py" "$1")
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
  check_pe "$exe" 2 "Windows GUI"
  check_resources "$exe" dialog icon version
  check_release "$exe"
  check_signature "$exe"
}

check_qvcli() {
  local exe=$dir/qvcli.exe
  [ -f "$exe" ] || { fail "qvcli.exe is not in the build folder"; return; }
  check_pe "$exe" 3 "Windows console"
  check_resources "$exe" admin-manifest qvcli-version
  check_release "$exe"
  check_signature "$exe"
}

check_sys() {
  local sys=$dir/QUORVENAL.sys header code out
  [ -f "$sys" ] || { fail "QUORVENAL.sys is not in the build folder"; return; }
  check_pe "$sys" 1 "native" || return
  header=$pe_header

  local dlls
  dlls=$(awk '/DLL Name:/ {print tolower($3)}' <<<"$header" | sort -u | tr '\n' ' ')
  [ "$dlls" = "hal.dll ntoskrnl.exe " ] && pass "QUORVENAL.sys: imports only ntoskrnl.exe and hal.dll" \
    || fail "QUORVENAL.sys: imports from: $dlls"
  local name
  for name in HalGetBusData HalGetBusDataByOffset MmMapIoSpace MmUnmapIoSpace IoCreateDevice \
              IoDeleteDevice IoCreateSymbolicLink IoDeleteSymbolicLink IofCompleteRequest \
              RtlInitUnicodeString RtlCreateSecurityDescriptor RtlCreateAcl RtlAddAccessAllowedAce \
              RtlSetDaclSecurityDescriptor ObOpenObjectByPointer ZwSetSecurityObject ZwClose; do
    grep -Eq "[[:space:]]$name\$" <<<"$header" && pass "QUORVENAL.sys: imports $name" \
      || fail "QUORVENAL.sys: does not import $name"
  done
  # IoValidateDeviceIoControlAccess and IoCreateDeviceSecure do not exist on XP's kernel.
  for name in READ_PORT_ULONG WRITE_PORT_ULONG IoValidateDeviceIoControlAccess IoCreateDeviceSecure; do
    grep -Eq "[[:space:]]$name\$" <<<"$header" && fail "QUORVENAL.sys: uses the platform's $name" \
      || pass "QUORVENAL.sys: does not use $name"
  done
  code=$(mktemp)
  "$objdump" -d --no-show-raw-insn "$sys" >"$code" 2>/dev/null
  grep -Eq 'in[[:space:]]+\(%dx\),%eax' "$code" && pass "QUORVENAL.sys: reads port 0xCF8 itself" \
    || fail "QUORVENAL.sys: has no 32-bit port input instruction"
  grep -Eq 'out[[:space:]]+%eax,\(%dx\)' "$code" && pass "QUORVENAL.sys: writes the port pair itself" \
    || fail "QUORVENAL.sys: has no 32-bit port output instruction"
  grep -Eq '^AddressOfEntryPoint[[:space:]]+0*[1-9a-f]' <<<"$header" && pass "QUORVENAL.sys: has an entry point" \
    || fail "QUORVENAL.sys: no entry point"
  check_resources "$sys" driver-version
  check_release "$sys"
  out=$(python3 "$checks/driver_image.py" "$sys" "$arch" &&
        python3 "$checks/window_access.py" "$sys" "$code" &&
        python3 "$checks/code_rules.py" "$code" "$arch" &&
        if [ "$arch" = x64 ]; then python3 "$checks/unwind.py" "$sys" "$code"; fi)
  verdicts QUORVENAL.sys "$out" $?
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
