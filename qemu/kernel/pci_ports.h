// The test kernel's own configuration mechanism #1 accesses, used by its HAL
// and, independently of the driver, by the checks.
#ifndef QVBARE_PCI_PORTS_H
#define QVBARE_PCI_PORTS_H

#include <ntddk.h>

const USHORT kConfigAddressPort = 0xCF8;
const USHORT kConfigDataPort = 0xCFC;

inline ULONG ConfigAddress(ULONG bus, ULONG device, ULONG function, ULONG offset) {
    return 0x80000000u | (bus & 0xFF) << 16 | (device & 0x1F) << 11 | (function & 7) << 8 | (offset & 0xFC);
}

inline ULONG Mech1ReadDword(ULONG bus, ULONG device, ULONG function, ULONG offset) {
    __outdword(kConfigAddressPort, ConfigAddress(bus, device, function, offset));
    return __indword(kConfigDataPort);
}

inline void Mech1WriteDword(ULONG bus, ULONG device, ULONG function, ULONG offset, ULONG value) {
    __outdword(kConfigAddressPort, ConfigAddress(bus, device, function, offset));
    __outdword(kConfigDataPort, value);
}

#endif
