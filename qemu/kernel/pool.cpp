// A bump arena with a table of live blocks: the driver allocates little and
// rarely, so freed space is not reused; a block's memory is filled with 0xA5
// when it is handed out and with 0xDD when it is freed, as a checked build's
// pool would, so that use of uninitialised or freed pool shows.
#include "pool.h"

#include "irql.h"
#include "kernel_rules/memory_rules.h"

namespace {

const ULONG kArenaBytes = 256 * 1024;
const ULONG kMaxBlocks = 256;

struct Block {
    UCHAR* address;
    SIZE_T bytes;
    ULONG tag;
    bool alive;
};

UCHAR gArena[kArenaBytes] __attribute__((aligned(16)));
ULONG gUsed;
Block gBlocks[kMaxBlocks];
ULONG gBlockCount;
PoolCounts gCounts;

}  // namespace

PoolCounts PoolCountsNow() { return gCounts; }

void PoolResetCounts() {
    ULONG outstanding = gCounts.outstanding;
    memset(&gCounts, 0, sizeof gCounts);
    gCounts.outstanding = outstanding;
}

void PoolCountList() { ++gCounts.lists; }

void PoolCountBadFree() { ++gCounts.badFrees; }

PVOID PoolAllocate(SIZE_T bytes, ULONG tag) {
    SIZE_T rounded = (bytes + 15) & ~(SIZE_T)15;
    if (bytes == 0 || rounded > kArenaBytes - gUsed || gBlockCount == kMaxBlocks) return nullptr;
    Block& b = gBlocks[gBlockCount++];
    b.address = gArena + gUsed;
    b.bytes = bytes;
    b.tag = tag;
    b.alive = true;
    gUsed += rounded;
    memset(b.address, 0xA5, bytes);
    ++gCounts.allocations;
    ++gCounts.outstanding;
    return b.address;
}

extern "C" {

PVOID NTAPI ExAllocatePoolWithTag(ULONG, SIZE_T NumberOfBytes, ULONG Tag) {
    if (!kernel_rules::EnterRoutine(kernel_rules::Routine::ExAllocatePoolWithTag)) return nullptr;
    return PoolAllocate(NumberOfBytes, Tag);
}

PVOID NTAPI ExAllocatePool(ULONG PoolType, SIZE_T NumberOfBytes) {
    return ExAllocatePoolWithTag(PoolType, NumberOfBytes, 0x656E6F4E);  // "None"
}

VOID NTAPI ExFreePoolWithTag(PVOID P, ULONG) {
    kernel_rules::EnterRoutine(kernel_rules::Routine::ExFreePool);
    for (ULONG i = 0; i < gBlockCount; ++i) {
        Block& b = gBlocks[i];
        if (b.address == P && b.alive) {
            b.alive = false;
            memset(b.address, 0xDD, b.bytes);
            ++gCounts.frees;
            --gCounts.outstanding;
            return;
        }
    }
    kernel_rules::CheckFree(false);
}

VOID NTAPI ExFreePool(PVOID P) { ExFreePoolWithTag(P, 0); }

}  // extern "C"
