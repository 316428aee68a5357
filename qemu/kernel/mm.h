// The test kernel's memory manager: paging is off, so a mapping of physical
// memory is the physical address itself. Addresses at or above 4 GiB cannot
// be reached and are refused. Every mapping and unmapping is counted, and the
// physical addresses mapped can be traced, so that the checks can see how the
// driver uses them.
#ifndef QVBARE_MM_H
#define QVBARE_MM_H

#include <ntddk.h>

struct MappingCounts {
    ULONG maps;            // successful MmMapIoSpace calls
    ULONG unmaps;          // MmUnmapIoSpace calls that released a mapping
    ULONG refused;         // MmMapIoSpace calls answered with none
    ULONG notTwoBytes;     // mappings of a size other than 2 bytes
    ULONG notUncached;     // mappings with a caching type other than MmNonCached
    ULONG badUnmaps;       // unmaps of an address or size that was not mapped
    ULONG maxOutstanding;  // most mappings alive at one time
    ULONG outstanding;     // mappings alive now
    ULONG inRam;           // mappings of an address inside a RAM range
    ULONG rangeQueries;    // MmGetPhysicalMemoryRanges calls
};

// The machine's RAM, as the firmware's memory map gives it (usable ranges),
// for MmGetPhysicalMemoryRanges and for counting mappings of RAM.
void MmSetRamRange(ULONGLONG base, ULONGLONG bytes);
ULONG MmRamRangeCount();
bool MmIsRam(ULONG address);

MappingCounts MmCounts();
void MmResetCounts();

// Records the physical address of each successful or refused mapping, up to
// `capacity` entries, until MmTraceStop; returns the number recorded.
void MmTraceStart(ULONG* addresses, ULONG capacity);
ULONG MmTraceStop();

extern "C" PPHYSICAL_MEMORY_RANGE NTAPI MmGetPhysicalMemoryRanges(VOID);

#endif
