// What the HAL reads of a function's identity, shared by the bus-data method
// (config_access.cpp) and the window's base search (mapped_window.cpp), and
// the slot number through which the HAL addresses a function.
//
// Windows kernel code: include <ntddk.h> before this header.
#ifndef QUORVENAL_HAL_IDENTITY_H
#define QUORVENAL_HAL_IDENTITY_H

#include "pci_registers.h"

inline ULONG SlotNumber(ULONG device, ULONG function) {
    PCI_SLOT_NUMBER slot;
    slot.u.AsULONG = 0;
    slot.u.bits.DeviceNumber = device & 0x1F;
    slot.u.bits.FunctionNumber = function & 7;
    return slot.u.AsULONG;
}

// The function's vendor and device identifiers as the HAL reads them; FALSE
// when no function answers at the address.
BOOLEAN ReadFunctionIdentity(ULONG bus, ULONG device, ULONG function, USHORT* vendor, USHORT* deviceId);

// The first function (device 0..31, function 0) on the lowest bus up to
// `bus` where one answers: its bus, device and identifiers. FALSE when none
// answers. A bus that does not exist costs one read.
BOOLEAN FindLowestFunction(ULONG bus, ULONG* lowestBus, ULONG* lowestDevice, USHORT* vendor,
                           USHORT* deviceId);

#endif
