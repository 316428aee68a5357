// The machine's RAM as the firmware reports it in the Multiboot memory map
// (entries of type 1), handed to the driver by MmGetPhysicalMemoryRanges
// from a small pool that ExFreePool returns to. Every list handed out and
// freed is counted.
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

struct PoolCounts {
    ULONG lists;        // MmGetPhysicalMemoryRanges calls answered with a list
    ULONG frees;        // ExFreePool calls that returned a list
    ULONG badFrees;     // ExFreePool of a block that was not handed out
    ULONG outstanding;  // lists handed out and not yet freed
};

PoolCounts PoolCountsNow();
void PoolResetCounts();

#endif
