// MmMapIoSpace / MmUnmapIoSpace as the identity map of a kernel without paging.
#include "mm.h"

#include "irql.h"
#include "kernel_rules/memory_rules.h"
#include "ram_map.h"

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

void MmCountRamMapping() { ++gCounts.ramMappings; }

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
    if (!kernel_rules::EnterRoutine(kernel_rules::Routine::MmMapIoSpace)) {
        ++gCounts.refused;
        return nullptr;
    }
    bool reachable = PhysicalAddress.u.HighPart == 0 && NumberOfBytes != 0 && low != 0 &&
                     NumberOfBytes - 1 <= 0xFFFFFFFFu - low;
    ULONG slot = 0;
    while (slot < kSlots && gMappings[slot].alive) ++slot;
    if (!reachable || slot == kSlots) {
        ++gCounts.refused;
        return nullptr;
    }
    if (NumberOfBytes != 2) ++gCounts.notTwoBytes;
    if (CacheType != MmNonCached) ++gCounts.notUncached;
    uint64_t firstPage = 0;
    uint64_t end = 0;
    kernel_rules::MappedPages(low, NumberOfBytes, &firstPage, &end);
    bool holdsRam = false;
    for (uint64_t page = firstPage; page < end && !holdsRam; page += kernel_rules::kPageBytes) {
        holdsRam = RamPageHolds((ULONG)page);
    }
    kernel_rules::CheckMappingOfRam(holdsRam);
    gMappings[slot].address = low;
    gMappings[slot].bytes = NumberOfBytes;
    gMappings[slot].alive = true;
    ++gCounts.maps;
    if (++gCounts.outstanding > gCounts.maxOutstanding) gCounts.maxOutstanding = gCounts.outstanding;
    return (PVOID)(ULONG_PTR)low;
}

extern "C" VOID NTAPI MmUnmapIoSpace(PVOID BaseAddress, SIZE_T NumberOfBytes) {
    kernel_rules::EnterRoutine(kernel_rules::Routine::MmUnmapIoSpace);
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

namespace {

bool InsideMapping(ULONG address, ULONG bytes) {
    for (ULONG slot = 0; slot < kSlots; ++slot) {
        const Mapping& m = gMappings[slot];
        if (m.alive && address >= m.address && address - m.address + bytes <= m.bytes) return true;
    }
    return false;
}

}  // namespace

extern "C" {

USHORT NTAPI READ_REGISTER_USHORT(volatile USHORT* Register) {
    if (!InsideMapping((ULONG)(ULONG_PTR)Register, 2)) {
        ++gCounts.registerOutside;
        return 0xFFFF;
    }
    ++gCounts.registerReads;
    USHORT value;
    __asm__ __volatile__("movw (%1), %0" : "=a"(value) : "r"(Register) : "memory");
    return value;
}

VOID NTAPI WRITE_REGISTER_USHORT(volatile USHORT* Register, USHORT Value) {
    if (!InsideMapping((ULONG)(ULONG_PTR)Register, 2)) {
        ++gCounts.registerOutside;
        return;
    }
    ++gCounts.registerWrites;
    __asm__ __volatile__("movw %0, (%1)" : : "a"(Value), "r"(Register) : "memory");
}

ULONG NTAPI READ_REGISTER_ULONG(volatile ULONG* Register) {
    if (!InsideMapping((ULONG)(ULONG_PTR)Register, 4)) {
        ++gCounts.registerOutside;
        return 0xFFFFFFFF;
    }
    ++gCounts.registerReads;
    ULONG value;
    __asm__ __volatile__("movl (%1), %0" : "=a"(value) : "r"(Register) : "memory");
    return value;
}

VOID NTAPI WRITE_REGISTER_ULONG(volatile ULONG* Register, ULONG Value) {
    if (!InsideMapping((ULONG)(ULONG_PTR)Register, 4)) {
        ++gCounts.registerOutside;
        return;
    }
    ++gCounts.registerWrites;
    __asm__ __volatile__("movl %0, (%1)" : : "a"(Value), "r"(Register) : "memory");
}

}  // extern "C"
