// The test kernel's HAL bus-data reads. Which buses exist is learned once, as
// a HAL learns it at boot: bus 0 exists, and so does every bus in the
// secondary..subordinate range of a bridge found on an existing bus (the
// firmware has numbered the bridges before the kernel starts). A read on any
// other bus returns 0, as the HAL does for a bus that does not exist.
#ifndef QVBARE_HAL_BUS_H
#define QVBARE_HAL_BUS_H

#include <ntddk.h>

void HalLearnBuses();
bool HalBusExists(ULONG bus);
ULONG HalExistingBusCount();

// Calls whose slot number carried bits above the function number, or whose
// bus data type was not PCIConfiguration: the driver never makes such calls.
ULONG HalMalformedCalls();

// The HAL leaves 0xCF8 at 0 after each of its accesses, as the system's
// does. So that the checks can still see what a driver left in 0xCF8, the
// value found there when each HAL read begins is recorded from
// HalAddressWatchStart on: how many reads began, and whether every one of
// them found `expected` or the 0 an earlier HAL read left.
void HalAddressWatchStart(ULONG expected);
ULONG HalAddressWatchReads();
bool HalAddressWatchKept(ULONG* firstOther);

#endif
