#!/usr/bin/env python3
"""Shows that tools/check-windows-binaries.sh rejects faulty deliverables:
    rejects.py TOP WIN32_DIR WIN64_DIR WORK_DIR [FAULT...]
(run by tools/check-rejects.sh, which finds the tools first); with FAULT
names, only those faults are planted. Each fault is
planted in a copy of one shipped file of one architecture, in a folder of its
own under WORK_DIR; the checker must exit 1 on that folder, print a FAIL line
for each message the fault is expected to cause, and no other FAIL line. The
untouched build folders, and a copy that went through the planting steps
with no fault, must pass.

How a copy is made: the file and its .debug beside it are copied; the fault
is planted; the PE checksum is written again (pefile's) unless the fault is
the checksum. A 64-bit file's signature is removed before the fault and the
file signed again after it, with a certificate made for this run (the copy's
signing-certificate.pem), so that the signature stays right unless the fault
is the signature."""

import os
import re
import shutil
import struct
import subprocess
import sys

import pefile

TRIPLES = {'x86': 'i686-w64-mingw32', 'x64': 'x86_64-w64-mingw32'}
FILES = {'exe': 'quorvenal.exe', 'qvcli': 'qvcli.exe', 'sys': 'QUORVENAL.sys'}
KERNELS = {'x86': 'Windows XP exports', 'x64': 'the x64 kernels of Windows 7, 10 and 11 export'}
WRITE = pefile.SECTION_CHARACTERISTICS['IMAGE_SCN_MEM_WRITE']
DISCARDABLE = pefile.SECTION_CHARACTERISTICS['IMAGE_SCN_MEM_DISCARDABLE']


# ---- Writing into a copy ----

def put(path, offset, data):
    with open(path, 'r+b') as f:
        f.seek(offset)
        f.write(data)


def field(pe, structure, name, fmt, value):
    """Writes VALUE into the header field NAME of pefile's STRUCTURE."""
    put(pe.path, structure.get_field_absolute_offset(name), struct.pack(fmt, value))


def replace_all(path, old, new, within=None):
    """Replaces every OLD by NEW (of the same length) in the file, or in the
    byte range WITHIN; fails when there is none."""
    assert len(old) == len(new)
    data = bytearray(open(path, 'rb').read())
    begin, end = within or (0, len(data))
    count = data.count(old, begin, end)
    if count == 0:
        raise SystemExit('%s: %r not found to plant a fault' % (path, old))
    data[begin:end] = data[begin:end].replace(old, new)
    open(path, 'wb').write(data)


def load(path):
    pe = pefile.PE(path)
    pe.path = path
    return pe


def write_checksum(path):
    pe = load(path)
    field(pe, pe.OPTIONAL_HEADER, 'CheckSum', '<I', pe.generate_checksum())


def section(pe, name):
    return next(s for s in pe.sections if s.Name.rstrip(b'\0') == name)


def resource_range(pe, kind):
    """The file offsets of the first resource of type KIND."""
    for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if entry.id == kind:
            data = entry.directory.entries[0].directory.entries[0].data.struct
            at = pe.get_offset_from_rva(data.OffsetToData)
            return at, at + data.Size
    raise SystemExit('%s: no resource of type %d to plant a fault in' % (pe.path, kind))


def instructions(pe, arch):
    """(file offset, bytes, text) of each instruction objdump disassembles."""
    out = subprocess.run([TRIPLES[arch] + '-objdump', '-d', pe.path], capture_output=True, text=True,
                         check=True).stdout
    base = pe.OPTIONAL_HEADER.ImageBase
    for line in out.splitlines():
        parts = line.split('\t')
        m = re.match(r'^\s*([0-9a-f]+):$', parts[0])
        if m and len(parts) >= 3:
            raw = bytes(int(b, 16) for b in parts[1].split())
            yield pe.get_offset_from_rva(int(m.group(1), 16) - base), raw, parts[2].strip()


def patch_code(pe, arch, pattern, change, first_only=False):
    """Rewrites each instruction whose text matches PATTERN with
    CHANGE(bytes), an encoding of the same length."""
    done = 0
    for at, raw, text in list(instructions(pe, arch)):
        if re.search(pattern, text):
            new = change(raw)
            assert len(new) == len(raw)
            put(pe.path, at, new)
            done += 1
            if first_only:
                break
    if not done:
        raise SystemExit('%s: no instruction matches %r' % (pe.path, pattern))


def movzx_to(opcode):
    """movzwl (mem),%eax (0f b7 /r) with another second opcode byte, the
    operands kept: 0f 44 is cmove, 0f 28 movaps."""
    return lambda raw: raw.replace(b'\x0f\xb7', b'\x0f' + bytes([opcode]), 1)


def into_bx(raw):
    """A 16-bit mov between AX and memory (66 [REX] 89|8b /r) with BX as its
    register instead: the ModRM byte's register field 000 becomes 011."""
    at = 2 if 0x40 <= raw[1] <= 0x4F else 1
    assert raw[0] == 0x66 and raw[at] in (0x89, 0x8B) and (raw[at + 1] >> 3) & 7 == 0
    return raw[:at + 1] + bytes([raw[at + 1] | 0x18]) + raw[at + 2:]


# ---- The faults: (name, file kind, architectures, plant, expected FAIL messages) ----
# A plant is called with the loaded copy and the architecture. Each message
# is a piece of one FAIL line, after "FAIL: FILE: ".

def set_checksum_wrong(pe, _arch):
    field(pe, pe.OPTIONAL_HEADER, 'CheckSum', '<I', pe.OPTIONAL_HEADER.CheckSum + 1)


def other_machine(pe, arch):
    field(pe, pe.FILE_HEADER, 'Machine', '<H', 0x8664 if arch == 'x86' else 0x14C)


def subsystem(number):
    return lambda pe, _arch: field(pe, pe.OPTIONAL_HEADER, 'Subsystem', '<H', number)


def dll_flag(pe, _arch):
    field(pe, pe.FILE_HEADER, 'Characteristics', '<H', pe.FILE_HEADER.Characteristics | 0x2000)


def rename_import(old, new):
    def plant(pe, _arch):
        replace_all(pe.path, old + b'\0', new.ljust(len(old), b'\0') + b'\0')
    return plant


def init_kept(pe, _arch):
    init = section(pe, b'INIT')
    field(pe, init, 'Characteristics', '<I', init.Characteristics & ~DISCARDABLE)


def no_entry(pe, _arch):
    field(pe, pe.OPTIONAL_HEADER, 'AddressOfEntryPoint', '<I', 0)


def rename_section(name):
    def plant(pe, _arch):
        field(pe, section(pe, b'.rdata'), 'Name', '8s', name)
    return plant


def symbols(pe, _arch):
    field(pe, pe.FILE_HEADER, 'NumberOfSymbols', '<I', 5)


def debug_file_changed(pe, _arch):
    with open(pe.path + '.debug', 'ab') as f:
        f.write(b'\0')


def debug_file_missing(pe, _arch):
    os.remove(pe.path + '.debug')


def image_base(value):
    return lambda pe, _arch: field(pe, pe.OPTIONAL_HEADER, 'ImageBase',
                                   '<Q' if pe.OPTIONAL_HEADER.Magic == 0x20B else '<I', value)


def relocation_32(pe, _arch):
    entry = pe.DIRECTORY_ENTRY_BASERELOC[0].entries[0].struct
    field(pe, entry, 'Data', '<H', (3 << 12) | (entry.Data & 0xFFF))


def no_nx(pe, _arch):
    field(pe, pe.OPTIONAL_HEADER, 'DllCharacteristics', '<H', pe.OPTIONAL_HEADER.DllCharacteristics & ~0x100)


def writable_text(pe, _arch):
    text = section(pe, b'.text')
    field(pe, text, 'Characteristics', '<I', text.Characteristics | WRITE)


def alignment(pe, _arch):
    field(pe, pe.OPTIONAL_HEADER, 'SectionAlignment', '<I', 0x200)


def drop_first_function(pe, _arch):
    directory = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY['IMAGE_DIRECTORY_ENTRY_EXCEPTION']]
    field(pe, directory, 'VirtualAddress', '<I', directory.VirtualAddress + 12)
    field(pe, directory, 'Size', '<I', directory.Size - 12)


def unwind_version(version):
    def plant(pe, _arch):
        info = pe.DIRECTORY_ENTRY_EXCEPTION[0].struct.UnwindData
        at = pe.get_offset_from_rva(info)
        put(pe.path, at, bytes([(pe.__data__[at] & ~7) | version]))
    return plant


def ports_removed(pe, arch):
    patch_code(pe, arch, r'^in\s+\(%dx\),%eax$', lambda raw: b'\x90')
    patch_code(pe, arch, r'^out\s+%eax,\(%dx\)$', lambda raw: b'\x90')


def window_through_bx(pe, arch):
    patch_code(pe, arch, r'^mov\s+(%ax,[^%]*\(|[^%]*\(.*\),%ax$)', into_bx)


def cmov(pe, arch):
    patch_code(pe, arch, r'^movzwl\s+\(', movzx_to(0x44), first_only=True)


def vector(pe, arch):
    patch_code(pe, arch, r'^movzwl\s+\(', movzx_to(0x28), first_only=True)


def resource_text(kind, old, new, encoding='utf-16-le'):
    def plant(pe, _arch):
        replace_all(pe.path, old.encode(encoding), new.encode(encoding), resource_range(pe, kind))
    return plant


def icon_count(pe, _arch):
    at, _end = resource_range(pe, 14)
    put(pe.path, at + 4, struct.pack('<H', 8))


def version_number(pe, _arch):
    fixed = pe.VS_FIXEDFILEINFO[0]
    field(pe, fixed, 'FileVersionLS', '<I', fixed.FileVersionLS + 1)


def fixed_info_gone(pe, _arch):
    field(pe, pe.VS_FIXEDFILEINFO[0], 'Signature', '<I', 0)


def unreadable(pe, _arch):
    field(pe, pe.NT_HEADERS, 'Signature', '<I', 0)


def stub_byte(pe, _arch):
    """One byte of the DOS stub's text, changed after signing: the code stays
    as it was, the signed digest no longer matches."""
    data = pe.__data__
    at = bytes(data[:0x200]).index(b'This program cannot be run')
    put(pe.path, at, bytes([data[at] ^ 0x20]))


BOTH, X86, X64 = ('x86', 'x64'), ('x86',), ('x64',)
SIGNATURE = 'no valid signature'
# When a fault goes in: BEFORE the checksum and the signature (which then
# cover it); AFTER them, the checksum written again (a 64-bit file's
# signature then no longer matches, the checksum does); LAST, nothing
# written after it; UNSIGNED is no fault but a 64-bit copy left unsigned.
BEFORE, AFTER, LAST, UNSIGNED = 'before', 'after', 'last', 'unsigned'
FAULTS = [
    ('checksum', 'sys', BOTH, set_checksum_wrong, ['PE checksum 0x'], LAST),
    ('checksum', 'exe', BOTH, set_checksum_wrong, ['PE checksum 0x'], LAST),
    ('checksum', 'qvcli', BOTH, set_checksum_wrong, ['PE checksum 0x'], LAST),
    ('machine', 'exe', BOTH, other_machine, ['not a pei-'], BEFORE),
    ('subsystem', 'exe', BOTH, subsystem(3), ['subsystem is not Windows GUI'], BEFORE),
    ('subsystem', 'qvcli', BOTH, subsystem(2), ['subsystem is not Windows console'], BEFORE),
    ('subsystem', 'sys', BOTH, subsystem(3), ['subsystem is not native'], BEFORE),
    ('dll', 'sys', BOTH, dll_flag, ['DLL flag set'], BEFORE),
    ('kernel32', 'sys', BOTH, rename_import(b'ntoskrnl.exe', b'kernel32.dll'),
     ['imports from: hal.dll kernel32.dll'], BEFORE),
    ('secure', 'sys', BOTH, rename_import(b'IoDeleteSymbolicLink', b'IoCreateDeviceSecure'),
     ['does not import IoDeleteSymbolicLink', "uses the platform's IoCreateDeviceSecure",
      'imports routines not on the list of routines {kernels}: IoCreateDeviceSecure'], BEFORE),
    ('kfraiseirql', 'sys', X64, rename_import(b'KeReleaseMutex', b'KfRaiseIrql'),
     ['imports routines not on the list of routines {kernels}: KfRaiseIrql'], BEFORE),
    ('ports', 'sys', BOTH, ports_removed,
     ['has no 32-bit port input instruction', 'has no 32-bit port output instruction'], BEFORE),
    ('entry', 'sys', X86, no_entry, ['no entry point', 'entry point 0x0 lies in no section'], BEFORE),
    ('entry', 'sys', X64, no_entry, ['no entry point', 'entry point 0x0 lies in no section',
                                     'the entry point 0x0 begins no listed function'], BEFORE),
    ('init', 'sys', BOTH, init_kept, ['entry point 0x', ' lies in INIT (flags 0x'], BEFORE),
    ('tls', 'sys', BOTH, rename_section(b'.tls'), ['thread-local storage in the image'], BEFORE),
    ('eh-frame', 'sys', BOTH, rename_section(b'.eh_fram'), ['unwind tables in the image: .eh_fram'], BEFORE),
    ('dwarf', 'sys', BOTH, rename_section(b'.debug_a'), ['DWARF sections in the image: .debug_a'], BEFORE),
    ('dwarf', 'exe', BOTH, rename_section(b'.debug_a'), ['DWARF sections in the image: .debug_a'], BEFORE),
    # The count moves the string table that the long section names are in.
    ('symbols', 'qvcli', BOTH, symbols, ['5 COFF symbols in the image', 'no .gnu_debuglink'], BEFORE),
    ('debug-crc', 'sys', BOTH, debug_file_changed, ['(file present: True, CRC matches: False)'], BEFORE),
    ('debug-missing', 'exe', BOTH, debug_file_missing, ['(file present: False, CRC matches: False)'], BEFORE),
    ('base', 'sys', X86, image_base(0x400000), ['image base 0x400000, not the driver base 0x10000'], BEFORE),
    ('base', 'sys', X64, image_base(0x10000), ['image base 0x10000, below 4 GiB'], BEFORE),
    ('relocation', 'sys', X64, relocation_32, ['relocations of other kinds than 64-bit: HIGHLOW'], BEFORE),
    ('nx', 'sys', X64, no_nx, ['not marked NX-compatible'], BEFORE),
    ('wx', 'sys', X64, writable_text, ['sections both writable and executable: .text'], BEFORE),
    ('alignment', 'sys', X64, alignment, ['sections not on page boundaries (alignment 0x200)'], BEFORE),
    ('unwind-missing', 'sys', X64, drop_first_function, ['instructions outside every listed function'], BEFORE),
    ('unwind-v2', 'sys', X64, unwind_version(2), ['has no unwind information of version 1'], BEFORE),
    ('unwind-v3', 'sys', X64, unwind_version(3), ['entry 1 of ', 'has no unwind information of version 1'],
     BEFORE),
    # x64 only: the 32-bit driver's window accesses are the kernel's READ_REGISTER_USHORT and
    # WRITE_REGISTER_USHORT, so its own code holds none to move to another register.
    ('window', 'sys', X64, window_through_bx, ['16-bit window access through another register than AX'], BEFORE),
    ('cmov', 'sys', X86, cmov, ['instructions newer than the Pentium (i586): '], BEFORE),
    ('vector', 'sys', X64, vector, ['floating-point or vector instructions: '], BEFORE),
    ('dialog', 'exe', BOTH, resource_text(5, 'Rescan bus', 'Rescan Bus'), ['dialog resource'], BEFORE),
    ('icon', 'exe', BOTH, icon_count, ['icon resource'], BEFORE),
    ('version', 'exe', BOTH, version_number, ['version resource'], BEFORE),
    ('version', 'qvcli', BOTH, resource_text(16, 'qvcli.exe', 'qvcmd.exe'), ['qvcli-version resource'], BEFORE),
    ('manifest', 'qvcli', BOTH, resource_text(24, '"requireAdministrator"', '"asInvoker"' + ' ' * 11, 'ascii'),
     ['admin-manifest resource'], BEFORE),
    ('version', 'sys', BOTH, fixed_info_gone, ['driver-version resource'], BEFORE),
    ('unreadable', 'qvcli', X86, unreadable, ['pefile cannot read it'], LAST),
    ('unreadable', 'qvcli', X64, unreadable, ['pefile cannot read it', SIGNATURE], LAST),
    ('tampered', 'sys', X64, stub_byte, [SIGNATURE], AFTER),
    ('unsigned', 'sys', X64, None, [SIGNATURE], UNSIGNED),
]
# What the problem lines under a resource's FAIL line must say.
DETAILS = {
    ('dialog', 'exe'): "control 3 is (1001, 128, 'Rescan Bus'",
    ('icon', 'exe'): 'group icon 128 image count is 8',
    ('version', 'exe'): 'file and product version is ((1, 0, 0, 2)',
    ('version', 'qvcli'): "InternalName is 'qvcmd.exe'",
    ('manifest', 'qvcli'): "requested execution level (asm.v3 trustInfo) is ['asInvoker']",
    ('version', 'sys'): 'version resource has no fixed file information',
    ('window', 'sys'): '%bx',
}


class Run:
    def __init__(self, top, builds, work):
        self.top, self.builds, self.work, self.failures = top, builds, work, 0

    def checker(self, arch, folder, what):
        done = subprocess.run([os.path.join(self.top, 'tools/check-windows-binaries.sh'), '--arch', arch, folder,
                               what], capture_output=True, text=True)
        return done.returncode, done.stdout

    def miss(self, text):
        print('MISSED: ' + text)
        self.failures += 1

    def sign(self, path):
        subprocess.run(['osslsigncode', 'sign', '-certs', os.path.join(self.work, 'test.pem'), '-key',
                        os.path.join(self.work, 'test.key'), '-h', 'sha256', '-in', path, '-out', path + '.signed'],
                       check=True, capture_output=True)
        os.replace(path + '.signed', path)

    def copy(self, arch, kind, name):
        """A folder with the shipped file of KIND and its debug file."""
        folder = os.path.join(self.work, '%s-%s-%s' % (arch, kind, name))
        os.makedirs(folder)
        path = os.path.join(folder, FILES[kind])
        shutil.copy(os.path.join(self.builds[arch], FILES[kind]), path)
        shutil.copy(os.path.join(self.builds[arch], FILES[kind] + '.debug'), path + '.debug')
        if arch == 'x64':
            shutil.copy(os.path.join(self.work, 'test.pem'), os.path.join(folder, 'signing-certificate.pem'))
            subprocess.run(['osslsigncode', 'remove-signature', '-in', path, '-out', path + '.bare'], check=True,
                           capture_output=True)
            os.replace(path + '.bare', path)
        return folder, path

    def plant(self, arch, kind, name, plant, when):
        folder, path = self.copy(arch, kind, name)
        if plant and when == BEFORE:
            plant(load(path), arch)
        write_checksum(path)
        if arch == 'x64' and when != UNSIGNED:
            self.sign(path)
        if plant and when in (AFTER, LAST):
            plant(load(path), arch)
            if when == AFTER:
                write_checksum(path)
        return folder

    def expect_pass(self, arch, folder, what, label):
        status, out = self.checker(arch, folder, what)
        if status == 0:
            print('passes: %s (%s)' % (label, arch))
        else:
            print(out)
            self.miss('the checker exited with %d on %s (%s), not 0' % (status, label, arch))

    def expect_faults(self, arch, kind, name, folder, messages):
        status, out = self.checker(arch, folder, kind)
        label = '%s %s %s' % (arch, FILES[kind], name)
        prefix = 'FAIL: %s: ' % FILES[kind]
        fails = [line[len(prefix):] for line in out.splitlines() if line.startswith('FAIL: ')]
        messages = [m.format(kernels=KERNELS[arch]) for m in messages]
        problems = []
        if status != 1:
            problems.append('the checker exited with %d, not 1' % status)
        problems += ['no FAIL line says %r' % m for m in messages if not any(m in f for f in fails)]
        problems += ['unexpected FAIL line: %s' % f for f in fails if not any(m in f for m in messages)]
        detail = DETAILS.get((name, kind))
        if detail and detail not in out:
            problems.append('no line says %r' % detail)
        if problems:
            print(out)
            for problem in problems:
                self.miss('%s: %s' % (label, problem))
        else:
            print('caught: %s: %s' % (label, ' | '.join(fails)))


def main(top, win32, win64, work, *only):
    builds = {'x86': os.path.abspath(win32), 'x64': os.path.abspath(win64)}
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    # A certificate made for this run only; its key goes with the work folder.
    subprocess.run(['openssl', 'req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-days', '2', '-subj',
                    '/CN=quorvenal checker test', '-addext', 'extendedKeyUsage=codeSigning', '-keyout',
                    os.path.join(work, 'test.key'), '-out', os.path.join(work, 'test.pem')],
                   check=True, capture_output=True)
    run = Run(top, builds, work)
    for arch in ('x86', 'x64'):
        run.expect_pass(arch, builds[arch], 'all', 'the shipped files')
        for kind in FILES:
            run.expect_pass(arch, run.plant(arch, kind, 'none', None, BEFORE), kind, FILES[kind] + ' copied, no fault')
    count = 0
    for name, kind, arches, plant, messages, when in FAULTS:
        for arch in arches if not only or name in only else ():
            run.expect_faults(arch, kind, name, run.plant(arch, kind, name, plant, when), messages)
            count += 1
    if run.failures:
        print('%d fault(s) missed' % run.failures)
        return 1
    print('the checker rejects all %d planted faults and passes the shipped files' % count)
    return 0


if __name__ == '__main__':
    sys.exit(main(*sys.argv[1:]))
