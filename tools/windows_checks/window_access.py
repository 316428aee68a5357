"""The driver's accesses to memory-mapped configuration go through AX only:
some northbridges accept no other register there. The disassembly is
`objdump -d --no-show-raw-insn IMAGE` (32- or 64-bit), as lines. The
window accesses are the 16-bit memory accesses between a call of MmMapIoSpace
and the next call of MmUnmapIoSpace, in the order of the disassembly. A call
or a tail jump goes through the import slot it names (x86: `*0xSLOT`; x64:
`*DISP(%rip)` with the slot in objdump's comment) or through a register
loaded from a slot."""

import re

from verdict import rule

INSTRUCTION = re.compile(r'^\s*([0-9a-f]+):\s+(\S+)\s*([^#]*?)\s*(?:#\s*(?:0x)?([0-9a-f]+).*)?$')
SIXTEEN = re.compile(r'%(ax|bx|cx|dx|si|di|bp|sp|r\d+w)\b')
SLOT_LOAD = re.compile(r'^(?:0x([0-9a-f]+)|0x[0-9a-f]+\(%rip\)),%([er][a-z0-9]+)$')
THROUGH_SLOT = re.compile(r'^\*(?:0x([0-9a-f]+)|0x[0-9a-f]+\(%rip\))$')
THROUGH_REGISTER = re.compile(r'^\*%([er][a-z0-9]+)$')


def through_ax(op, operands):
    if op in ('movzwl', 'movswl', 'movzwq', 'movswq'):
        return operands.endswith((',%eax', ',%rax'))
    if op in ('mov', 'movw'):
        return re.search(r'(^%ax,|,%ax$)', operands) is not None
    return False


def check(image, disassembly):
    slots = {address: routine for address, (_dll, routine) in image.imports().items()}
    held, mapped, faults, accesses = {}, False, [], 0
    for line in disassembly:
        m = INSTRUCTION.match(line)
        if not m:
            continue
        address, op, operands, comment = m.groups()
        named = int(comment, 16) if comment else None
        load = SLOT_LOAD.match(operands)
        if op == 'mov' and load:
            held[load.group(2)] = slots.get(int(load.group(1), 16) if load.group(1) else named)
        if op in ('call', 'jmp'):
            direct, via = THROUGH_SLOT.match(operands), THROUGH_REGISTER.match(operands)
            target = None
            if direct:
                target = slots.get(int(direct.group(1), 16) if direct.group(1) else named)
            elif via:
                target = held.get(via.group(1))
            if target == 'MmMapIoSpace':
                mapped = True
            elif target == 'MmUnmapIoSpace':
                mapped = False
            continue
        if not mapped or '(' not in operands or op.startswith(('lea', 'nop')):
            continue
        wide = op in ('movzwl', 'movswl', 'movzwq', 'movswq', 'movzww', 'movsww') or op.endswith('w') or \
            SIXTEEN.search(operands)
        if not wide:
            continue
        accesses += 1
        if not through_ax(op, operands):
            faults.append('%s %s %s' % (address, op, operands))
    rule(not faults, 'window accessed through AX only (%d 16-bit accesses)' % accesses,
         '16-bit window access through another register than AX: ' + '; '.join(faults[:4]))
