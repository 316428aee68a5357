// The test kernel's memory manager: paging is off, so a mapping of physical
// memory is the physical address itself. Addresses at or above 4 GiB cannot
// be reached and are refused. Every mapping and unmapping is counted, and the
// physical addresses mapped can be traced, so that the checks can see how the
// driver uses them.
#ifndef QVBARE_MM_H
#define QVBARE_MM_H

#include <ntddk.h>

struct MappingCounts {
    ULONG maps;             // successful MmMapIoSpace calls
    ULONG unmaps;           // MmUnmapIoSpace calls that released a mapping
    ULONG refused;          // MmMapIoSpace calls answered with none
    ULONG notTwoBytes;      // mappings of a size other than 2 bytes
    ULONG notUncached;      // mappings with a caching type other than MmNonCached
    ULONG badUnmaps;        // unmaps of an address or size that was not mapped
    ULONG maxOutstanding;   // most mappings alive at one time
    ULONG outstanding;      // mappings alive now
    ULONG ramMappings;      // mappings of a page that holds RAM (Multiboot map)
    ULONG registerReads;    // READ_REGISTER_* inside a live mapping
    ULONG registerWrites;   // WRITE_REGISTER_* inside a live mapping
    ULONG registerOutside;  // register accesses outside every live mapping (not made)
};

MappingCounts MmCounts();
// A mapping of a page that holds RAM (the rule in kernel_rules/memory_rules.h).
void MmCountRamMapping();
void MmResetCounts();

// Records the physical address of each successful or refused mapping, up to
// `capacity` entries, until MmTraceStop; returns the number recorded.
void MmTraceStart(ULONG* addresses, ULONG capacity);
ULONG MmTraceStop();

// The kernel's device-memory accessors: one access of the width through
// EAX/AX, made only inside a live mapping.
extern "C" {
USHORT NTAPI READ_REGISTER_USHORT(volatile USHORT* Register);
VOID NTAPI WRITE_REGISTER_USHORT(volatile USHORT* Register, USHORT Value);
ULONG NTAPI READ_REGISTER_ULONG(volatile ULONG* Register);
VOID NTAPI WRITE_REGISTER_ULONG(volatile ULONG* Register, ULONG Value);
}

#endif
