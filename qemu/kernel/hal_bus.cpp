// HalGetBusData and HalGetBusDataByOffset over configuration mechanism #1.
#include "hal_bus.h"

#include "pci_ports.h"

namespace {

const ULONG kHeaderBytes = 256;

bool gBusExists[256];
ULONG gMalformedCalls;
ULONG gWatchExpected;
ULONG gWatchReads;
bool gWatchKept = true;
ULONG gWatchFirstOther;
bool gHalLeftZero;  // the last access to 0xCF8 was the HAL's clearing it

ULONG ReadFunction(ULONG bus, ULONG device, ULONG function, UCHAR* out, ULONG offset, ULONG length);

void WatchEntry() {
    ULONG found = __indword(kConfigAddressPort);
    ++gWatchReads;
    if (found == gWatchExpected || (found == 0 && gHalLeftZero)) return;
    if (gWatchKept) gWatchFirstOther = found;
    gWatchKept = false;
}

// Splits a PCI_SLOT_NUMBER; false when a reserved bit is set.
bool DecodeSlot(ULONG slotNumber, ULONG* device, ULONG* function) {
    PCI_SLOT_NUMBER slot;
    slot.u.AsULONG = slotNumber;
    *device = slot.u.bits.DeviceNumber;
    *function = slot.u.bits.FunctionNumber;
    return slot.u.bits.Reserved == 0;
}

bool FunctionAnswers(ULONG bus, ULONG device, ULONG function) {
    return (Mech1ReadDword(bus, device, function, 0) & 0xFFFF) != 0xFFFF;
}

// Copies configuration bytes [offset, offset + length) of a present function,
// one doubleword read per doubleword touched.
void ReadBytes(ULONG bus, ULONG device, ULONG function, ULONG offset, ULONG length, UCHAR* out) {
    ULONG dword = 0;
    for (ULONG i = 0; i < length; ++i) {
        ULONG at = offset + i;
        if (i == 0 || (at & 3) == 0) dword = Mech1ReadDword(bus, device, function, at & ~3u);
        out[i] = (UCHAR)(dword >> (8 * (at & 3)));
    }
}

// Common entry checks: the bus data type, the bus, the slot. Returns false
// (the call answers 0) when the bus does not exist or the call is malformed.
bool Admit(BUS_DATA_TYPE type, ULONG bus, ULONG slotNumber, ULONG* device, ULONG* function) {
    if (type != PCIConfiguration || !DecodeSlot(slotNumber, device, function)) {
        ++gMalformedCalls;
        return false;
    }
    return bus < 256 && gBusExists[bus];
}

}  // namespace

void HalLearnBuses() {
    for (ULONG bus = 0; bus < 256; ++bus) gBusExists[bus] = (bus == 0);
    // Bridges always lead to higher bus numbers, so one ascending pass sees
    // every bus before it is searched for bridges.
    for (ULONG bus = 0; bus < 256; ++bus) {
        if (!gBusExists[bus]) continue;
        for (ULONG device = 0; device < 32; ++device) {
            for (ULONG function = 0; function < 8; ++function) {
                if (!FunctionAnswers(bus, device, function)) {
                    if (function == 0) break;
                    continue;
                }
                ULONG headerType = (Mech1ReadDword(bus, device, function, 0x0C) >> 16) & 0x7F;
                if (headerType == 1 || headerType == 2) {
                    ULONG numbers = Mech1ReadDword(bus, device, function, 0x18);
                    ULONG secondary = (numbers >> 8) & 0xFF;
                    ULONG subordinate = (numbers >> 16) & 0xFF;
                    for (ULONG b = secondary; b != 0 && b <= subordinate && b > bus; ++b) {
                        gBusExists[b] = true;
                        if (b == 255) break;
                    }
                }
            }
        }
    }
}

bool HalBusExists(ULONG bus) { return bus < 256 && gBusExists[bus]; }

ULONG HalExistingBusCount() {
    ULONG count = 0;
    for (ULONG bus = 0; bus < 256; ++bus) count += gBusExists[bus] ? 1 : 0;
    return count;
}

ULONG HalMalformedCalls() { return gMalformedCalls; }

void HalAddressWatchStart(ULONG expected) {
    gWatchExpected = expected;
    gWatchReads = 0;
    gWatchKept = true;
    gWatchFirstOther = 0;
    gHalLeftZero = false;
}

ULONG HalAddressWatchReads() { return gWatchReads; }

bool HalAddressWatchKept(ULONG* firstOther) {
    *firstOther = gWatchFirstOther;
    return gWatchKept;
}

extern "C" ULONG NTAPI HalGetBusData(BUS_DATA_TYPE BusDataType, ULONG BusNumber, ULONG SlotNumber,
                                     PVOID Buffer, ULONG Length) {
    return HalGetBusDataByOffset(BusDataType, BusNumber, SlotNumber, Buffer, 0, Length);
}

extern "C" ULONG NTAPI HalGetBusDataByOffset(BUS_DATA_TYPE BusDataType, ULONG BusNumber, ULONG SlotNumber,
                                             PVOID Buffer, ULONG Offset, ULONG Length) {
    ULONG device = 0;
    ULONG function = 0;
    if (!Admit(BusDataType, BusNumber, SlotNumber, &device, &function)) return 0;
    WatchEntry();
    ULONG count = ReadFunction(BusNumber, device, function, (UCHAR*)Buffer, Offset, Length);
    __outdword(kConfigAddressPort, 0);
    gHalLeftZero = true;
    return count;
}

namespace {

ULONG ReadFunction(ULONG BusNumber, ULONG device, ULONG function, UCHAR* out, ULONG Offset, ULONG Length) {
    if (!FunctionAnswers(BusNumber, device, function)) {
        // No function at the slot: the vendor identifier 0xFFFF, two bytes.
        if (Offset != 0 || Length < 2) return 0;
        out[0] = 0xFF;
        out[1] = 0xFF;
        return 2;
    }
    if (Offset >= kHeaderBytes) return 0;
    ULONG count = Length;
    if (count > kHeaderBytes - Offset) count = kHeaderBytes - Offset;
    ReadBytes(BusNumber, device, function, Offset, count, out);
    return count;
}

}  // namespace
