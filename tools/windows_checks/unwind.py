#!/usr/bin/env python3
"""x64 unwind data: the kernel walks stacks and dispatches exceptions through
the exception directory (.pdata), so every function needs an entry there.
    unwind.py IMAGE DISASSEMBLY
DISASSEMBLY is `objdump -d --no-show-raw-insn IMAGE`. Every instruction of the
image, padding between functions aside, must lie in a function that the
directory lists, the entry point must begin one, the entries must be sorted
and apart, and each must point at unwind information of version 1. The one
exception is an import thunk, a lone `jmp *SLOT(%rip)` through an import
slot: it never moves the stack pointer, which is how the unwinder treats an
address without an entry (a leaf, its return address on top of the stack).
The linker's empty lists of static constructors and destructors (an all-ones
word, then a zero word) lie in .text too: they are data, not code."""

import re
import struct
import sys

from pe_image import DIRECTORY_EXCEPTION, PeImage
from verdict import rule

PADDING = re.compile(r'^(nop[wl]?|xchg\s+%ax,%ax|int3|data16|cs\s+nop[wl]?)\b')
INSTRUCTION = re.compile(r'^\s*([0-9a-f]+):\s+(.*)$')
THUNK = re.compile(r'^jmp\s+\*0x[0-9a-f]+\(%rip\)\s+#\s*(?:0x)?([0-9a-f]+)')


def functions(image):
    rva, size = image.directory(DIRECTORY_EXCEPTION)
    at = image.offset_of(rva) if rva else None
    entries = []
    for k in range(size // 12 if at is not None else 0):
        entries.append(struct.unpack_from('<III', image.data, at + 12 * k))
    return entries


def empty_constructor_lists(image):
    """The RVA ranges of the linker's empty constructor and destructor lists."""
    marker, ranges = b'\xff' * 8 + b'\0' * 8, []
    for section in image.sections:
        body = image.data[section.raw_at:section.raw_at + section.raw_size]
        at = body.find(marker)
        while at >= 0:
            if at % 8 == 0:
                ranges.append((section.rva + at, section.rva + at + len(marker)))
            at = body.find(marker, at + 1)
    return ranges


def main(path, disassembly):
    image = PeImage(path)
    entries = functions(image)
    problems = []
    for (begin, end, info), following in zip(entries, entries[1:] + [None]):
        if end <= begin or (following and end > following[0]):
            problems.append('entry 0x%x..0x%x is empty, unsorted or overlaps the next' % (begin, end))
        info_at = image.offset_of(info & ~1)
        if info_at is None or image.data[info_at] & 7 != 1:
            problems.append('entry 0x%x has no unwind information of version 1' % begin)
    starts = {begin for begin, _end, _info in entries}
    if image.entry not in starts:
        problems.append('the entry point 0x%x begins no listed function' % image.entry)
    slots = image.imports()
    lists = empty_constructor_lists(image)
    uncovered, thunks = [], 0
    for line in open(disassembly):
        m = INSTRUCTION.match(line)
        if not m or PADDING.match(m.group(2).strip()):
            continue
        rva = int(m.group(1), 16) - image.image_base
        if any(begin <= rva < end for begin, end, _info in entries) or \
                any(begin <= rva < end for begin, end in lists):
            continue
        thunk = THUNK.match(m.group(2).strip())
        if thunk and int(thunk.group(1), 16) in slots:
            thunks += 1
        else:
            uncovered.append(rva)
    if uncovered:
        problems.append('%d instructions outside every listed function, first at 0x%x' %
                        (len(uncovered), image.image_base + uncovered[0]))
    rule(entries and not problems,
         'unwind data for every function (%d; %d import thunks without a frame)' % (len(entries), thunks),
         'unwind data: ' + ('; '.join(problems[:4]) if entries else 'no exception directory (.pdata)'))


if __name__ == '__main__':
    main(sys.argv[1], sys.argv[2])
