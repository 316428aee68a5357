// Maps a PE32 kernel-mode image the way the Windows loader does before it
// calls the driver: the headers and each section at its virtual address,
// the base relocations applied for the address it lands at, every import
// resolved by name against the test kernel's exports. Anything it does not
// understand (a relocation type, an import by ordinal, a name it does not
// export, a section outside the image) stops the load with a reason.
#ifndef QVBARE_PE_IMAGE_H
#define QVBARE_PE_IMAGE_H

#include <ntddk.h>

struct PeImage {
    UCHAR* base;          // where the image is mapped
    ULONG size;           // SizeOfImage
    ULONG preferredBase;  // ImageBase in the file
    ULONG entryRva;       // AddressOfEntryPoint
    ULONG relocations;    // fixups applied
    ULONG imports;        // import address table slots filled
    ULONG checksumInFile;
    ULONG checksumComputed;
    char problem[160];  // why the load stopped, when it did
};

// Loads `file` into `area`, which must hold SizeOfImage bytes.
bool PeLoad(const UCHAR* file, ULONG fileBytes, UCHAR* area, ULONG areaBytes, PeImage* image);

// The PE checksum of a file as the loader computes it (the checksum field
// itself taken as 0, the file's length added).
ULONG PeChecksum(const UCHAR* file, ULONG fileBytes);

// Overwrites the sections marked discardable with int3 (0xCC), as the
// system frees them once DriverEntry has returned; returns how many bytes.
ULONG PeDiscardSections(const PeImage& image);

#endif
