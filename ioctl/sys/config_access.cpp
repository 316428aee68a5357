// The three ways the driver reaches configuration space: the HAL's bus-data
// reads for the standard header, the 0xCF8/0xCFC port pair for header writes,
// and memory-mapped configuration for offsets 0x100..0xFFF, whose physical
// base the driver finds itself by probing the candidate bases.
//
// Memory-mapped configuration is read and written only through AX
// (window_access.h): some northbridges accept such accesses only through the
// AX register, and a plain 16-bit load or store lets the compiler pick any
// register.
#include <ntddk.h>

#include "config_access.h"
#include "hal_bus_data.h"
#include "window_access.h"

volatile ULONG EcamBase = ECAM_BASE_UNKNOWN;

namespace {

const USHORT kConfigAddressPort = 0xCF8;
const USHORT kConfigDataPort = 0xCFC;
const ULONG kCandidateStep = 0x10000000;
const ULONG kCandidateCount = 15;  // 0x10000000 .. 0xF0000000
const ULONGLONG kPageBytes = 0x1000;

ULONG SlotNumber(ULONG device, ULONG function) {
    PCI_SLOT_NUMBER slot;
    slot.u.AsULONG = 0;
    slot.u.bits.DeviceNumber = device & 0x1F;
    slot.u.bits.FunctionNumber = function & 7;
    return slot.u.AsULONG;
}

// Offset of a function's register 0 inside the memory-mapped window.
ULONG EcamFunctionPlace(ULONG bus, ULONG device, ULONG function) {
    return (bus & 0xFF) << 20 | (device & 0x1F) << 15 | (function & 7) << 12;
}

USHORT LoadLe16(const UCHAR* bytes) { return (USHORT)(bytes[0] | bytes[1] << 8); }

VOID StoreLe16(UCHAR* bytes, USHORT value) {
    bytes[0] = (UCHAR)(value & 0xFF);
    bytes[1] = (UCHAR)(value >> 8);
}

}  // namespace

ULONG ReadConfigHeader(ULONG bus, ULONG device, ULONG function, PVOID buffer) {
    return HalGetBusData(PCIConfiguration, bus, SlotNumber(device, function), buffer, kConfigHeaderBytes);
}

ULONG ReadConfigRange(ULONG bus, ULONG device, ULONG function, ULONG offset, ULONG length, PVOID buffer) {
    return HalGetBusDataByOffset(PCIConfiguration, bus, SlotNumber(device, function), buffer, offset, length);
}

ULONG PortIn32(USHORT port) { return __indword(port); }

VOID PortOut32(USHORT port, ULONG value) { __outdword(port, value); }

// The address/data/restore sequence runs at HIGH_LEVEL, so that nothing on
// this processor (an interrupt, a DPC, the HAL's own configuration code
// called from either) can move the address register between its port
// instructions. Nothing else is done while raised.
VOID PortWriteConfigDword(ULONG bus, ULONG device, ULONG function, ULONG offset, USHORT low, USHORT high) {
    ULONG address =
        0x80000000u | (bus & 0xFF) << 16 | (device & 0x1F) << 11 | (function & 7) << 8 | (offset & 0xFC);
    ULONG data = (ULONG)high << 16 | low;
    KIRQL previousIrql;
    KeRaiseIrql(HIGH_LEVEL, &previousIrql);
    ULONG previous = PortIn32(kConfigAddressPort);
    PortOut32(kConfigAddressPort, address);
    PortOut32(kConfigDataPort, data);
    PortOut32(kConfigAddressPort, previous);
    KeLowerIrql(previousIrql);
}

VOID WriteConfigHeader(ULONG bus, ULONG device, ULONG function, const UCHAR* data) {
    for (ULONG offset = 0; offset < kConfigHeaderBytes; offset += 4) {
        PortWriteConfigDword(bus, device, function, offset, LoadLe16(data + offset),
                             LoadLe16(data + offset + 2));
    }
}

USHORT EcamRead16(ULONG physicalAddress) {
    PHYSICAL_ADDRESS address;
    address.QuadPart = physicalAddress;  // always below 4 GiB
    PVOID mapping = MmMapIoSpace(address, 2, MmNonCached);
    if (mapping == NULL) {
        return 0xFFFF;  // reads as an absent function, so the base search passes over it
    }
    USHORT value = WindowRead16((PUSHORT)mapping);
    MmUnmapIoSpace(mapping, 2);
    return value;
}

VOID EcamWrite16(ULONG physicalAddress, USHORT value) {
    PHYSICAL_ADDRESS address;
    address.QuadPart = physicalAddress;
    PVOID mapping = MmMapIoSpace(address, 2, MmNonCached);
    if (mapping == NULL) {
        return;
    }
    WindowWrite16((PUSHORT)mapping, value);
    MmUnmapIoSpace(mapping, 2);
}

int EcamReadDword(ULONG bus, ULONG device, ULONG function, ULONG offset, USHORT* low, USHORT* high) {
    ULONG base = EcamBase;
    if (base == ECAM_BASE_UNKNOWN) {
        return kDwordNotDone;
    }
    ULONG address = base | EcamFunctionPlace(bus, device, function) | (offset & 0xFFC);
    *low = EcamRead16(address);
    *high = EcamRead16(address + 2);
    return kDwordDone;
}

int EcamWriteDword(ULONG bus, ULONG device, ULONG function, ULONG offset, USHORT low, USHORT high) {
    ULONG base = EcamBase;
    if (base == ECAM_BASE_UNKNOWN) {
        return kDwordNotDone;
    }
    ULONG address = base | EcamFunctionPlace(bus, device, function) | (offset & 0xFFC);
    EcamWrite16(address, low);
    EcamWrite16(address + 2, high);
    return kDwordDone;
}

int ReadExtConfig(ULONG bus, ULONG device, ULONG function, UCHAR* buffer, ULONG count) {
    if (!EcamWindowServes(bus, device, function)) {
        return -1;
    }
    for (ULONG i = 0; i < count / 4; ++i) {
        USHORT low = 0;
        USHORT high = 0;
        if (EcamReadDword(bus, device, function, 0x100 + 4 * i, &low, &high) != kDwordDone) {
            return kSpaceNotDone;
        }
        StoreLe16(buffer + 4 * i, low);
        StoreLe16(buffer + 4 * i + 2, high);
    }
    return kSpaceDone;
}

int WriteExtConfig(ULONG bus, ULONG device, ULONG function, const UCHAR* buffer, ULONG count) {
    if (!EcamWindowServes(bus, device, function)) {
        return -1;
    }
    for (ULONG i = 0; i < count / 4; ++i) {
        if (EcamWriteDword(bus, device, function, 0x100 + 4 * i, LoadLe16(buffer + 4 * i),
                           LoadLe16(buffer + 4 * i + 2)) != kDwordDone) {
            return kSpaceNotDone;
        }
    }
    return kSpaceDone;
}

namespace {

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

}  // namespace

// The identifiers of the function that a port or window access for this
// address reaches (the bus reduced to its low 8 bits, as there), read through
// the HAL. False when no function answers there: the HAL reports no bus or
// an empty slot, or the vendor reads 0xFFFF or 0x0000 (what no function and
// zeroed memory read).
BOOLEAN ReadFunctionIdentity(ULONG bus, ULONG device, ULONG function, USHORT* vendor, USHORT* deviceId) {
    UCHAR identity[4];
    ULONG count = HalGetBusDataByOffset(PCIConfiguration, bus & 0xFF, SlotNumber(device, function), identity,
                                        0, sizeof identity);
    if (count != sizeof identity) {
        return FALSE;
    }
    *vendor = LoadLe16(identity);
    *deviceId = LoadLe16(identity + 2);
    return *vendor != 0xFFFF && *vendor != 0x0000;
}

// Whether the function's vendor and device identifiers stand at its place
// below the given base.
BOOLEAN IdentityStandsAt(ULONG base, ULONG place, USHORT vendor, USHORT deviceId) {
    if (EcamRead16(base | place) != vendor) {
        return FALSE;
    }
    return EcamRead16((base | place) + 2) == deviceId;
}

// A candidate base is taken only when both the vendor and the device
// identifier of the function stand at the probed place. The identifiers are
// the hardware's, read through the HAL after the request was served, never
// the record's: a header write carries whatever its caller chose, and a
// caller who wrote to an empty address the identifiers that ordinary memory
// holds at a lower candidate would otherwise make the driver take that memory
// for the window. A function that does not answer starts no search. The lower
// candidates are ordinary memory on a real machine; matching 16 bits alone
// could take a stray value there for the window.
//
// A candidate whose page is RAM is never mapped (mapping RAM uncached aliases
// the processor's cached view of it, and the memory manager forbids it): it is
// passed over as a read of 0xFFFF (what a failed mapping gives) would be, for
// the identifiers the HAL reads are never 0xFFFF. The RAM list
// is asked for once per search and freed after it. Without it nothing is
// known about where RAM lies, so no candidate is probed and the search runs
// again at the next request that calls for it.
VOID DiscoverEcamBase(const ConfigRequest* request) {
    if (EcamBase != ECAM_BASE_UNKNOWN) {
        return;
    }
    USHORT vendor = 0;
    USHORT deviceId = 0;
    if (!ReadFunctionIdentity(request->Bus, request->Device, request->Function, &vendor, &deviceId)) {
        return;
    }
    PPHYSICAL_MEMORY_RANGE ram = MmGetPhysicalMemoryRanges();
    if (ram == NULL) {
        return;
    }
    ULONG place = EcamFunctionPlace(request->Bus, request->Device, request->Function);
    for (ULONG i = 1; i <= kCandidateCount; ++i) {
        ULONG candidate = i * kCandidateStep;
        if (PageIsRam(ram, candidate | place)) {
            continue;
        }
        if (IdentityStandsAt(candidate, place, vendor, deviceId)) {
            EcamBase = candidate;
            break;
        }
    }
    ExFreePool(ram);
}

// The window serves a function only when the identifiers the HAL reads for it
// stand at its place in the window: this refuses a function that has gone,
// an address where nothing answers, and a base that is not (or no longer) the
// window, so that no extended write lands in memory that is not the
// function's configuration space.
BOOLEAN EcamWindowServes(ULONG bus, ULONG device, ULONG function) {
    ULONG base = EcamBase;
    if (base == ECAM_BASE_UNKNOWN) {
        return FALSE;
    }
    USHORT vendor = 0;
    USHORT deviceId = 0;
    if (!ReadFunctionIdentity(bus, device, function, &vendor, &deviceId)) {
        return FALSE;
    }
    return IdentityStandsAt(base, EcamFunctionPlace(bus, device, function), vendor, deviceId);
}
