// MmMapIoSpace / MmUnmapIoSpace as the identity map of a kernel without paging.
#include "mm.h"

#include "irql.h"
#include "pool.h"

namespace {

const ULONG kSlots = 8;
const ULONG kMaxRamRanges = 16;

struct RamRange {
    ULONGLONG base;
    ULONGLONG bytes;
};

RamRange gRam[kMaxRamRanges];
ULONG gRamCount;

struct Mapping {
    ULONG address;
    SIZE_T bytes;
    bool alive;
};

Mapping gMappings[kSlots];
MappingCounts gCounts;
ULONG* gTrace;
ULONG gTraceCapacity;
ULONG gTraceCount;

void Trace(ULONG address) {
    if (gTrace != nullptr && gTraceCount < gTraceCapacity) gTrace[gTraceCount] = address;
    if (gTrace != nullptr) ++gTraceCount;
}

}  // namespace

void MmSetRamRange(ULONGLONG base, ULONGLONG bytes) {
    if (gRamCount < kMaxRamRanges && bytes != 0) gRam[gRamCount++] = {base, bytes};
}

ULONG MmRamRangeCount() { return gRamCount; }

bool MmIsRam(ULONG address) {
    for (ULONG i = 0; i < gRamCount; ++i) {
        if (address >= gRam[i].base && address - gRam[i].base < gRam[i].bytes) return true;
    }
    return false;
}

MappingCounts MmCounts() { return gCounts; }

void MmResetCounts() {
    ULONG outstanding = gCounts.outstanding;
    memset(&gCounts, 0, sizeof gCounts);
    gCounts.outstanding = outstanding;
}

void MmTraceStart(ULONG* addresses, ULONG capacity) {
    gTrace = addresses;
    gTraceCapacity = capacity;
    gTraceCount = 0;
}

ULONG MmTraceStop() {
    gTrace = nullptr;
    return gTraceCount;
}

extern "C" PVOID NTAPI MmMapIoSpace(PHYSICAL_ADDRESS PhysicalAddress, SIZE_T NumberOfBytes,
                                    MEMORY_CACHING_TYPE CacheType) {
    ULONG low = PhysicalAddress.u.LowPart;
    Trace(low);
    IrqlRequireAtMost(DISPATCH_LEVEL);
    bool reachable = PhysicalAddress.u.HighPart == 0 && NumberOfBytes != 0 &&
                     low != 0 && NumberOfBytes - 1 <= 0xFFFFFFFFu - low;
    ULONG slot = 0;
    while (slot < kSlots && gMappings[slot].alive) ++slot;
    if (!reachable || slot == kSlots) {
        ++gCounts.refused;
        return nullptr;
    }
    if (NumberOfBytes != 2) ++gCounts.notTwoBytes;
    if (CacheType != MmNonCached) ++gCounts.notUncached;
    if (MmIsRam(low)) ++gCounts.inRam;
    gMappings[slot].address = low;
    gMappings[slot].bytes = NumberOfBytes;
    gMappings[slot].alive = true;
    ++gCounts.maps;
    if (++gCounts.outstanding > gCounts.maxOutstanding) gCounts.maxOutstanding = gCounts.outstanding;
    return (PVOID)(ULONG_PTR)low;
}

extern "C" VOID NTAPI MmUnmapIoSpace(PVOID BaseAddress, SIZE_T NumberOfBytes) {
    IrqlRequireAtMost(DISPATCH_LEVEL);
    ULONG address = (ULONG)(ULONG_PTR)BaseAddress;
    for (ULONG slot = 0; slot < kSlots; ++slot) {
        Mapping& m = gMappings[slot];
        if (m.alive && m.address == address && m.bytes == NumberOfBytes) {
            m.alive = false;
            ++gCounts.unmaps;
            --gCounts.outstanding;
            return;
        }
    }
    ++gCounts.badUnmaps;
}

// The RAM ranges in a pool array that ends with an all-zero entry; the
// caller frees it with ExFreePool. Callable at PASSIVE_LEVEL only.
extern "C" PPHYSICAL_MEMORY_RANGE NTAPI MmGetPhysicalMemoryRanges(VOID) {
    IrqlRequireAtMost(PASSIVE_LEVEL);
    ++gCounts.rangeQueries;
    PPHYSICAL_MEMORY_RANGE ranges = (PPHYSICAL_MEMORY_RANGE)PoolAllocate(
        (gRamCount + 1) * sizeof(PHYSICAL_MEMORY_RANGE), 0x52506D4D);  // "MmPR"
    if (ranges == nullptr) return nullptr;
    for (ULONG i = 0; i < gRamCount; ++i) {
        ranges[i].BaseAddress.QuadPart = (LONGLONG)gRam[i].base;
        ranges[i].NumberOfBytes.QuadPart = (LONGLONG)gRam[i].bytes;
    }
    memset(&ranges[gRamCount], 0, sizeof ranges[gRamCount]);
    return ranges;
}
