#!/usr/bin/env bash
# The Wine bed's decision about 32-bit programs, shown both ways on either
# kind of host:
#   check-host-kinds.sh WORK_DIR
# 1. The probe (tools/host-runs-i386.sh) answers what the kernel does with a
#    static i386 program that gcc -m32 builds (where gcc can build one).
# 2. Taken for a host that runs no 32-bit programs (QUORVENAL_HOST_NO_I386=1):
#    a prefix made then records the reason; a run of the shipped 32-bit files
#    on that prefix skips (exit code 77) and says it; tools/run-windows.sh
#    exits 2 with that one line.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-common.sh"
work=$(realpath -m "${1:?usage: check-host-kinds.sh WORK_DIR}")
rm -rf "$work"
mkdir -p "$work"
status=0
fail() { echo "FAIL: $*"; status=1; }

# 1. The probe against the kernel's own answer.
answer=$("$QV_TOP/tools/host-runs-i386.sh"); probe_status=$?
echo "probe: $answer"
if printf 'int main(void) { return 0; }\n' | gcc -m32 -static -x c - -o "$work/exit0-gcc" 2>/dev/null; then
  kernel_status=0
  "$work/exit0-gcc" 2>/dev/null || kernel_status=$?
  echo "a static i386 program from gcc -m32: exit code $kernel_status"
  if [ $kernel_status -eq 0 ] && [ $probe_status -ne 0 ]; then fail "the probe says no where the host runs i386 code"; fi
  if [ $kernel_status -ne 0 ] && [ $probe_status -eq 0 ]; then fail "the probe says yes where the host runs no i386 code"; fi
else
  echo "gcc -m32 -static builds nothing here (gcc-multilib): the probe's answer is not compared"
fi
case $probe_status:$answer in
  0:yes|1:*32-bit*) ;;
  *) fail "the probe answered '$answer' with exit code $probe_status" ;;
esac

# 2. The other kind of host, whatever this one is.
export QUORVENAL_HOST_NO_I386=1
reason=$("$QV_TOP/tools/host-runs-i386.sh") && fail "the probe says yes with QUORVENAL_HOST_NO_I386 set"
[[ $reason == *QUORVENAL_HOST_NO_I386* ]] || fail "the probe's reason does not name the variable: $reason"

if command -v wineserver >/dev/null 2>&1 && [ -x "$WINE64" ]; then
  "$here/make-prefix.sh" "$work/prefix" >"$work/make-prefix.txt" 2>&1 || fail "make-prefix.sh failed: $(cat "$work/make-prefix.txt")"
  verdict=$(head -n1 "$work/prefix/quorvenal-wine32" 2>/dev/null)
  echo "prefix made; its verdict: $verdict"
  [ "$verdict" = "$reason" ] || fail "the prefix records '$verdict', the probe said '$reason'"
  # A run of the shipped 32-bit files stops before it needs any of them.
  out=$("$here/conformance.sh" "$work/no-build" "$work/no-testbed" "$work/prefix" /dev/null "$work/conformance")
  code=$?
  echo "conformance.sh on it: exit code $code: $out"
  [ $code -eq 77 ] || fail "a run of the 32-bit files did not skip (exit code $code)"
  [ "$out" = "SKIP: the shipped 32-bit files cannot run under Wine here: $reason" ] ||
    fail "the skip does not give the reason"
  use_prefix "$work/prefix"
  stop_prefix
else
  echo "Wine is not installed: the prefix's record is not shown"
fi

"$QV_TOP/tools/run-windows.sh" --arch x86 --console "$here/walk.script" list >"$work/run-windows.out" 2>"$work/run-windows.err"
code=$?
echo "run-windows.sh: exit code $code: $(cat "$work/run-windows.err")"
[ $code -eq 2 ] || fail "run-windows.sh exited $code, not 2"
[ "$(wc -l <"$work/run-windows.err")" -eq 1 ] || fail "run-windows.sh said more than one line"
grep -qF "$reason" "$work/run-windows.err" || fail "run-windows.sh does not give the reason"
[ -s "$work/run-windows.out" ] && fail "run-windows.sh wrote to standard output"
exit $status
