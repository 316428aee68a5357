// MmMapIoSpace and MmUnmapIoSpace over the machine's physical address space.
//  - Nothing at the address (or the range runs off what is there): NULL.
//  - Plain memory within one page: a pointer straight into that memory.
//  - The memory-mapped configuration window (or memory crossing a page): a
//    private copy of the bytes, read from the machine when the mapping is
//    made and written back, as one access of the mapping's width, when it is
//    released if the bytes changed. Reads and writes through such a mapping
//    therefore behave as one configuration access each, which holds for the
//    way the driver uses them (one 2-byte access per mapping) and for the
//    plain read/write registers of the simulated extended space.
//  - A page of RAM (as MmGetPhysicalMemoryRanges reports it) is mapped as
//    plain memory, but counted as a driver fault: Windows stops the machine
//    for it under Driver Verifier, and an uncached view of cached RAM is
//    undefined processor behaviour.
// Both run at IRQL <= DISPATCH_LEVEL. READ_REGISTER_USHORT and
// WRITE_REGISTER_USHORT must address bytes of a live mapping.
#include <ntddk.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "kernel/kernel_trace.h"
#include "machine/machine.h"

namespace {

struct Mapping {
    uint64_t physical;
    SIZE_T length;
    bool copied;                      // a private copy, written back on release
    std::unique_ptr<uint8_t[]> copy;  // what the driver reads and writes
    std::unique_ptr<uint8_t[]> original;
};

struct MappingTable {
    std::mutex lock;
    std::map<void*, std::unique_ptr<Mapping>> live;
    // Two mappings of the same memory page share one address; count them.
    std::map<void*, std::vector<std::unique_ptr<Mapping>>> shared;
};

MappingTable& Table() {
    static MappingTable* table = new MappingTable;  // lives as long as the process
    return *table;
}

constexpr uint64_t kPageBytes = 4096;

// Whether [address, address + length) lies inside one live mapping.
bool InsideMapping(const void* address, size_t length) {
    MappingTable& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    auto it = table.live.upper_bound(const_cast<void*>(address));
    if (it == table.live.begin()) return false;
    --it;
    auto start = static_cast<const uint8_t*>(it->first);
    auto at = static_cast<const uint8_t*>(address);
    return at >= start && at + length <= start + it->second->length;
}

}  // namespace

extern "C" PVOID NTAPI MmMapIoSpace(PHYSICAL_ADDRESS PhysicalAddress, SIZE_T NumberOfBytes,
                                    MEMORY_CACHING_TYPE CacheType) {
    (void)CacheType;
    if (!standin::RequireIrqlAtMost(DISPATCH_LEVEL, "MmMapIoSpace")) return NULL;
    uint64_t physical = static_cast<uint64_t>(PhysicalAddress.QuadPart);
    standin::RunAccessHook(standin::HookedAccess::Mapping, physical, 0);
    standin::Machine& machine = standin::CurrentMachine();
    if (NumberOfBytes != 0) {
        uint64_t firstPage = physical & ~(kPageBytes - 1);
        uint64_t end = (physical + NumberOfBytes + kPageBytes - 1) & ~(kPageBytes - 1);
        if (machine.IsRam(firstPage, end - firstPage)) standin::TraceRamMapping();
    }
    standin::PhysicalKind kind = machine.ClassifyPhysical(physical, NumberOfBytes);
    if (kind == standin::PhysicalKind::Nothing) {
        standin::TraceMapping(physical, NumberOfBytes, false);
        return NULL;
    }
    auto mapping = std::make_unique<Mapping>();
    mapping->physical = physical;
    mapping->length = NumberOfBytes;
    void* address = machine.MemoryPointer(physical, NumberOfBytes);
    if (address == nullptr) {
        mapping->copied = true;
        mapping->copy.reset(new uint8_t[NumberOfBytes]);
        mapping->original.reset(new uint8_t[NumberOfBytes]);
        if (!machine.PhysicalRead(physical, mapping->copy.get(), NumberOfBytes)) {
            standin::TraceMapping(physical, NumberOfBytes, false);
            return NULL;
        }
        std::memcpy(mapping->original.get(), mapping->copy.get(), NumberOfBytes);
        address = mapping->copy.get();
    } else {
        mapping->copied = false;
    }
    standin::TraceMapping(physical, NumberOfBytes, true);
    MappingTable& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    if (table.live.count(address)) {
        table.shared[address].push_back(std::move(mapping));
    } else {
        table.live[address] = std::move(mapping);
    }
    return address;
}

extern "C" VOID NTAPI MmUnmapIoSpace(PVOID BaseAddress, SIZE_T NumberOfBytes) {
    standin::RequireIrqlAtMost(DISPATCH_LEVEL, "MmUnmapIoSpace");
    std::unique_ptr<Mapping> mapping;
    {
        MappingTable& table = Table();
        std::lock_guard<std::mutex> guard(table.lock);
        auto it = table.live.find(BaseAddress);
        if (it == table.live.end() || it->second->length != NumberOfBytes) {
            standin::TraceUnmap(false);
            return;
        }
        auto extra = table.shared.find(BaseAddress);
        if (extra != table.shared.end() && !extra->second.empty()) {
            mapping = std::move(extra->second.back());
            extra->second.pop_back();
            if (extra->second.empty()) table.shared.erase(extra);
        } else {
            mapping = std::move(it->second);
            table.live.erase(it);
        }
    }
    if (mapping->copied && std::memcmp(mapping->copy.get(), mapping->original.get(), mapping->length) != 0) {
        standin::CurrentMachine().PhysicalWrite(mapping->physical, mapping->copy.get(), mapping->length);
    }
    standin::TraceUnmap(true);
}

extern "C" USHORT NTAPI READ_REGISTER_USHORT(PUSHORT Register) {
    bool inside = InsideMapping(Register, sizeof(USHORT));
    standin::TraceRegisterAccess(false, inside);
    if (!inside) return 0xFFFF;
    USHORT value;
    std::memcpy(&value, Register, sizeof value);
    return value;
}

extern "C" VOID NTAPI WRITE_REGISTER_USHORT(PUSHORT Register, USHORT Value) {
    bool inside = InsideMapping(Register, sizeof(USHORT));
    standin::TraceRegisterAccess(true, inside);
    if (!inside) return;
    std::memcpy(Register, &Value, sizeof Value);
}
