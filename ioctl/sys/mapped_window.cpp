// Memory-mapped configuration: the extended space 0x100..0xFFF of a function
// through the window the platform decodes for configuration cycles, whose
// physical base the driver finds itself by probing the candidate bases. The
// base (EcamBase) lives here alone: found by DiscoverEcamBase, tested at
// every doubleword, forgotten at unload. Which pages may be mapped as the
// window is window_place.cpp.
//
// The window is read and written only through AX (window_access.h): some
// northbridges accept such accesses only through the AX register, and a
// plain 16-bit load or store lets the compiler pick any register.
#include <ntddk.h>

#include "config_access.h"
#include "hal_identity.h"
#include "window_access.h"
#include "window_place.h"

#define ECAM_BASE_UNKNOWN 0xFFFFFFFFu

// Physical base of memory-mapped configuration, or ECAM_BASE_UNKNOWN. One
// aligned 32-bit value, written only with the configuration lock held.
volatile ULONG EcamBase = ECAM_BASE_UNKNOWN;

namespace {

const ULONG kCandidateStep = 0x10000000;
const ULONG kCandidateCount = 15;  // 0x10000000 .. 0xF0000000

// Outcomes of the one-doubleword operations, and of the whole-space ones.
enum { kDwordNotDone = 0, kDwordDone = 1 };
enum { kSpaceDone = 0, kSpaceNotDone = -1 };

// Offset of a function's register 0 inside the memory-mapped window.
ULONG EcamFunctionPlace(ULONG bus, ULONG device, ULONG function) {
    return (bus & 0xFF) << 20 | (device & 0x1F) << 15 | (function & 7) << 12;
}

VOID StoreLe16(UCHAR* bytes, USHORT value) {
    bytes[0] = (UCHAR)(value & 0xFF);
    bytes[1] = (UCHAR)(value >> 8);
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

// Whether the function's vendor and device identifiers stand at its place
// below the given base.
BOOLEAN IdentityStandsAt(ULONG base, ULONG place, USHORT vendor, USHORT deviceId) {
    if (EcamRead16(base | place) != vendor) {
        return FALSE;
    }
    return EcamRead16((base | place) + 2) == deviceId;
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
        return FALSE;  // no window known
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

int ReadExtConfig(ULONG bus, ULONG device, ULONG function, UCHAR* buffer, ULONG count) {
    if (!EcamWindowServes(bus, device, function)) {
        return kSpaceNotDone;
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
        return kSpaceNotDone;
    }
    for (ULONG i = 0; i < count / 4; ++i) {
        if (EcamWriteDword(bus, device, function, 0x100 + 4 * i, LoadLe16(buffer + 4 * i),
                           LoadLe16(buffer + 4 * i + 2)) != kDwordDone) {
            return kSpaceNotDone;
        }
    }
    return kSpaceDone;
}

// The method moves the whole extended space (offset 0x100, kExtConfigBytes)
// or nothing.
ULONG WindowRead(ULONG bus, ULONG device, ULONG function, ULONG offset, ULONG length, UCHAR* buffer) {
    (void)offset;
    return ReadExtConfig(bus, device, function, buffer, length) == kSpaceDone ? kResultExtDone
                                                                              : kResultExtNoBase;
}

ULONG WindowWrite(ULONG bus, ULONG device, ULONG function, ULONG offset, ULONG length, const UCHAR* buffer) {
    (void)offset;
    return WriteExtConfig(bus, device, function, buffer, length) == kSpaceDone ? kResultExtDone
                                                                               : kResultExtNoBase;
}

}  // namespace

const ConfigMethod kMappedWindow = {WindowRead, WindowWrite};

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
    ULONG lowestBus = 0;
    ULONG lowestDevice = 0;
    USHORT lowestVendor = vendor;
    USHORT lowestDeviceId = deviceId;
    if (!FindLowestFunction(request->Bus & 0xFF, &lowestBus, &lowestDevice, &lowestVendor, &lowestDeviceId)) {
        return;
    }
    ULONG lowestPlace = EcamFunctionPlace(lowestBus, lowestDevice, 0);
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

VOID ForgetEcamBase(VOID) { EcamBase = ECAM_BASE_UNKNOWN; }
