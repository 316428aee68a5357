// Register write semantics of a PCI function, derived from its power-on image.
//  - identification, class, revision, header type, subsystem, capability
//    pointers and capability headers are read-only;
//  - status and secondary status error bits clear when written with 1;
//  - BARs keep only the bits above their decode size (the sizing protocol);
//  - the command register keeps its implemented bits; bridge windows, bus
//    numbers, cache line, latency and interrupt line are read/write;
//  - the device-specific area 0x40..0xFF and the extended space 0x100..0xFFF
//    are plain read/write registers apart from the capability headers and
//    the error-reporting capability, whose status registers clear when
//    written with 1 and whose logs are read-only.
#include "machine/register_masks.h"

#include <cstring>

#include "machine/machine.h"

namespace standin {
namespace {

void SetWritable(RegisterMasks* masks, unsigned offset, unsigned size, uint32_t bits) {
    for (unsigned i = 0; i < size; ++i) {
        masks->writable[offset + i] = static_cast<uint8_t>(bits >> (8 * i));
    }
}

void SetClearOnOne(RegisterMasks* masks, unsigned offset, unsigned size, uint32_t bits) {
    for (unsigned i = 0; i < size; ++i) {
        masks->clearOnOne[offset + i] = static_cast<uint8_t>(bits >> (8 * i));
    }
}

uint32_t Load32(const uint8_t* config, unsigned offset) {
    return static_cast<uint32_t>(config[offset]) | static_cast<uint32_t>(config[offset + 1]) << 8 |
           static_cast<uint32_t>(config[offset + 2]) << 16 | static_cast<uint32_t>(config[offset + 3]) << 24;
}

uint64_t LowestSetBit(uint64_t value) { return value & (~value + 1); }

uint64_t Clamp(uint64_t size, uint64_t smallest, uint64_t largest) {
    if (size < smallest) return smallest;
    if (size > largest) return largest;
    return size;
}

// The BAR at `offset`; returns the number of dwords it occupies (2 for a
// 64-bit memory BAR, whose upper half follows it).
unsigned MaskBar(const uint8_t* config, unsigned offset, bool upperAvailable, uint64_t size,
                 RegisterMasks* masks) {
    uint32_t value = Load32(config, offset);
    if (value & 1) {  // I/O space
        uint32_t address = value & ~3u;
        if (size == kBarSizeGuess) {
            size = address == 0 ? 0 : Clamp(LowestSetBit(address), 4, 256);
        }
        SetWritable(masks, offset, 4, size == 0 ? 0 : static_cast<uint32_t>(~(size - 1) & ~3u));
        return 1;
    }
    bool is64 = ((value >> 1) & 3) == 2 && upperAvailable;
    uint64_t address = value & ~0xFull;
    if (is64) address |= static_cast<uint64_t>(Load32(config, offset + 4)) << 32;
    if (size == kBarSizeGuess) {
        size = address == 0 ? 0 : Clamp(LowestSetBit(address), 16, 1u << 20);
    }
    uint64_t keep = size == 0 ? 0 : ~(size - 1) & ~0xFull;
    if (!is64) keep &= 0xFFFFFFFFull;
    SetWritable(masks, offset, 4, static_cast<uint32_t>(keep));
    if (is64) {
        SetWritable(masks, offset + 4, 4, static_cast<uint32_t>(keep >> 32));
        return 2;
    }
    return 1;
}

void MaskRom(const uint8_t* config, unsigned offset, uint64_t size, RegisterMasks* masks) {
    uint32_t value = Load32(config, offset);
    uint32_t address = value & ~0x7FFu;
    if (size == kBarSizeGuess) {
        size = address == 0 ? 0 : Clamp(LowestSetBit(address), 2048, 1u << 16);
    }
    SetWritable(masks, offset, 4, size == 0 ? 0 : static_cast<uint32_t>((~(size - 1) & ~0x7FFu) | 1));
}

void MaskBars(const uint8_t* config, unsigned count, const uint64_t barSizes[kBarSlots],
              RegisterMasks* masks) {
    for (unsigned i = 0; i < count;) {
        i += MaskBar(config, 0x10 + 4 * i, i + 1 < count, barSizes[i], masks);
    }
}

// The standard capability list: its ID and next-pointer bytes are read-only.
void ProtectCapabilityHeaders(const uint8_t* config, unsigned pointerOffset, RegisterMasks* masks) {
    if (!(config[0x06] & 0x10)) return;  // no capability list
    unsigned next = config[pointerOffset] & 0xFC;
    for (unsigned guard = 0; next >= 0x40 && guard < 48; ++guard) {
        masks->writable[next] = 0;
        masks->writable[next + 1] = 0;
        next = config[next + 1] & 0xFC;
    }
}

// The PCI Express capability's device/port type (bits 7:4 of its register
// 2), or -1 without one.
int ExpressPortType(const uint8_t* config) {
    if (!(config[0x06] & 0x10)) return -1;
    unsigned next = config[0x34] & 0xFC;
    for (unsigned guard = 0; next >= 0x40 && guard < 48; ++guard) {
        if (config[next] == 0x10) return config[next + 2] >> 4;
        next = config[next + 1] & 0xFC;
    }
    return -1;
}

const uint16_t kErrorReportingId = 0x0001;
const int kRootPort = 4;
const int kRootEventCollector = 10;

// The error-reporting capability at `at`: the uncorrectable and correctable
// error status registers (and a root port's root error status) clear the
// bits written with 1; the first-error pointer, the capability bits, the
// header log and the error source are read-only.
void MaskErrorReporting(const uint8_t* config, unsigned at, RegisterMasks* masks) {
    bool root = ExpressPortType(config) == kRootPort || ExpressPortType(config) == kRootEventCollector;
    unsigned end = at + (root ? 0x38 : 0x2C);
    if (end > Machine::kConfigSpaceBytes) return;
    SetWritable(masks, at + 0x04, 4, 0);  // uncorrectable error status
    SetClearOnOne(masks, at + 0x04, 4, 0xFFFFFFFF);
    SetWritable(masks, at + 0x10, 4, 0);  // correctable error status
    SetClearOnOne(masks, at + 0x10, 4, 0xFFFFFFFF);
    SetWritable(masks, at + 0x18, 4, 0x00000540);  // ECRC enables, multiple headers
    for (unsigned log = at + 0x1C; log < at + 0x2C; log += 4) SetWritable(masks, log, 4, 0);
    if (!root) return;
    SetWritable(masks, at + 0x2C, 4, 0x7);  // root error command
    SetWritable(masks, at + 0x30, 4, 0);    // root error status
    SetClearOnOne(masks, at + 0x30, 4, 0x7F);
    SetWritable(masks, at + 0x34, 4, 0);  // error source identification
}

void MaskExtendedCapabilities(const uint8_t* config, RegisterMasks* masks) {
    unsigned next = 0x100;
    for (unsigned guard = 0; next >= 0x100 && next <= 0xFFC && guard < 960; ++guard) {
        uint32_t header = Load32(config, next);
        if (header == 0 || header == 0xFFFFFFFFu) break;
        SetWritable(masks, next, 4, 0);
        if ((header & 0xFFFF) == kErrorReportingId) MaskErrorReporting(config, next, masks);
        next = (header >> 20) & 0xFFC;
    }
}

}  // namespace

void BuildRegisterMasks(const uint8_t* config, unsigned spaceBytes, const uint64_t barSizes[kBarSlots],
                        RegisterMasks* masks) {
    std::memset(masks->writable, 0, sizeof masks->writable);
    std::memset(masks->clearOnOne, 0, sizeof masks->clearOnOne);

    SetWritable(masks, 0x04, 2, 0x0557);    // command
    SetClearOnOne(masks, 0x06, 2, 0xF900);  // status error bits
    SetWritable(masks, 0x0C, 2, 0xFFFF);    // cache line size, latency timer

    unsigned headerType = config[0x0E] & 0x7F;
    unsigned deviceSpecificStart = 0x40;
    if (headerType == 0) {
        MaskBars(config, 6, barSizes, masks);
        MaskRom(config, 0x30, barSizes[6], masks);
        SetWritable(masks, 0x3C, 1, 0xFF);
    } else if (headerType == 1) {
        MaskBars(config, 2, barSizes, masks);
        SetWritable(masks, 0x18, 4, 0xFFFFFFFF);  // bus numbers, secondary latency
        SetWritable(masks, 0x1C, 2, 0xF0F0);      // I/O base and limit
        SetClearOnOne(masks, 0x1E, 2, 0xF900);    // secondary status
        SetWritable(masks, 0x20, 4, 0xFFF0FFF0);  // memory base and limit
        SetWritable(masks, 0x24, 4, 0xFFF0FFF0);  // prefetchable base and limit
        if ((config[0x24] & 0x0F) == 1) {
            SetWritable(masks, 0x28, 4, 0xFFFFFFFF);  // prefetchable upper base
            SetWritable(masks, 0x2C, 4, 0xFFFFFFFF);  // prefetchable upper limit
        }
        if ((config[0x1C] & 0x0F) == 1) SetWritable(masks, 0x30, 4, 0xFFFFFFFF);
        MaskRom(config, 0x38, barSizes[6], masks);
        SetWritable(masks, 0x3C, 1, 0xFF);
        SetWritable(masks, 0x3E, 2, 0x0BFF);    // bridge control
        SetClearOnOne(masks, 0x3E, 2, 0x0400);  // discard timer status
    } else if (headerType == 2) {
        uint64_t socketSize = barSizes[0] == kBarSizeGuess ? 4096 : barSizes[0];
        SetWritable(masks, 0x10, 4, socketSize == 0 ? 0 : static_cast<uint32_t>(~(socketSize - 1)));
        SetClearOnOne(masks, 0x16, 2, 0xF900);    // secondary status
        SetWritable(masks, 0x18, 4, 0xFFFFFFFF);  // bus numbers, CardBus latency
        for (unsigned offset = 0x1C; offset < 0x2C; offset += 4) {
            SetWritable(masks, offset, 4, 0xFFFFF000);  // memory windows
        }
        for (unsigned offset = 0x2C; offset < 0x3C; offset += 4) {
            SetWritable(masks, offset, 4, 0xFFFFFFFC);  // I/O windows
        }
        SetWritable(masks, 0x3C, 1, 0xFF);
        SetWritable(masks, 0x3E, 2, 0x07FF);
        SetWritable(masks, 0x44, 4, 0xFFFFFFFE);  // legacy mode base
        deviceSpecificStart = 0x48;
    }

    // Device-specific registers are read/write, apart from the capability
    // headers.
    for (unsigned offset = deviceSpecificStart; offset < 0x100; ++offset) {
        masks->writable[offset] = 0xFF;
    }
    if (headerType == 0 || headerType == 1) ProtectCapabilityHeaders(config, 0x34, masks);
    if (headerType == 2) ProtectCapabilityHeaders(config, 0x14, masks);

    if (spaceBytes > 0x100) {
        for (unsigned offset = 0x100; offset < spaceBytes; ++offset) {
            masks->writable[offset] = 0xFF;
        }
        MaskExtendedCapabilities(config, masks);
    }
}

}  // namespace standin
