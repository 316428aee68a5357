#include "ram_map.h"

#include "irql.h"
#include "pool.h"
#include "report.h"

namespace {

const ULONG kMultibootMagic = 0x2BADB002;
const ULONG kMultibootHasMemoryMap = 1u << 6;
const ULONG kRamType = 1;
const ULONG kMaxRanges = 16;
const ULONG kPageBytes = 4096;

struct Range {
    ULONGLONG base;
    ULONGLONG size;
};

struct __attribute__((packed)) MapEntry {
    ULONG size;  // of the rest of the entry
    ULONGLONG base;
    ULONGLONG length;
    ULONG type;
};

Range gRam[kMaxRanges];
ULONG gRamCount;

}  // namespace

bool RamLearnMap(ULONG magic, const ULONG* info) {
    gRamCount = 0;
    if (magic != kMultibootMagic || (info[0] & kMultibootHasMemoryMap) == 0) return false;
    ULONG at = info[12];
    ULONG end = at + info[11];
    while (at < end && gRamCount < kMaxRanges) {
        const MapEntry* entry = (const MapEntry*)(ULONG_PTR)at;
        if (entry->type == kRamType && entry->length != 0) {
            gRam[gRamCount].base = entry->base;
            gRam[gRamCount].size = entry->length;
            ++gRamCount;
        }
        at += entry->size + sizeof entry->size;
    }
    return gRamCount > 0;
}

ULONG RamRangeCount() { return gRamCount; }

bool RamPageHolds(ULONG address) {
    ULONGLONG page = address & ~(kPageBytes - 1);
    for (ULONG i = 0; i < gRamCount; ++i) {
        if (page < gRam[i].base + gRam[i].size && gRam[i].base < page + kPageBytes) return true;
    }
    return false;
}

void RamPrintMap() {
    for (ULONG i = 0; i < gRamCount; ++i) {
        Note("RAM 0x%x..0x%x", (ULONG)gRam[i].base, (ULONG)(gRam[i].base + gRam[i].size - 1));
    }
}

// The ranges in a pool block ending with an all-zero entry; the caller frees
// it with ExFreePool. Callable at PASSIVE_LEVEL only.
extern "C" PPHYSICAL_MEMORY_RANGE NTAPI MmGetPhysicalMemoryRanges(VOID) {
    if (!kernel_rules::EnterRoutine(kernel_rules::Routine::MmGetPhysicalMemoryRanges)) return nullptr;
    PPHYSICAL_MEMORY_RANGE ranges = (PPHYSICAL_MEMORY_RANGE)PoolAllocate(
        (gRamCount + 1) * sizeof(PHYSICAL_MEMORY_RANGE), 0x52506D4D);  // "MmPR"
    if (ranges == nullptr) return nullptr;
    for (ULONG i = 0; i < gRamCount; ++i) {
        ranges[i].BaseAddress.QuadPart = (LONGLONG)gRam[i].base;
        ranges[i].NumberOfBytes.QuadPart = (LONGLONG)gRam[i].size;
    }
    memset(&ranges[gRamCount], 0, sizeof ranges[gRamCount]);
    PoolCountList();
    return ranges;
}
