// A function address as the program keeps it: the item data of every device
// list row and the address of a filled slot.
#ifndef QUORVENAL_BUS_DEV_FN_H
#define QUORVENAL_BUS_DEV_FN_H

#include "../ioctl/sys/quorvenal_ioctl.h"

// bus << 16 | device << 8 | function.
typedef QvU32 BusDevFn;

// The address of a slot that holds nothing.
const BusDevFn kEmptySlotAddress = 0xFFFFFFFFu;

inline BusDevFn PackBusDevFn(QvU32 bus, QvU32 device, QvU32 function) {
    return (bus << 16) | (device << 8) | function;
}
inline QvU32 BusOf(BusDevFn value) { return value >> 16; }
inline QvU32 DeviceOf(BusDevFn value) { return (value >> 8) & 0xFF; }
inline QvU32 FunctionOf(BusDevFn value) { return value & 0xFF; }

#endif
