#include "function_identity.h"

#include <stdio.h>

#include "../../ioctl/sys/pci_registers.h"

bool SameChip(const SpaceImage& saved, const SpaceImage& current) {
    return PciVendorId(saved.Bytes) == PciVendorId(current.Bytes) &&
           PciDeviceId(saved.Bytes) == PciDeviceId(current.Bytes);
}

// The subsystem identifiers are those of the layout the function reads with.
bool SameFunction(const SpaceImage& saved, const SpaceImage& current, char* text) {
    int used = 0;
    text[0] = '\0';
    QvU8 savedRevision = saved.Bytes[kPciRevision];
    QvU8 currentRevision = current.Bytes[kPciRevision];
    if (savedRevision != currentRevision) {
        used = snprintf(text, kIdentityTextBytes, "revision %02x in the file, %02x here", savedRevision,
                        currentRevision);
    }
    unsigned at = PciSubsystemOffset(PciHeaderLayout(current.Bytes));
    if (at == 0 || !saved.RowGiven[at / 16]) return text[0] == '\0';
    unsigned savedVendor = LoadLe16(saved.Bytes + at);
    unsigned savedSubsystem = LoadLe16(saved.Bytes + at + 2);
    unsigned currentVendor = LoadLe16(current.Bytes + at);
    unsigned currentSubsystem = LoadLe16(current.Bytes + at + 2);
    if (savedVendor != currentVendor || savedSubsystem != currentSubsystem) {
        snprintf(text + used, kIdentityTextBytes - used, "%ssubsystem %04x:%04x in the file, %04x:%04x here",
                 used != 0 ? "; " : "", savedVendor, savedSubsystem, currentVendor, currentSubsystem);
    }
    return text[0] == '\0';
}
