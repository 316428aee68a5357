// One function's configuration space as a dump file or the hardware holds
// it: 4096 bytes, and which rows of 16 hold data.
#ifndef QVCLI_SPACE_IMAGE_H
#define QVCLI_SPACE_IMAGE_H

#include "pci_address.h"

enum {
    kSpaceBytes = 4096,
    kSpaceRows = kSpaceBytes / 16,
    kHeaderRows = kConfigHeaderBytes / 16,
};

struct SpaceImage {
    PciAddress Address;
    QvU8 Bytes[kSpaceBytes];
    QvU8 RowGiven[kSpaceRows];  // 1 where the row holds data
    int Line;                   // the device line in its file; 0 when read from the hardware
};

// Whether any row beyond the header holds data.
bool HasExtendedRows(const SpaceImage& image);

#endif
