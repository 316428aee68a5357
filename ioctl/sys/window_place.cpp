// Which pages the driver may map as configuration space. Memory-mapped
// configuration is a window the platform decodes for configuration cycles
// alone: no RAM lies in it, and no range the platform decodes for a device
// (a function's memory BAR or expansion ROM, a bridge's memory or
// prefetchable window) overlaps it. A window at `base` that serves a function
// spans at least from `base` to the end of that function's 4 KiB page, so a
// candidate base is passed over, and a known base refused for a function,
// when that span meets such a range, or when the function's page is RAM.
//
// The device ranges are read from the functions on bus 0 through the HAL,
// reads only: every device behind a bridge decodes inside that bridge's
// windows, so bus 0's functions and bridges describe all of them (on a
// machine with one root bus). A BAR's size cannot be read without writing
// it; it is taken as the least a BAR decodes (16 bytes, 2 KiB for a ROM),
// which still passes over every window in which a BAR begins.
#include <ntddk.h>

#include "config_access.h"
#include "hal_identity.h"
#include "window_place.h"

namespace {

const ULONGLONG kPageBytes = 0x1000;
const ULONG kSurveyBytes = 0x40;  // identifiers, header type, BARs, windows, ROM
const ULONG kBarBytes = 16;
const ULONG kRomBytes = 0x800;

ULONG Load32(const UCHAR* bytes, ULONG offset) { return LoadLe32(bytes + offset); }

// The windows that the device range [first, last] meets: bit i for the
// window from bases[i] to the end of the page at bases[i] | place.
ULONG RangeMeets(ULONGLONG first, ULONGLONG last, const ULONG* bases, ULONG count, ULONG place) {
    ULONG meets = 0;
    for (ULONG i = 0; i < count; ++i) {
        ULONGLONG begin = bases[i];
        ULONGLONG end = (ULONGLONG)(bases[i] | place) + kPageBytes;
        if (first < end && last >= begin) {
            meets |= 1u << i;
        }
    }
    return meets;
}

// The memory BARs of a function (6) or bridge (2), 64-bit ones whole.
ULONG BarsMeet(const UCHAR* header, ULONG barCount, const ULONG* bases, ULONG count, ULONG place) {
    ULONG meets = 0;
    for (ULONG i = 0; i < barCount; ++i) {
        ULONG value = Load32(header, 0x10 + 4 * i);
        if ((value & 1) != 0) {
            continue;  // I/O space
        }
        ULONGLONG base = value & ~0xFu;
        if (((value >> 1) & 3) == 2 && i + 1 < barCount) {
            base |= (ULONGLONG)Load32(header, 0x14 + 4 * i) << 32;
            ++i;
        }
        if (base != 0) {
            meets |= RangeMeets(base, base + kBarBytes - 1, bases, count, place);
        }
    }
    return meets;
}

ULONG RomMeets(const UCHAR* header, ULONG offset, const ULONG* bases, ULONG count, ULONG place) {
    ULONG value = Load32(header, offset);
    ULONGLONG base = value & ~(kRomBytes - 1);
    if ((value & 1) == 0 || base == 0) {
        return 0;  // not decoded
    }
    return RangeMeets(base, base + kRomBytes - 1, bases, count, place);
}

// A PCI-to-PCI bridge's memory window and prefetchable window (1 MiB
// granularity; the prefetchable one may reach above 4 GiB). A base above
// its limit is a window switched off.
ULONG BridgeWindowsMeet(const UCHAR* header, const ULONG* bases, ULONG count, ULONG place) {
    ULONG memory = Load32(header, 0x20);
    ULONGLONG first = (ULONGLONG)(memory & 0xFFF0) << 16;
    ULONGLONG last = (ULONGLONG)(memory >> 16 & 0xFFF0) << 16 | 0xFFFFF;
    ULONG meets = first <= last ? RangeMeets(first, last, bases, count, place) : 0;
    ULONG prefetchable = Load32(header, 0x24);
    first = (ULONGLONG)(prefetchable & 0xFFF0) << 16;
    last = (ULONGLONG)(prefetchable >> 16 & 0xFFF0) << 16 | 0xFFFFF;
    if ((prefetchable & 0xF) == 1) {
        first |= (ULONGLONG)Load32(header, 0x28) << 32;
        last |= (ULONGLONG)Load32(header, 0x2C) << 32;
    }
    if (first <= last) {
        meets |= RangeMeets(first, last, bases, count, place);
    }
    return meets;
}

// A CardBus bridge's socket registers (4 KiB) and two memory windows (4 KiB
// granularity).
ULONG CardBusMeets(const UCHAR* header, const ULONG* bases, ULONG count, ULONG place) {
    ULONG meets = 0;
    ULONG socket = Load32(header, 0x10) & ~0xFFFu;
    if (socket != 0) {
        meets |= RangeMeets(socket, socket + kPageBytes - 1, bases, count, place);
    }
    for (ULONG offset = 0x1C; offset <= 0x24; offset += 8) {
        ULONGLONG first = Load32(header, offset) & ~0xFFFu;
        ULONGLONG last = Load32(header, offset + 4) | 0xFFFu;
        if (first != 0 && first <= last) {
            meets |= RangeMeets(first, last, bases, count, place);
        }
    }
    return meets;
}

ULONG FunctionMemoryMeets(const UCHAR* header, const ULONG* bases, ULONG count, ULONG place) {
    switch (PciHeaderLayout(header)) {
        case kPciLayoutDevice:
            return BarsMeet(header, 6, bases, count, place) | RomMeets(header, 0x30, bases, count, place);
        case kPciLayoutBridge:
            return BarsMeet(header, 2, bases, count, place) | RomMeets(header, 0x38, bases, count, place) |
                   BridgeWindowsMeet(header, bases, count, place);
        case kPciLayoutCardBus: return CardBusMeets(header, bases, count, place);
        default: return 0;
    }
}

}  // namespace

ULONG WindowsMeetingDeviceMemory(const ULONG* bases, ULONG count, ULONG place) {
    ULONG meets = 0;
    for (ULONG device = 0; device < 32; ++device) {
        for (ULONG function = 0; function < 8; ++function) {
            UCHAR header[kSurveyBytes];
            ULONG read = HalGetBusDataByOffset(PCIConfiguration, 0, SlotNumber(device, function), header, 0,
                                               sizeof header);
            USHORT vendor = LoadLe16(header);
            if (read != sizeof header || vendor == 0xFFFF || vendor == 0x0000) {
                if (function == 0) {
                    break;  // no device here
                }
                continue;
            }
            meets |= FunctionMemoryMeets(header, bases, count, place);
            if (function == 0 && (header[kPciHeaderType] & kPciMultiFunction) == 0) {
                break;  // a single-function device
            }
        }
    }
    return meets;
}

// Whether the page holding a physical address lies (even in part) in one of
// the RAM ranges the memory manager reported; the list ends in an entry whose
// base and size are both 0.
BOOLEAN PageIsRam(const PHYSICAL_MEMORY_RANGE* ram, ULONG physicalAddress) {
    ULONGLONG page = physicalAddress & ~(ULONG)(kPageBytes - 1);
    for (const PHYSICAL_MEMORY_RANGE* range = ram;
         range->BaseAddress.QuadPart != 0 || range->NumberOfBytes.QuadPart != 0; ++range) {
        ULONGLONG base = (ULONGLONG)range->BaseAddress.QuadPart;
        ULONGLONG size = (ULONGLONG)range->NumberOfBytes.QuadPart;
        if (page < base + size && base < page + kPageBytes) {
            return TRUE;
        }
    }
    return FALSE;
}

BOOLEAN WindowPlaceIsClear(ULONG base, ULONG place) {
    PPHYSICAL_MEMORY_RANGE ram = MmGetPhysicalMemoryRanges();
    if (ram == NULL) {
        return FALSE;  // nothing is known about where RAM lies
    }
    BOOLEAN isRam = PageIsRam(ram, base | place);
    ExFreePool(ram);
    if (isRam) {
        return FALSE;
    }
    return WindowsMeetingDeviceMemory(&base, 1, place) == 0;
}
