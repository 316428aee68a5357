// Nonpaged pool of the test kernel: a fixed arena handed out in blocks that
// carry their size and tag, so that frees can be checked and what is left
// allocated can be counted.
#ifndef QVBARE_POOL_H
#define QVBARE_POOL_H

#include <ntddk.h>

struct PoolCounts {
    ULONG allocations;
    ULONG lists;  // MmGetPhysicalMemoryRanges calls answered with a list
    ULONG frees;
    ULONG outstanding;  // blocks handed out and not yet freed
    ULONG badFrees;     // a free of an address the pool did not hand out, or twice
};

PoolCounts PoolCountsNow();
void PoolResetCounts();
void PoolCountList();
// A free of a block the pool did not hand out (kernel_rules/memory_rules.h).
void PoolCountBadFree();

// Allocations made by the test kernel itself on the driver's behalf (the
// array of MmGetPhysicalMemoryRanges), freed by the driver with ExFreePool.
PVOID PoolAllocate(SIZE_T bytes, ULONG tag);

extern "C" {
PVOID NTAPI ExAllocatePoolWithTag(ULONG PoolType, SIZE_T NumberOfBytes, ULONG Tag);
PVOID NTAPI ExAllocatePool(ULONG PoolType, SIZE_T NumberOfBytes);
VOID NTAPI ExFreePoolWithTag(PVOID P, ULONG Tag);
VOID NTAPI ExFreePool(PVOID P);
}

#endif
