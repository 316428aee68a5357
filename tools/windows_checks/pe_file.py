"""A PE image (PE32 or PE32+) as the checks read it. The reader is pefile
(Debian's python3-pefile), not the build's own post-link step
(cmake/pe_finish.py), so that a fault in how the build reads or writes an
image is not repeated here: pefile gives the headers, the sections, the
imports, the relocations, the exception directory with its unwind
information, the resources and the checksum.

pefile leaves out one fact the checks need: a section name longer than
eight characters (.gnu_debuglink) is stored in the section table as
"/OFFSET" into the COFF string table, which follows the symbol table.
Image.sections resolves those names from pefile's own header fields and
section table, and refuses an offset outside the string table that the
table's size field gives."""

import struct

import pefile

EXECUTE = pefile.SECTION_CHARACTERISTICS['IMAGE_SCN_MEM_EXECUTE']
WRITE = pefile.SECTION_CHARACTERISTICS['IMAGE_SCN_MEM_WRITE']
DISCARDABLE = pefile.SECTION_CHARACTERISTICS['IMAGE_SCN_MEM_DISCARDABLE']
DLL = pefile.IMAGE_CHARACTERISTICS['IMAGE_FILE_DLL']
NX_COMPAT = pefile.DLL_CHARACTERISTICS['IMAGE_DLLCHARACTERISTICS_NX_COMPAT']
DIRECTORY_EXCEPTION = pefile.DIRECTORY_ENTRY['IMAGE_DIRECTORY_ENTRY_EXCEPTION']
DIRECTORY_TLS = pefile.DIRECTORY_ENTRY['IMAGE_DIRECTORY_ENTRY_TLS']

Error = pefile.PEFormatError


class Section:
    def __init__(self, name, header):
        self.name, self.header = name, header
        self.rva, self.flags = header.VirtualAddress, header.Characteristics

    def data(self):
        return self.header.get_data()

    def holds(self, rva):
        return self.rva <= rva < self.rva + max(self.header.Misc_VirtualSize, self.header.SizeOfRawData)


class Image:
    def __init__(self, path):
        self.path = path
        pe = self.pe = pefile.PE(path)
        self.entry = pe.OPTIONAL_HEADER.AddressOfEntryPoint
        self.image_base = pe.OPTIONAL_HEADER.ImageBase
        self.pe32plus = pe.OPTIONAL_HEADER.Magic == pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS
        self.checksum = pe.OPTIONAL_HEADER.CheckSum
        self.sections = [Section(self._long_name(s.Name.rstrip(b'\0')), s) for s in pe.sections]

    def _long_name(self, raw):
        name = raw.decode('ascii', 'replace')
        symbols_at = self.pe.FILE_HEADER.PointerToSymbolTable
        if not (name.startswith('/') and name[1:].isdigit() and symbols_at):
            return name
        data = self.pe.__data__
        strings = symbols_at + 18 * self.pe.FILE_HEADER.NumberOfSymbols
        offset = int(name[1:])
        if strings + 4 > len(data) or not 4 <= offset < struct.unpack_from('<I', data, strings)[0]:
            return name
        end = data.find(b'\0', strings + offset)
        return data[strings + offset:end if end >= 0 else len(data)].decode('ascii', 'replace')

    def directory(self, index):
        entries = self.pe.OPTIONAL_HEADER.DATA_DIRECTORY
        return (entries[index].VirtualAddress, entries[index].Size) if index < len(entries) else (0, 0)

    def section_at(self, rva):
        return next((s for s in self.sections if s.holds(rva)), None)

    def computed_checksum(self):
        return self.pe.generate_checksum()

    def dlls(self):
        entries = getattr(self.pe, 'DIRECTORY_ENTRY_IMPORT', [])
        return sorted({d.dll.decode('ascii', 'replace').lower() for d in entries})

    def imports(self):
        """(dll, routine) by the virtual address of its import address table
        slot, for every import by name."""
        slots = {}
        for d in getattr(self.pe, 'DIRECTORY_ENTRY_IMPORT', []):
            for routine in d.imports:
                if routine.name is not None:
                    slots[routine.address] = (d.dll.decode('ascii', 'replace'), routine.name.decode('ascii', 'replace'))
        return slots

    def relocation_types(self):
        return {entry.type for block in getattr(self.pe, 'DIRECTORY_ENTRY_BASERELOC', []) for entry in block.entries}

    def resources(self):
        """The resource bodies by (type, name), ids as numbers, names as
        strings; of each, the first language."""
        found = {}
        root = getattr(self.pe, 'DIRECTORY_ENTRY_RESOURCE', None)
        for kind in root.entries if root else []:
            for item in getattr(kind, 'directory', None) and kind.directory.entries or []:
                languages = getattr(item, 'directory', None) and item.directory.entries or []
                if languages and getattr(languages[0], 'data', None):
                    at = languages[0].data.struct
                    found[(key(kind), key(item))] = self.pe.get_data(at.OffsetToData, at.Size)
        return found


def key(entry):
    return entry.id if entry.name is None else str(entry.name)
