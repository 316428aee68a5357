"""x64 unwind data: the kernel walks stacks and dispatches exceptions through
the exception directory (.pdata), so every function needs an entry there.
The entries and their unwind information are pefile's; the disassembly is
`objdump -d --no-show-raw-insn IMAGE`, as lines. Every instruction of the
image, padding between functions aside, must lie in a function that the
directory lists, the entry point must begin one, the entries must be sorted
and apart, and each must point at unwind information of version 1. The one
exception is an import thunk, a lone `jmp *SLOT(%rip)` through an import
slot: it never moves the stack pointer, which is how the unwinder treats an
address without an entry (a leaf, its return address on top of the stack).
The linker's empty lists of static constructors and destructors (an all-ones
word, then a zero word) lie in .text too: they are data, not code."""

import re

from pe_file import DIRECTORY_EXCEPTION
from verdict import rule

PADDING = re.compile(r'^(nop[wl]?|xchg\s+%ax,%ax|int3|data16|cs\s+nop[wl]?)\b')
INSTRUCTION = re.compile(r'^\s*([0-9a-f]+):\s+(.*)$')
THUNK = re.compile(r'^jmp\s+\*0x[0-9a-f]+\(%rip\)\s+#\s*(?:0x)?([0-9a-f]+)')
ENTRY_SIZE = 12


def functions(image):
    """(begin, end, unwind information) of each entry that pefile read, and
    the problems: pefile stops at the first entry whose unwind information
    it cannot read (a version other than 1 or 2, an unknown code), so fewer
    entries than the directory's size holds is one of them."""
    entries = [(e.struct.BeginAddress, e.struct.EndAddress, e.unwindinfo)
               for e in getattr(image.pe, 'DIRECTORY_ENTRY_EXCEPTION', [])]
    listed = image.directory(DIRECTORY_EXCEPTION)[1] // ENTRY_SIZE
    problems = []
    if len(entries) < listed:
        problems.append('entry %d of %d has no unwind information of version 1 (%s)' %
                        (len(entries) + 1, listed, '; '.join(image.pe.get_warnings()[-1:]) or 'unreadable'))
    return entries, problems


def empty_constructor_lists(image):
    """The RVA ranges of the linker's empty constructor and destructor lists."""
    marker, ranges = b'\xff' * 8 + b'\0' * 8, []
    for section in image.sections:
        body = section.data()
        at = body.find(marker)
        while at >= 0:
            if at % 8 == 0:
                ranges.append((section.rva + at, section.rva + at + len(marker)))
            at = body.find(marker, at + 1)
    return ranges


def check(image, disassembly):
    entries, problems = functions(image)
    for (begin, end, info), following in zip(entries, entries[1:] + [None]):
        if end <= begin or (following and end > following[0]):
            problems.append('entry 0x%x..0x%x is empty, unsorted or overlaps the next' % (begin, end))
        if info is None or info.Version != 1:
            problems.append('entry 0x%x has no unwind information of version 1' % begin)
    starts = {begin for begin, _end, _info in entries}
    if image.entry not in starts:
        problems.append('the entry point 0x%x begins no listed function' % image.entry)
    slots = image.imports()
    lists = empty_constructor_lists(image)
    uncovered, thunks = [], 0
    for line in disassembly:
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
         'unwind data: ' + ('; '.join(problems[:4]) if entries or problems else 'no exception directory (.pdata)'))
