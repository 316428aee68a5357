// Function addresses as lspci writes them: "bb:dd.f", or "dddd:bb:dd.f" with
// the PCI domain in front.
#ifndef QVCLI_PCI_ADDRESS_H
#define QVCLI_PCI_ADDRESS_H

#include <windows.h>
#include <winioctl.h>

#include "../../ioctl/sys/quorvenal_ioctl.h"

struct PciAddress {
    QvU32 Domain;  // 0 for every function the driver reaches
    QvU32 Bus;
    QvU32 Device;
    QvU32 Function;
};

enum { kPciAddressText = 16 };  // "dddd:bb:dd.f" and its terminator, with room

// Reads "[D[DDD]:]B[B]:D[D].F" in hexadecimal: bus up to ff, device up to 1f,
// function 0..7, domain up to ffff. The whole text must be the address.
bool ParsePciAddress(const char* text, PciAddress* address);

// Writes "bb:dd.f", or "dddd:bb:dd.f" for a domain other than 0, into text
// (kPciAddressText characters).
void FormatPciAddress(const PciAddress& address, char* text);

inline bool SamePciAddress(const PciAddress& a, const PciAddress& b) {
    return a.Domain == b.Domain && a.Bus == b.Bus && a.Device == b.Device && a.Function == b.Function;
}

#endif
