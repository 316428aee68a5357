#include "expected_refusals.h"

#include <string.h>

#include "../../ioctl/sys/pci_registers.h"

namespace {

const QvU8 kAll = 0xFF;
const unsigned kErrorReportingId = 0x0001;
const unsigned kErrorReportingBytes = 0x34;

void IgnoreRange(QvU8* ignore, unsigned offset, unsigned length) { memset(ignore + offset, kAll, length); }

// The identifier and next-pointer bytes of every capability.
void IgnoreCapabilityHeaders(const SpaceImage& saved, unsigned pointerOffset, QvU8* ignore) {
    PciCapabilityWalk walk = StartPciCapabilityWalk(saved.Bytes, pointerOffset);
    unsigned entry;
    while (NextPciCapability(&walk, &entry)) IgnoreRange(ignore, entry, 2);
}

// The error-reporting capability at `offset`: its uncorrectable and
// correctable error status registers clear the bits written with 1, its
// header log is read-only, and a root port's root error status (bits 0..6)
// clears on a 1 too.
void IgnoreErrorReporting(const SpaceImage& saved, unsigned offset, QvU8* ignore) {
    if (offset + kErrorReportingBytes > kSpaceBytes) return;
    IgnoreRange(ignore, offset + 0x04, 4);
    IgnoreRange(ignore, offset + 0x10, 4);
    IgnoreRange(ignore, offset + 0x1C, 16);
    if (PciHeaderLayout(saved.Bytes) == kPciLayoutBridge) ignore[offset + 0x30] |= 0x7F;
}

// The header doubleword of every extended capability, and what the
// error-reporting capability refuses.
void IgnoreExtendedHeaders(const SpaceImage& saved, QvU8* ignore) {
    PciExtendedCapabilityWalk walk = StartPciExtendedCapabilityWalk(saved.Bytes);
    unsigned entry;
    while (NextPciExtendedCapability(&walk, &entry)) {
        IgnoreRange(ignore, entry, 4);
        if (LoadLe16(saved.Bytes + entry) == kErrorReportingId) IgnoreErrorReporting(saved, entry, ignore);
    }
}

// The high byte of each status register whose bits 8, 11..15 clear on a 1,
// by header layout; 0 ends the list.
void StatusHighBytes(const QvU8* header, unsigned* offsets) {
    unsigned secondary = PciSecondaryStatusOffset(PciHeaderLayout(header));
    offsets[0] = kPciStatus + 1;
    offsets[1] = secondary != 0 ? secondary + 1 : 0;
    offsets[2] = 0;
}

}  // namespace

void LeaveStatusAlone(QvU8* header) {
    unsigned offsets[3];
    StatusHighBytes(header, offsets);
    for (unsigned i = 0; offsets[i] != 0; ++i) header[offsets[i]] &= (QvU8)~kPciStatusClearOnOneHigh;
}

void ExpectedRefusals(const SpaceImage& written, const SpaceImage& readBack, bool withExtended,
                      QvU8* ignore) {
    memset(ignore, 0, kSpaceBytes);
    IgnoreRange(ignore, kPciVendorId, 4);  // vendor and device identifiers
    IgnoreRange(ignore, kPciRevision, 4);  // revision and class code
    IgnoreRange(ignore, kPciHeaderType, 1);
    unsigned statusBytes[3];
    StatusHighBytes(readBack.Bytes, statusBytes);
    for (unsigned i = 0; statusBytes[i] != 0; ++i) ignore[statusBytes[i]] = kPciStatusClearOnOneHigh;
    unsigned layout = PciHeaderLayout(readBack.Bytes);
    unsigned pointerOffset = PciCapabilityPointerOffset(layout);
    if (pointerOffset == 0) return;  // a layout nobody knows: only the common identifiers
    unsigned subsystem = PciSubsystemOffset(layout);
    if (subsystem != 0) IgnoreRange(ignore, subsystem, 4);  // subsystem vendor and subsystem
    IgnoreCapabilityHeaders(written, pointerOffset, ignore);
    IgnoreCapabilityHeaders(readBack, pointerOffset, ignore);
    if (withExtended) {
        IgnoreExtendedHeaders(written, ignore);
        IgnoreExtendedHeaders(readBack, ignore);
    }
}
