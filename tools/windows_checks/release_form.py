"""Release form of a Windows image: no DWARF sections and no COFF symbols in
it, the debug information in IMAGE.debug beside it, named with a matching CRC
by the image's .gnu_debuglink, and a right PE checksum (pefile's, not the
build's own computation)."""

import os
import struct
import zlib

from verdict import rule


def check(image):
    path = image.path
    name = os.path.basename(path)
    dwarf = [s.name for s in image.sections if s.name.startswith(('.debug', '.zdebug'))]
    rule(not dwarf, 'no DWARF sections', 'DWARF sections in the image: ' + ' '.join(dwarf))
    symbols = image.pe.FILE_HEADER.NumberOfSymbols
    rule(symbols == 0, 'no symbol table', '%d COFF symbols in the image' % symbols)
    link = [s for s in image.sections if s.name == '.gnu_debuglink']
    debug_file = path + '.debug'
    if not link:
        rule(False, '', 'no .gnu_debuglink naming the debug file')
    else:
        body = link[0].data()
        linked = body[:body.index(b'\0')].decode('ascii', 'replace')
        crc = struct.unpack_from('<I', body, (len(linked) + 4) & ~3)[0]
        present = os.path.isfile(debug_file)
        matches = present and zlib.crc32(open(debug_file, 'rb').read()) == crc
        rule(linked == name + '.debug' and matches, 'debug information in %s beside it' % (name + '.debug'),
             'debug link names %r (file present: %s, CRC matches: %s)' % (linked, present, matches))
    computed = image.computed_checksum()
    rule(image.checksum == computed, 'PE checksum 0x%x' % image.checksum,
         'PE checksum 0x%x in the header, 0x%x computed' % (image.checksum, computed))
