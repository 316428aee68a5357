"""What the driver's code may contain, by architecture (the disassembly as
lines of `objdump -d --no-show-raw-insn`):
 - x86: nothing beyond the Pentium (i586), the oldest processors 32-bit
   Windows XP runs on (a Pentium or an AMD K6 has no CMOV): no cmov, fcmov,
   fcomi/fucomi, no multi-byte nop (0f 1f), no MMX or SSE register. An
   illegal instruction in a driver stops the machine.
 - x64: no floating point: no x87 instruction, no MMX, SSE or AVX register
   and no MXCSR access (the driver saves no such state)."""

import re

from verdict import rule

INSTRUCTION = re.compile(r'^\s*([0-9a-f]+):\s+(\S+)\s*([^#]*)')
VECTOR = re.compile(r'%([xyz]mm\d+|mm\d|st\b|st\(\d\))')
P6 = re.compile(r'^(cmov[a-z]+|fcmov[a-z]+|f(u)?comip?|nop[wl])$')
X87 = re.compile(r'^f[a-z0-9]+$')
MXCSR = re.compile(r'^(v?ldmxcsr|v?stmxcsr)$')


def check(disassembly, arch):
    found = []
    for line in disassembly:
        m = INSTRUCTION.match(line)
        if not m:
            continue
        address, op, operands = m.groups()
        if arch == 'x86':
            bad = P6.match(op) or VECTOR.search(operands)
        else:
            bad = X87.match(op) or MXCSR.match(op) or VECTOR.search(operands)
        if bad:
            found.append('%s %s %s' % (address, op, operands.strip()))
    if arch == 'x86':
        rule(not found, 'instructions of the Pentium (i586) only',
             'instructions newer than the Pentium (i586): ' + '; '.join(found[:4]))
    else:
        rule(not found, 'no floating-point or vector instructions',
             'floating-point or vector instructions: ' + '; '.join(found[:4]))
