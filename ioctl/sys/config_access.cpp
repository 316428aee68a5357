// The platform's bus-data reads: the standard header 0x00..0xFF of a function
// through the HAL, whole (HalGetBusData) or a range of it
// (HalGetBusDataByOffset), and the identities that the window's base search
// and its checks read the same way. The HAL makes its own configuration
// cycles, under its own lock; the driver never touches the port pair for a
// read.
#include <ntddk.h>

#include "config_access.h"
#include "hal_bus_data.h"
#include "hal_identity.h"

namespace {

ULONG ReadConfigHeader(ULONG bus, ULONG device, ULONG function, PVOID buffer) {
    return HalGetBusData(PCIConfiguration, bus, SlotNumber(device, function), buffer, kConfigHeaderBytes);
}

ULONG ReadConfigRange(ULONG bus, ULONG device, ULONG function, ULONG offset, ULONG length, PVOID buffer) {
    return HalGetBusDataByOffset(PCIConfiguration, bus, SlotNumber(device, function), buffer, offset, length);
}

// The whole header is the HAL's header read, anything shorter its read by
// offset; either way the count the HAL reports is the request's Result (0:
// no such bus, 2: nothing answers there).
ULONG HalRead(ULONG bus, ULONG device, ULONG function, ULONG offset, ULONG length, UCHAR* buffer) {
    if (offset == 0 && length == kConfigHeaderBytes) {
        return ReadConfigHeader(bus, device, function, buffer);
    }
    return ReadConfigRange(bus, device, function, offset, length, buffer);
}

}  // namespace

const ConfigMethod kHalBusData = {HalRead, NULL};

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

BOOLEAN FindLowestFunction(ULONG bus, ULONG* lowestBus, ULONG* lowestDevice, USHORT* vendor,
                           USHORT* deviceId) {
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
                *lowestBus = lowest;
                *lowestDevice = device;
                *vendor = found;
                *deviceId = LoadLe16(identity + 2);
                return TRUE;
            }
        }
    }
    return FALSE;
}
