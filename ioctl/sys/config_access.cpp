// The three ways the driver reaches configuration space: the HAL's bus-data
// reads for the standard header, the 0xCF8/0xCFC port pair for header writes,
// and memory-mapped configuration for offsets 0x100..0xFFF, whose physical
// base the driver finds itself by probing the candidate bases.
#include <ntddk.h>

#include "config_access.h"

volatile ULONG EcamBase = ECAM_BASE_UNKNOWN;

namespace {

const USHORT kConfigAddressPort = 0xCF8;
const USHORT kConfigDataPort = 0xCFC;
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

USHORT LoadLe16(const UCHAR* bytes) {
    return (USHORT)(bytes[0] | bytes[1] << 8);
}

VOID StoreLe16(UCHAR* bytes, USHORT value) {
    bytes[0] = (UCHAR)(value & 0xFF);
    bytes[1] = (UCHAR)(value >> 8);
}

}  // namespace

ULONG ReadConfigHeader(ULONG bus, ULONG device, ULONG function, PVOID buffer) {
    return HalGetBusData(PCIConfiguration, bus, SlotNumber(device, function), buffer,
                         kConfigHeaderBytes);
}

ULONG ReadConfigRange(ULONG bus, ULONG device, ULONG function, ULONG offset, ULONG length,
                      PVOID buffer) {
    return HalGetBusDataByOffset(PCIConfiguration, bus, SlotNumber(device, function), buffer,
                                 offset, length);
}

ULONG PortIn32(USHORT port) {
    return __indword(port);
}

VOID PortOut32(USHORT port, ULONG value) {
    __outdword(port, value);
}

VOID PortWriteConfigDword(ULONG bus, ULONG device, ULONG function, ULONG offset, USHORT low,
                          USHORT high) {
    ULONG previous = PortIn32(kConfigAddressPort);
    ULONG address = 0x80000000u | (bus & 0xFF) << 16 | (device & 0x1F) << 11 |
                    (function & 7) << 8 | (offset & 0xFC);
    PortOut32(kConfigAddressPort, address);
    PortOut32(kConfigDataPort, (ULONG)high << 16 | low);
    PortOut32(kConfigAddressPort, previous);
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
    volatile USHORT* mapping = (volatile USHORT*)MmMapIoSpace(address, 2, MmNonCached);
    if (mapping == NULL) {
        return 0xFFFF;  // reads as an absent function, so the base search passes over it
    }
    USHORT value = *mapping;
    MmUnmapIoSpace((PVOID)mapping, 2);
    return value;
}

VOID EcamWrite16(ULONG physicalAddress, USHORT value) {
    PHYSICAL_ADDRESS address;
    address.QuadPart = physicalAddress;
    volatile USHORT* mapping = (volatile USHORT*)MmMapIoSpace(address, 2, MmNonCached);
    if (mapping == NULL) {
        return;
    }
    *mapping = value;
    MmUnmapIoSpace((PVOID)mapping, 2);
}

int EcamReadDword(ULONG bus, ULONG device, ULONG function, ULONG offset, USHORT* low,
                  USHORT* high) {
    ULONG base = EcamBase;
    if (base == ECAM_BASE_UNKNOWN) {
        return kDwordNotDone;
    }
    ULONG address = base | EcamFunctionPlace(bus, device, function) | (offset & 0xFFC);
    *low = EcamRead16(address);
    *high = EcamRead16(address + 2);
    return kDwordDone;
}

int EcamWriteDword(ULONG bus, ULONG device, ULONG function, ULONG offset, USHORT low,
                   USHORT high) {
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
    for (ULONG i = 0; i < count / 4; ++i) {
        if (EcamWriteDword(bus, device, function, 0x100 + 4 * i, LoadLe16(buffer + 4 * i),
                           LoadLe16(buffer + 4 * i + 2)) != kDwordDone) {
            return kSpaceNotDone;
        }
    }
    return kSpaceDone;
}

// A candidate base is taken only when both the vendor and the device
// identifier of the function stand at the probed place. The lower candidates
// are ordinary memory on a real machine; matching 16 bits alone could take a
// stray value there for the window and send every later extended write into
// system memory. Vendor 0x0000 is never a function's identifier (it is what
// zeroed memory reads), and 0xFFFF is what nothing answering reads: neither
// can confirm a candidate.
VOID DiscoverEcamBase(const ConfigRequest* request) {
    if (EcamBase != ECAM_BASE_UNKNOWN) {
        return;
    }
    USHORT vendor = LoadLe16(request->Data);
    USHORT deviceId = LoadLe16(request->Data + 2);
    ULONG place = EcamFunctionPlace(request->Bus, request->Device, request->Function);
    for (ULONG i = 1; i <= kCandidateCount; ++i) {
        ULONG candidate = i * kCandidateStep;
        USHORT probedVendor = EcamRead16(candidate | place);
        if (probedVendor == 0xFFFF || probedVendor == 0x0000 || probedVendor != vendor) {
            continue;
        }
        USHORT probedDevice = EcamRead16((candidate | place) + 2);
        if (probedDevice == 0xFFFF || probedDevice != deviceId) {
            continue;
        }
        EcamBase = candidate;
        return;
    }
}
