// MmMapIoSpace / MmUnmapIoSpace as the identity map of a kernel without paging.
#include "mm.h"

namespace {

const ULONG kSlots = 8;

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
    gMappings[slot].address = low;
    gMappings[slot].bytes = NumberOfBytes;
    gMappings[slot].alive = true;
    ++gCounts.maps;
    if (++gCounts.outstanding > gCounts.maxOutstanding) gCounts.maxOutstanding = gCounts.outstanding;
    return (PVOID)(ULONG_PTR)low;
}

extern "C" VOID NTAPI MmUnmapIoSpace(PVOID BaseAddress, SIZE_T NumberOfBytes) {
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
