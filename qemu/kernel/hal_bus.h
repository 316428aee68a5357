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

#endif
