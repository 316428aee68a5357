#!/usr/bin/env python3
"""Release form of a Windows image: no DWARF sections and no COFF symbols in
it, the debug information in IMAGE.debug beside it, named with a matching CRC
by the image's .gnu_debuglink, and a right PE checksum.
    release_form.py IMAGE"""

import os
import struct
import sys
import zlib

from pe_image import PeImage
from verdict import rule


def main(path):
    image = PeImage(path)
    name = os.path.basename(path)
    dwarf = [s.name for s in image.sections if s.name.startswith(('.debug', '.zdebug'))]
    rule(not dwarf, 'no DWARF sections', 'DWARF sections in the image: ' + ' '.join(dwarf))
    rule(image.symbol_count == 0, 'no symbol table', '%d COFF symbols in the image' % image.symbol_count)
    link = [s for s in image.sections if s.name == '.gnu_debuglink']
    debug_file = path + '.debug'
    if not link:
        rule(False, '', 'no .gnu_debuglink naming the debug file')
    else:
        body = image.data[link[0].raw_at:link[0].raw_at + link[0].raw_size]
        linked = body[:body.index(b'\0')].decode('ascii', 'replace')
        crc = struct.unpack_from('<I', body, (len(linked) + 4) & ~3)[0]
        present = os.path.isfile(debug_file)
        matches = present and zlib.crc32(open(debug_file, 'rb').read()) == crc
        rule(linked == name + '.debug' and matches, 'debug information in %s beside it' % (name + '.debug'),
             'debug link names %r (file present: %s, CRC matches: %s)' % (linked, present, matches))
    computed = image.computed_checksum()
    rule(image.checksum == computed, 'PE checksum 0x%x' % image.checksum,
         'PE checksum 0x%x in the header, 0x%x computed' % (image.checksum, computed))


if __name__ == '__main__':
    main(sys.argv[1])
