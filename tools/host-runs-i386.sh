#!/usr/bin/env bash
# Does this host execute 32-bit x86 programs? Machines of this kind differ:
# some run i386 code, some answer "Exec format error" to every i386 program.
# The shipped 32-bit files can run under Wine only on the first kind.
#
#   tools/host-runs-i386.sh
#
# Prints "yes" and exits 0, or prints why not and exits 1. The answer comes
# from the host itself: a 93-byte static i386 program (the system call exit(0)
# and nothing else) is run and must exit 0. QUORVENAL_HOST_NO_I386=1 makes the
# answer "no", so that a host which runs them shows what the other kind does.
set -u

if [ -n "${QUORVENAL_HOST_NO_I386:-}" ]; then
  echo "this host is taken for one that runs no 32-bit x86 programs (QUORVENAL_HOST_NO_I386 is set)"
  exit 1
fi

dir=$(mktemp -d) || { echo "cannot make a temporary folder to probe 32-bit execution"; exit 1; }
trap 'rm -rf "$dir"' EXIT
probe="$dir/exit0-i386"
# ELF header (52 bytes), one loadable segment (32 bytes) at 0x08048000, then
# mov eax, 1; xor ebx, ebx; int 0x80.
printf '%b' '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' \
            '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' \
            '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00' \
            '\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08' \
            '\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00' \
            '\x00\x10\x00\x00\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >"$probe"
chmod +x "$probe"
error=$( { "$probe"; } 2>&1 )
status=$?
if [ $status -eq 0 ]; then
  echo yes
  exit 0
fi
case $error in
  *"Exec format error"*)
    echo "this host does not execute 32-bit x86 programs (a static i386 program got: Exec format error)" ;;
  *)
    echo "this host did not run a static i386 program (exit code $status${error:+: ${error##*: }})" ;;
esac
exit 1
