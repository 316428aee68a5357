#include "expected_refusals.h"

#include <string.h>

namespace {

const QvU8 kAll = 0xFF;
const QvU8 kStatusClearedHigh = 0xF9;  // status bits 8, 11..15 in the register's high byte
const QvU8 kCapabilityListFlag = 0x10;
const int kMaxCapabilityEntries = 64;  // as many as the masked pointer can take
const int kMaxExtendedEntries = (kSpaceBytes - kConfigHeaderBytes) / 4;
const QvU32 kErrorReportingId = 0x0001;
const unsigned kErrorReportingBytes = 0x34;

void IgnoreRange(QvU8* ignore, unsigned offset, unsigned length) { memset(ignore + offset, kAll, length); }

void IgnoreCapabilityHeaders(const SpaceImage& saved, unsigned pointerOffset, QvU8* ignore) {
    if ((saved.Bytes[0x06] & kCapabilityListFlag) == 0) return;
    unsigned pointer = saved.Bytes[pointerOffset];
    for (int visited = 0; visited < kMaxCapabilityEntries && pointer != 0; ++visited) {
        unsigned entry = pointer & 0xFC;
        IgnoreRange(ignore, entry, 2);
        pointer = saved.Bytes[entry + 1];
    }
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
    if ((saved.Bytes[0x0E] & 0x7F) == 1) ignore[offset + 0x30] |= 0x7F;
}

void IgnoreExtendedHeaders(const SpaceImage& saved, QvU8* ignore) {
    unsigned offset = kConfigHeaderBytes;
    for (int visited = 0; visited < kMaxExtendedEntries; ++visited) {
        QvU32 header = saved.Bytes[offset] | (saved.Bytes[offset + 1] << 8) |
                       (saved.Bytes[offset + 2] << 16) | ((QvU32)saved.Bytes[offset + 3] << 24);
        if (header == 0 || header == 0xFFFFFFFF) return;
        IgnoreRange(ignore, offset, 4);
        if ((header & 0xFFFF) == kErrorReportingId) IgnoreErrorReporting(saved, offset, ignore);
        offset = (header >> 20) & 0xFFC;
        if (offset < kConfigHeaderBytes) return;
    }
}

// The high byte of each status register whose bits 8, 11..15 clear on a 1,
// by header type; 0 ends the list.
void StatusHighBytes(const QvU8* header, unsigned* offsets) {
    offsets[0] = 0x07;
    offsets[1] = 0;
    switch (header[0x0E] & 0x7F) {
        case 1: offsets[1] = 0x1F; break;
        case 2: offsets[1] = 0x17; break;
        default: break;
    }
    offsets[2] = 0;
}

}  // namespace

void LeaveStatusAlone(QvU8* header) {
    unsigned offsets[3];
    StatusHighBytes(header, offsets);
    for (unsigned i = 0; offsets[i] != 0; ++i) header[offsets[i]] &= (QvU8)~kStatusClearedHigh;
}

void ExpectedRefusals(const SpaceImage& written, const SpaceImage& readBack, bool withExtended,
                      QvU8* ignore) {
    memset(ignore, 0, kSpaceBytes);
    IgnoreRange(ignore, 0x00, 4);  // vendor and device identifiers
    IgnoreRange(ignore, 0x08, 4);  // revision and class code
    IgnoreRange(ignore, 0x0E, 1);  // header type
    unsigned statusBytes[3];
    StatusHighBytes(readBack.Bytes, statusBytes);
    for (unsigned i = 0; statusBytes[i] != 0; ++i) ignore[statusBytes[i]] = kStatusClearedHigh;
    unsigned pointerOffset = 0x34;
    switch (readBack.Bytes[0x0E] & 0x7F) {
        case 0:
            IgnoreRange(ignore, 0x2C, 4);  // subsystem identifiers
            break;
        case 1: break;
        case 2:
            IgnoreRange(ignore, 0x40, 4);  // subsystem identifiers
            pointerOffset = 0x14;
            break;
        default: return;  // a layout nobody knows: only the common identifiers
    }
    IgnoreCapabilityHeaders(written, pointerOffset, ignore);
    IgnoreCapabilityHeaders(readBack, pointerOffset, ignore);
    if (withExtended) {
        IgnoreExtendedHeaders(written, ignore);
        IgnoreExtendedHeaders(readBack, ignore);
    }
}
