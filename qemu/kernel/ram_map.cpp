#include "ram_map.h"

#include "irql.h"
#include "report.h"

namespace {

const ULONG kMultibootMagic = 0x2BADB002;
const ULONG kMultibootHasMemoryMap = 1u << 6;
const ULONG kRamType = 1;
const ULONG kMaxRanges = 32;
const ULONG kPoolBlocks = 4;
const ULONGLONG kPageBytes = 0x1000;

struct Range {
    ULONGLONG base;
    ULONGLONG size;
};

Range gRam[kMaxRanges];
ULONG gRamCount;

struct PoolBlock {
    bool inUse;
    PHYSICAL_MEMORY_RANGE entries[kMaxRanges + 1];
};

PoolBlock gPool[kPoolBlocks];
PoolCounts gPoolCounts;

// The map's entries are packed: size (4 bytes, not counting itself), base
// (8), length (8), type (4).
struct __attribute__((packed)) MapEntry {
    ULONG size;
    ULONGLONG base;
    ULONGLONG length;
    ULONG type;
};

}  // namespace

bool RamLearnMap(ULONG magic, const ULONG* info) {
    gRamCount = 0;
    if (magic != kMultibootMagic || (info[0] & kMultibootHasMemoryMap) == 0) return false;
    ULONG length = info[11];
    ULONG at = info[12];
    ULONG end = at + length;
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
    ULONGLONG page = address & ~(ULONG)(kPageBytes - 1);
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

PoolCounts PoolCountsNow() { return gPoolCounts; }

void PoolResetCounts() {
    ULONG outstanding = gPoolCounts.outstanding;
    memset(&gPoolCounts, 0, sizeof gPoolCounts);
    gPoolCounts.outstanding = outstanding;
}

extern "C" PPHYSICAL_MEMORY_RANGE NTAPI MmGetPhysicalMemoryRanges(VOID) {
    IrqlRequireAtMost(PASSIVE_LEVEL);
    for (ULONG b = 0; b < kPoolBlocks; ++b) {
        PoolBlock& block = gPool[b];
        if (block.inUse) continue;
        block.inUse = true;
        memset(block.entries, 0, sizeof block.entries);
        for (ULONG i = 0; i < gRamCount; ++i) {
            block.entries[i].BaseAddress.QuadPart = (LONGLONG)gRam[i].base;
            block.entries[i].NumberOfBytes.QuadPart = (LONGLONG)gRam[i].size;
        }
        ++gPoolCounts.lists;
        ++gPoolCounts.outstanding;
        return block.entries;
    }
    return nullptr;  // every block handed out: no pool
}

extern "C" VOID NTAPI ExFreePool(PVOID P) {
    IrqlRequireAtMost(DISPATCH_LEVEL);
    for (ULONG b = 0; b < kPoolBlocks; ++b) {
        PoolBlock& block = gPool[b];
        if (block.inUse && P == block.entries) {
            block.inUse = false;
            ++gPoolCounts.frees;
            --gPoolCounts.outstanding;
            return;
        }
    }
    ++gPoolCounts.badFrees;
}
