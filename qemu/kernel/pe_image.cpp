// The PE32 loader of the test kernel.
#include "pe_image.h"

#include "kernel_exports.h"
#include "text.h"

namespace {

const USHORT kMachineI386 = 0x014C;
const USHORT kOptionalMagicPe32 = 0x010B;
const ULONG kDirectoryImport = 1;
const ULONG kDirectoryBaseReloc = 5;
const USHORT kRelocAbsolute = 0;
const USHORT kRelocHighLow = 3;
const ULONG kScnDiscardable = 0x02000000;
const ULONG kOrdinalFlag = 0x80000000;

USHORT Get16(const UCHAR* p) { return (USHORT)(p[0] | p[1] << 8); }
ULONG Get32(const UCHAR* p) { return (ULONG)p[0] | (ULONG)p[1] << 8 | (ULONG)p[2] << 16 | (ULONG)p[3] << 24; }
void Put32(UCHAR* p, ULONG v) {
    for (int i = 0; i < 4; ++i) p[i] = (UCHAR)(v >> (8 * i));
}

struct Headers {
    ULONG peOffset;
    ULONG sectionCount;
    ULONG sectionTable;  // file offset of the first section header
    ULONG optional;      // file offset of the optional header
    ULONG dataDirectories;
    ULONG directoryCount;
    ULONG headerBytes;
};

bool Fail(PeImage* image, const char* format, ULONG a = 0, ULONG b = 0) {
    TextFormat(image->problem, sizeof image->problem, format, a, b);
    return false;
}

bool FailNamed(PeImage* image, const char* module, const char* name) {
    TextFormat(image->problem, sizeof image->problem, "import %s!%s is not exported by the test kernel",
               module, name);
    return false;
}

bool ReadHeaders(const UCHAR* file, ULONG bytes, Headers* h, PeImage* image) {
    if (bytes < 0x40 || file[0] != 'M' || file[1] != 'Z') return Fail(image, "no MZ header");
    h->peOffset = Get32(file + 0x3C);
    if (h->peOffset > bytes - 24 || Get32(file + h->peOffset) != 0x00004550) {
        return Fail(image, "no PE signature at 0x%x", h->peOffset);
    }
    const UCHAR* coff = file + h->peOffset + 4;
    if (Get16(coff) != kMachineI386) return Fail(image, "machine 0x%x is not i386", Get16(coff));
    h->sectionCount = Get16(coff + 2);
    ULONG optionalBytes = Get16(coff + 16);
    h->optional = h->peOffset + 24;
    h->sectionTable = h->optional + optionalBytes;
    if (optionalBytes < 96 || h->sectionTable + 40 * h->sectionCount > bytes) {
        return Fail(image, "headers run past the file");
    }
    const UCHAR* opt = file + h->optional;
    if (Get16(opt) != kOptionalMagicPe32)
        return Fail(image, "optional header magic 0x%x is not PE32", Get16(opt));
    image->entryRva = Get32(opt + 16);
    image->preferredBase = Get32(opt + 28);
    image->size = Get32(opt + 56);
    h->headerBytes = Get32(opt + 60);
    image->checksumInFile = Get32(opt + 64);
    h->directoryCount = Get32(opt + 92);
    h->dataDirectories = h->optional + 96;
    if (h->directoryCount > 16 || 96 + 8 * h->directoryCount > optionalBytes) {
        return Fail(image, "%u data directories do not fit the optional header", h->directoryCount);
    }
    if (h->headerBytes > bytes || h->headerBytes > image->size)
        return Fail(image, "SizeOfHeaders 0x%x too large", h->headerBytes);
    return true;
}

bool Directory(const UCHAR* file, const Headers& h, ULONG index, ULONG* rva, ULONG* size) {
    if (index >= h.directoryCount) return false;
    *rva = Get32(file + h.dataDirectories + 8 * index);
    *size = Get32(file + h.dataDirectories + 8 * index + 4);
    return *rva != 0 && *size != 0;
}

// True when [rva, rva + bytes) lies inside the mapped image.
bool Inside(const PeImage* image, ULONG rva, ULONG bytes) {
    return rva <= image->size && bytes <= image->size - rva;
}

bool MapSections(const UCHAR* file, ULONG bytes, const Headers& h, PeImage* image) {
    memset(image->base, 0, image->size);
    memcpy(image->base, file, h.headerBytes);
    for (ULONG i = 0; i < h.sectionCount; ++i) {
        const UCHAR* s = file + h.sectionTable + 40 * i;
        ULONG virtualSize = Get32(s + 8);
        ULONG rva = Get32(s + 12);
        ULONG rawSize = Get32(s + 16);
        ULONG rawOffset = Get32(s + 20);
        ULONG copy = rawSize < virtualSize || virtualSize == 0 ? rawSize : virtualSize;
        if (!Inside(image, rva, virtualSize != 0 ? virtualSize : rawSize)) {
            return Fail(image, "section %u at 0x%x lies outside the image", i, rva);
        }
        if (copy > 0 && (rawOffset > bytes || copy > bytes - rawOffset)) {
            return Fail(image, "section %u: raw data at 0x%x runs past the file", i, rawOffset);
        }
        memcpy(image->base + rva, file + rawOffset, copy);
    }
    return true;
}

bool ApplyRelocations(const UCHAR* file, const Headers& h, PeImage* image) {
    ULONG rva = 0;
    ULONG size = 0;
    image->relocations = 0;
    if (!Directory(file, h, kDirectoryBaseReloc, &rva, &size)) {
        // An image without relocations can only run at its preferred base.
        if ((ULONG)(ULONG_PTR)image->base != image->preferredBase) {
            return Fail(image, "no base relocations, and the image cannot sit at 0x%x", image->preferredBase);
        }
        return true;
    }
    if (!Inside(image, rva, size)) return Fail(image, "relocation directory outside the image");
    ULONG delta = (ULONG)(ULONG_PTR)image->base - image->preferredBase;
    ULONG at = rva;
    while (at + 8 <= rva + size) {
        ULONG page = Get32(image->base + at);
        ULONG blockBytes = Get32(image->base + at + 4);
        if (blockBytes < 8 || (blockBytes & 1) != 0 || at + blockBytes > rva + size) {
            return Fail(image, "relocation block at 0x%x has size %u", at, blockBytes);
        }
        for (ULONG e = at + 8; e < at + blockBytes; e += 2) {
            USHORT entry = Get16(image->base + e);
            USHORT type = entry >> 12;
            ULONG target = page + (entry & 0x0FFF);
            if (type == kRelocAbsolute) continue;
            if (type != kRelocHighLow) return Fail(image, "relocation type %u at 0x%x", type, target);
            if (!Inside(image, target, 4)) return Fail(image, "relocation at 0x%x outside the image", target);
            Put32(image->base + target, Get32(image->base + target) + delta);
            ++image->relocations;
        }
        at += blockBytes;
    }
    return true;
}

// Copies a NUL-terminated name out of the image, bounded.
bool ImageString(const PeImage* image, ULONG rva, char* out, ULONG capacity) {
    for (ULONG i = 0; i + 1 < capacity; ++i) {
        if (!Inside(image, rva + i, 1)) return false;
        out[i] = (char)image->base[rva + i];
        if (out[i] == 0) return true;
    }
    return false;
}

bool ResolveImports(const UCHAR* file, const Headers& h, PeImage* image) {
    ULONG rva = 0;
    ULONG size = 0;
    image->imports = 0;
    if (!Directory(file, h, kDirectoryImport, &rva, &size)) return true;
    for (ULONG d = rva;; d += 20) {
        if (!Inside(image, d, 20)) return Fail(image, "import descriptor at 0x%x outside the image", d);
        ULONG lookup = Get32(image->base + d);
        ULONG nameRva = Get32(image->base + d + 12);
        ULONG iat = Get32(image->base + d + 16);
        if (nameRva == 0 && iat == 0) break;
        char module[32];
        if (!ImageString(image, nameRva, module, sizeof module))
            return Fail(image, "import module name at 0x%x", nameRva);
        if (lookup == 0) lookup = iat;
        for (ULONG slot = 0;; ++slot) {
            if (!Inside(image, lookup + 4 * slot, 4) || !Inside(image, iat + 4 * slot, 4)) {
                return Fail(image, "import table of descriptor 0x%x runs out of the image", d);
            }
            ULONG thunk = Get32(image->base + lookup + 4 * slot);
            if (thunk == 0) break;
            if (thunk & kOrdinalFlag) {
                return Fail(image, "import by ordinal %u (descriptor 0x%x)", thunk & 0xFFFF, d);
            }
            char name[64];
            if (!ImageString(image, thunk + 2, name, sizeof name))
                return Fail(image, "import name at 0x%x", thunk + 2);
            const void* address = KernelExportAddress(module, name);
            if (address == nullptr) return FailNamed(image, module, name);
            Put32(image->base + iat + 4 * slot, (ULONG)(ULONG_PTR)address);
            ++image->imports;
        }
    }
    return true;
}

}  // namespace

ULONG PeChecksum(const UCHAR* file, ULONG fileBytes) {
    ULONG checksumAt = 0xFFFFFFFF;
    if (fileBytes >= 0x40) {
        ULONG pe = Get32(file + 0x3C);
        if (pe <= fileBytes - 24 - 68) checksumAt = pe + 24 + 64;
    }
    ULONG sum = 0;
    for (ULONG i = 0; i < fileBytes; i += 2) {
        if (i == checksumAt || i == checksumAt + 2) continue;
        ULONG word = file[i] | (i + 1 < fileBytes ? (ULONG)file[i + 1] << 8 : 0);
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return sum + fileBytes;
}

bool PeLoad(const UCHAR* file, ULONG fileBytes, UCHAR* area, ULONG areaBytes, PeImage* image) {
    memset(image, 0, sizeof *image);
    image->base = area;
    Headers h;
    if (!ReadHeaders(file, fileBytes, &h, image)) return false;
    image->checksumComputed = PeChecksum(file, fileBytes);
    if (image->size == 0 || image->size > areaBytes) {
        return Fail(image, "SizeOfImage 0x%x does not fit the 0x%x bytes set aside", image->size, areaBytes);
    }
    if (!Inside(image, image->entryRva, 1) || image->entryRva == 0)
        return Fail(image, "entry point 0x%x", image->entryRva);
    return MapSections(file, fileBytes, h, image) && ApplyRelocations(file, h, image) &&
           ResolveImports(file, h, image);
}

ULONG PeDiscardSections(const PeImage& image) {
    const UCHAR* base = image.base;
    ULONG pe = Get32(base + 0x3C);
    ULONG count = Get16(base + pe + 6);
    ULONG table = pe + 24 + Get16(base + pe + 20);
    ULONG discarded = 0;
    for (ULONG i = 0; i < count; ++i) {
        const UCHAR* s = base + table + 40 * i;
        if ((Get32(s + 36) & kScnDiscardable) == 0) continue;
        ULONG rva = Get32(s + 12);
        ULONG bytes = Get32(s + 8);
        if (!Inside(&image, rva, bytes)) continue;
        memset(image.base + rva, 0xCC, bytes);
        discarded += bytes;
    }
    return discarded;
}
