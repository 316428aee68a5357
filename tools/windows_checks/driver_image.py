"""The driver image as the kernel loads it:
 - both: DriverEntry in a discardable INIT section, only imports on the
   architecture's list of kernel exports (kernel_exports.py), no thread-local
   storage (the kernel's loader has none for drivers), no .eh_frame;
 - x86: the usual image base 0x10000;
 - x64: an image base above 4 GiB, where the kernel loads it (so that no
   32-bit absolute address can link) and 64-bit relocations only; the
   NX-compatible flag, no section both writable and executable, sections on
   page boundaries (what memory integrity requires of a driver)."""

import kernel_exports
from pe_file import DIRECTORY_TLS, DISCARDABLE, EXECUTE, NX_COMPAT, WRITE
from verdict import rule

PAGE = 0x1000
RELOCATION_NAMES = {0: 'ABSOLUTE', 3: 'HIGHLOW', 10: 'DIR64'}


def check(image, arch):
    optional = image.pe.OPTIONAL_HEADER
    home = image.section_at(image.entry)
    ok = home is not None and home.name == 'INIT' and home.flags & DISCARDABLE != 0
    rule(ok, 'DriverEntry in the discardable INIT section',
         'entry point 0x%x lies in %s' % (image.entry, '%s (flags 0x%08x)' % (home.name, home.flags)
                                          if home else 'no section'))
    allowed, whose = kernel_exports.LISTS[arch]
    names = sorted({routine for _dll, routine in image.imports().values()})
    outside = [n for n in names if n not in allowed]
    rule(not outside, 'imports only routines %s (%d)' % (whose, len(names)),
         'imports routines not on the list of routines %s: %s' % (whose, ' '.join(outside)))
    tls = image.directory(DIRECTORY_TLS)[1] != 0 or any(s.name == '.tls' for s in image.sections)
    rule(not tls, 'no thread-local storage', 'thread-local storage in the image (a .tls section or directory)')
    unwind = [s.name for s in image.sections if s.name in ('.eh_frame', '.eh_fram')]
    rule(not unwind, 'no .eh_frame', 'unwind tables in the image: ' + ' '.join(unwind))

    if arch == 'x86':
        rule(image.image_base == 0x10000, 'image base 0x10000',
             'image base 0x%x, not the driver base 0x10000' % image.image_base)
        return
    rule(image.pe32plus and image.image_base >= 1 << 32, 'image base 0x%x, above 4 GiB' % image.image_base,
         'image base 0x%x, below 4 GiB' % image.image_base)
    kinds = image.relocation_types() - {0}
    rule(kinds <= {10}, 'relocations 64-bit only',
         'relocations of other kinds than 64-bit: ' +
         ' '.join(sorted(RELOCATION_NAMES.get(k, str(k)) for k in kinds - {10})))
    rule(optional.DllCharacteristics & NX_COMPAT != 0, 'NX-compatible',
         'not marked NX-compatible (DllCharacteristics 0x%04x)' % optional.DllCharacteristics)
    both = [s.name for s in image.sections if s.flags & WRITE and s.flags & EXECUTE]
    rule(not both, 'no section both writable and executable',
         'sections both writable and executable: ' + ' '.join(both))
    unaligned = [s.name for s in image.sections if s.rva % PAGE]
    rule(optional.SectionAlignment == PAGE and not unaligned, 'sections on page boundaries',
         'sections not on page boundaries (alignment 0x%x): %s' % (optional.SectionAlignment,
                                                                   ' '.join(unaligned)))
