#!/usr/bin/env python3
"""Finishes a linked PE image for release, in place:
    pe_finish.py IMAGE [--discardable SECTION]...
marks the named sections discardable (IMAGE_SCN_MEM_DISCARDABLE; GNU as has
no syntax for the flag) and writes the image's checksum, which the system
requires of a kernel driver. Exits 1 when a named section is missing."""

import struct
import sys

DISCARDABLE = 0x02000000


def checksum(data, field):
    total = 0
    for i in range(0, len(data), 2):
        if i in (field, field + 2):
            continue
        total += data[i] | (data[i + 1] << 8 if i + 1 < len(data) else 0)
        total = (total & 0xFFFF) + (total >> 16)
    total = (total & 0xFFFF) + (total >> 16)
    return total + len(data)


def main(argv):
    path, names = argv[1], []
    rest = argv[2:]
    while rest:
        if rest[0] != "--discardable" or len(rest) < 2:
            sys.exit("usage: pe_finish.py IMAGE [--discardable SECTION]...")
        names.append(rest[1])
        rest = rest[2:]
    data = bytearray(open(path, "rb").read())
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    count = struct.unpack_from("<H", data, pe + 6)[0]
    table = pe + 24 + struct.unpack_from("<H", data, pe + 20)[0]
    found = set()
    for i in range(count):
        header = table + 40 * i
        name = bytes(data[header:header + 8]).rstrip(b"\0").decode("ascii", "replace")
        if name in names:
            flags = struct.unpack_from("<I", data, header + 36)[0]
            struct.pack_into("<I", data, header + 36, flags | DISCARDABLE)
            found.add(name)
    missing = [n for n in names if n not in found]
    if missing:
        sys.exit("%s: no section %s" % (path, ", ".join(missing)))
    field = pe + 24 + 64
    struct.pack_into("<I", data, field, checksum(data, field))
    open(path, "wb").write(data)


if __name__ == "__main__":
    main(sys.argv)
