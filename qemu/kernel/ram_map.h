// The machine's RAM as the firmware reports it in the Multiboot memory map
// (entries of type 1, usable), handed to the driver by
// MmGetPhysicalMemoryRanges in a pool block that ExFreePool returns.
#ifndef QVBARE_RAM_MAP_H
#define QVBARE_RAM_MAP_H

#include <ntddk.h>

// Reads the memory map from the Multiboot information record; false when the
// loader gave none.
bool RamLearnMap(ULONG magic, const ULONG* info);
ULONG RamRangeCount();
// Whether the 4 KiB page holding `address` overlaps RAM in any byte.
bool RamPageHolds(ULONG address);
void RamPrintMap();

extern "C" PPHYSICAL_MEMORY_RANGE NTAPI MmGetPhysicalMemoryRanges(VOID);

#endif
