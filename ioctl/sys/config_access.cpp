// Two of the three ways the driver reaches configuration space: the HAL's
// bus-data reads for the standard header, and memory-mapped configuration for
// offsets 0x100..0xFFF, whose physical base the driver finds itself by
// probing the candidate bases (the third, the port pair for header writes,
// is port_header_write.cpp; which pages may be mapped, window_place.cpp).
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

const ULONG kCandidateStep = 0x10000000;
const ULONG kCandidateCount = 15;  // 0x10000000 .. 0xF0000000

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

// The first function (device 0..31, function 0) on the lowest bus up to
// `bus` where one answers, read through the HAL: its place in a window and
// its identifiers. A bus that does not exist costs one read.
BOOLEAN FindLowestFunction(ULONG bus, ULONG* place, USHORT* vendor, USHORT* deviceId) {
    for (ULONG lowest = 0; lowest <= bus; ++lowest) {
        for (ULONG device = 0; device < 32; ++device) {
            UCHAR identity[4];
            ULONG count = HalGetBusDataByOffset(PCIConfiguration, lowest, SlotNumber(device, 0), identity, 0,
                                                sizeof identity);
            if (count == 0) {
                break;  // no such bus
            }
            USHORT found = LoadLe16(identity);
            if (count == sizeof identity && found != 0xFFFF && found != 0x0000) {
                *place = EcamFunctionPlace(lowest, device, 0);
                *vendor = found;
                *deviceId = LoadLe16(identity + 2);
                return TRUE;
            }
        }
    }
    return FALSE;
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
// A candidate is passed over without being mapped, as a read of 0xFFFF (what
// a failed mapping gives, never an identifier the HAL reads) would be, when
// the probed page is RAM (mapping RAM uncached aliases the processor's cached
// view of it, and the memory manager forbids it), or when memory that a
// function or bridge on bus 0 decodes lies between the candidate and the end
// of the probed page: a framebuffer, say, whose bytes any user may write, can
// never be the window. The RAM list is asked for once per search and freed
// after it, and bus 0 is read once per search. Without the list nothing is
// known about where RAM lies, so no candidate is probed and the search runs
// again at the next request that calls for it.
//
// For a function on a bus above the lowest bus where any function answers,
// the candidate must also hold, at its place, the identifiers of the first
// function on that lowest bus (00:00.0 on a PC). A window lies on a boundary
// of its own size, so a lower candidate meets a smaller window only at the
// higher buses' places (a 64 MiB window at 0xF8000000 meets 0xF0000000 at
// bus 0x80), where one function's identifiers may stand at another's place;
// the lowest bus is then still below the window.
VOID DiscoverEcamBase(const ConfigRequest* request) {
    if (EcamBase != ECAM_BASE_UNKNOWN) {
        return;
    }
    USHORT vendor = 0;
    USHORT deviceId = 0;
    if (!ReadFunctionIdentity(request->Bus, request->Device, request->Function, &vendor, &deviceId)) {
        return;
    }
    ULONG place = EcamFunctionPlace(request->Bus, request->Device, request->Function);
    ULONG lowestPlace = place;
    USHORT lowestVendor = vendor;
    USHORT lowestDeviceId = deviceId;
    if (!FindLowestFunction(request->Bus & 0xFF, &lowestPlace, &lowestVendor, &lowestDeviceId)) {
        return;
    }
    BOOLEAN onLowestBus = (lowestPlace >> 20) == (place >> 20);
    PPHYSICAL_MEMORY_RANGE ram = MmGetPhysicalMemoryRanges();
    if (ram == NULL) {
        return;
    }
    ULONG candidates[kCandidateCount];
    for (ULONG i = 0; i < kCandidateCount; ++i) {
        candidates[i] = (i + 1) * kCandidateStep;
    }
    ULONG nearDevices = WindowsMeetingDeviceMemory(candidates, kCandidateCount, place);
    for (ULONG i = 0; i < kCandidateCount; ++i) {
        ULONG candidate = candidates[i];
        if (PageIsRam(ram, candidate | place) || (nearDevices >> i & 1) != 0) {
            continue;
        }
        if (!IdentityStandsAt(candidate, place, vendor, deviceId)) {
            continue;
        }
        if (onLowestBus || (!PageIsRam(ram, candidate | lowestPlace) &&
                            IdentityStandsAt(candidate, lowestPlace, lowestVendor, lowestDeviceId))) {
            EcamBase = candidate;
            break;
        }
    }
    ExFreePool(ram);
}

// The window serves a function only when its page there may be mapped (not
// RAM, no device memory between the base and it: checked before any mapping)
// and the identifiers the HAL reads for it stand at its place: this refuses a
// function that has gone, an address where nothing answers, a bus beyond the
// window's end, and a base that is not (or no longer) the window, so that no
// extended write lands in memory that is not the function's configuration
// space.
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
    ULONG place = EcamFunctionPlace(bus, device, function);
    if (!WindowPlaceIsClear(base, place)) {
        return FALSE;
    }
    return IdentityStandsAt(base, place, vendor, deviceId);
}
