// MmGetPhysicalMemoryRanges and ExFreePool. The RAM ranges are the machine's
// (its `memory` directives; the default machine's 0..3 GiB), sorted and with
// touching ranges joined, as the memory manager reports them: an array from
// nonpaged pool ending in an entry whose base and size are both 0, which the
// caller frees with ExFreePool. Every block handed out is remembered, so that
// a block not freed, or freed twice, shows.
#include <ntddk.h>

#include <cstdlib>
#include <mutex>
#include <set>

#include "kernel/kernel_trace.h"
#include "kernel_rules/irql_rules.h"
#include "kernel_rules/memory_rules.h"
#include "machine/machine.h"

namespace {

struct PoolRegistry {
    std::mutex lock;
    std::set<void*> blocks;
    bool rangesUnavailable = false;
};

PoolRegistry& Pool() {
    static PoolRegistry* pool = new PoolRegistry;  // lives as long as the process
    return *pool;
}

}  // namespace

namespace standin {

void SetMemoryRangesUnavailable(bool unavailable) {
    PoolRegistry& pool = Pool();
    std::lock_guard<std::mutex> guard(pool.lock);
    pool.rangesUnavailable = unavailable;
}

}  // namespace standin

extern "C" PPHYSICAL_MEMORY_RANGE NTAPI MmGetPhysicalMemoryRanges(VOID) {
    if (!kernel_rules::EnterRoutine(kernel_rules::Routine::MmGetPhysicalMemoryRanges)) return NULL;
    PoolRegistry& pool = Pool();
    {
        std::lock_guard<std::mutex> guard(pool.lock);
        if (pool.rangesUnavailable) return NULL;
    }
    std::vector<std::pair<uint64_t, uint64_t>> ram = standin::CurrentMachine().RamRanges();
    auto* list =
        static_cast<PPHYSICAL_MEMORY_RANGE>(std::calloc(ram.size() + 1, sizeof(PHYSICAL_MEMORY_RANGE)));
    if (list == NULL) return NULL;
    for (size_t i = 0; i < ram.size(); ++i) {
        list[i].BaseAddress.QuadPart = static_cast<LONGLONG>(ram[i].first);
        list[i].NumberOfBytes.QuadPart = static_cast<LONGLONG>(ram[i].second);
    }
    {
        std::lock_guard<std::mutex> guard(pool.lock);
        pool.blocks.insert(list);
    }
    standin::TracePool(true);
    standin::TraceMemoryRangeList();
    return list;
}

extern "C" VOID NTAPI ExFreePool(PVOID P) {
    kernel_rules::EnterRoutine(kernel_rules::Routine::ExFreePool);
    PoolRegistry& pool = Pool();
    {
        std::lock_guard<std::mutex> guard(pool.lock);
        if (!kernel_rules::CheckFree(pool.blocks.erase(P) != 0)) return;
    }
    std::free(P);
    standin::TracePool(false);
}
