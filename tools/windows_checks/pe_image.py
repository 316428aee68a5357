"""A PE image (PE32 or PE32+) as the checks read it: headers, sections, data
directories, the import address table and the checksum."""

import struct

EXECUTE = 0x20000000
READ = 0x40000000
WRITE = 0x80000000
DISCARDABLE = 0x02000000
CODE = 0x00000020

DIRECTORY_IMPORT = 1
DIRECTORY_EXCEPTION = 3
DIRECTORY_SECURITY = 4
DIRECTORY_RELOCATION = 5
DIRECTORY_TLS = 9


class Section:
    def __init__(self, name, virtual_size, rva, raw_size, raw_at, flags):
        self.name, self.virtual_size, self.rva = name, virtual_size, rva
        self.raw_size, self.raw_at, self.flags = raw_size, raw_at, flags

    def holds(self, rva):
        return self.rva <= rva < self.rva + max(self.virtual_size, self.raw_size)


class PeImage:
    def __init__(self, path):
        self.path = path
        data = self.data = open(path, 'rb').read()
        pe = struct.unpack_from('<I', data, 0x3C)[0]
        self.machine, count = struct.unpack_from('<HH', data, pe + 4)
        self.symbols_at, self.symbol_count = struct.unpack_from('<II', data, pe + 12)
        optional_size, self.characteristics = struct.unpack_from('<HH', data, pe + 20)
        optional = pe + 24
        self.magic = struct.unpack_from('<H', data, optional)[0]
        self.pe32plus = self.magic == 0x20B
        self.entry = struct.unpack_from('<I', data, optional + 16)[0]
        if self.pe32plus:
            self.image_base = struct.unpack_from('<Q', data, optional + 24)[0]
            directories = optional + 112
        else:
            self.image_base = struct.unpack_from('<I', data, optional + 28)[0]
            directories = optional + 96
        self.section_alignment, self.file_alignment = struct.unpack_from('<II', data, optional + 32)
        self.checksum_at = optional + 64
        self.checksum = struct.unpack_from('<I', data, self.checksum_at)[0]
        self.subsystem, self.dll_characteristics = struct.unpack_from('<HH', data, optional + 68)
        directory_count = struct.unpack_from('<I', data, directories - 4)[0]
        self.directories = [struct.unpack_from('<II', data, directories + 8 * i) for i in range(directory_count)]
        table = optional + optional_size
        strings = self.symbols_at + 18 * self.symbol_count
        self.sections = []
        for i in range(count):
            h = table + 40 * i
            name = data[h:h + 8].rstrip(b'\0').decode('ascii', 'replace')
            if name.startswith('/') and name[1:].isdigit() and self.symbols_at:
                at = strings + int(name[1:])
                name = data[at:data.index(b'\0', at)].decode('ascii', 'replace')
            self.sections.append(Section(name, *struct.unpack_from('<IIII', data, h + 8),
                                         struct.unpack_from('<I', data, h + 36)[0]))

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def section_at(self, rva):
        return next((s for s in self.sections if s.holds(rva)), None)

    def offset_of(self, rva):
        for s in self.sections:
            if s.rva <= rva < s.rva + s.raw_size and s.raw_at:
                return s.raw_at + rva - s.rva
        return None

    def computed_checksum(self):
        data, total = self.data, 0
        for i in range(0, len(data), 2):
            if i in (self.checksum_at, self.checksum_at + 2):
                continue
            total += data[i] | (data[i + 1] << 8 if i + 1 < len(data) else 0)
            total = (total & 0xFFFF) + (total >> 16)
        return ((total & 0xFFFF) + (total >> 16)) + len(self.data)

    def imports(self):
        """(dll, routine) by the virtual address of its import address table
        slot, for every import by name."""
        slots, data = {}, self.data
        width = 8 if self.pe32plus else 4
        by_ordinal = 1 << (8 * width - 1)
        rva = self.directory(DIRECTORY_IMPORT)[0]
        at = self.offset_of(rva) if rva else None
        while at is not None:
            lookup, _t, _c, name_rva, iat = struct.unpack_from('<IIIII', data, at)
            if lookup == 0 and iat == 0:
                break
            dll_at = self.offset_of(name_rva)
            dll = data[dll_at:data.index(b'\0', dll_at)].decode('ascii', 'replace')
            k = 0
            while True:
                thunk_at = self.offset_of((lookup or iat) + width * k)
                thunk = struct.unpack_from('<Q' if width == 8 else '<I', data, thunk_at)[0]
                if thunk == 0:
                    break
                if not thunk & by_ordinal:
                    n_at = self.offset_of(thunk + 2)
                    slots[self.image_base + iat + width * k] = (dll, data[n_at:data.index(b'\0', n_at)].decode())
                k += 1
            at += 20
        return slots
