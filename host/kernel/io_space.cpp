// MmMapIoSpace and MmUnmapIoSpace over the machine's physical address space.
//  - Nothing at the address (or the range runs off what is there): NULL.
//  - Plain memory within one page: a pointer straight into that memory.
//  - The memory-mapped configuration window (or memory crossing a page): a
//    private buffer standing for the mapping. Each READ_REGISTER_USHORT and
//    WRITE_REGISTER_USHORT on it is one access of the machine at that
//    physical address, made when it is made, as on hardware: a write of an
//    unchanged value still reaches the function, and registers whose bits
//    clear when written with 1 show it. Unmapping writes nothing.
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
#include "kernel_rules/irql_rules.h"
#include "kernel_rules/memory_rules.h"
#include "machine/machine.h"

namespace {

struct Mapping {
    uint64_t physical;
    SIZE_T length;
    bool device;                        // accesses go to the machine, one by one
    std::unique_ptr<uint8_t[]> buffer;  // the mapping's address for a device mapping
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

// Where an access of `length` bytes at `address` goes: inside one live
// mapping (false otherwise); *physical gets the physical address for a device
// mapping, which the access must reach through the machine.
bool FindMapped(const void* address, size_t length, bool* device, uint64_t* physical) {
    MappingTable& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    auto it = table.live.upper_bound(const_cast<void*>(address));
    if (it == table.live.begin()) return false;
    --it;
    auto start = static_cast<const uint8_t*>(it->first);
    auto at = static_cast<const uint8_t*>(address);
    if (at < start || at + length > start + it->second->length) return false;
    *device = it->second->device;
    *physical = it->second->physical + static_cast<uint64_t>(at - start);
    return true;
}

}  // namespace

extern "C" PVOID NTAPI MmMapIoSpace(PHYSICAL_ADDRESS PhysicalAddress, SIZE_T NumberOfBytes,
                                    MEMORY_CACHING_TYPE CacheType) {
    (void)CacheType;
    if (!kernel_rules::EnterRoutine(kernel_rules::Routine::MmMapIoSpace)) return NULL;
    uint64_t physical = static_cast<uint64_t>(PhysicalAddress.QuadPart);
    standin::RunAccessHook(standin::HookedAccess::Mapping, physical, 0);
    standin::Machine& machine = standin::CurrentMachine();
    if (NumberOfBytes != 0) {
        uint64_t firstPage = 0;
        uint64_t end = 0;
        kernel_rules::MappedPages(physical, NumberOfBytes, &firstPage, &end);
        kernel_rules::CheckMappingOfRam(machine.IsRam(firstPage, end - firstPage));
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
    mapping->device = address == nullptr;
    if (mapping->device) {
        // Not the machine's bytes: a plain load or store through it reaches
        // nothing, as the register accessors are the only way in.
        mapping->buffer.reset(new uint8_t[NumberOfBytes]);
        std::memset(mapping->buffer.get(), 0xA5, NumberOfBytes);
        address = mapping->buffer.get();
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
    kernel_rules::EnterRoutine(kernel_rules::Routine::MmUnmapIoSpace);
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
    standin::TraceUnmap(true);
}

extern "C" USHORT NTAPI READ_REGISTER_USHORT(PUSHORT Register) {
    bool device = false;
    uint64_t physical = 0;
    bool inside = FindMapped(Register, sizeof(USHORT), &device, &physical);
    standin::TraceRegisterAccess(false, inside);
    USHORT value = 0xFFFF;
    if (!inside) return value;
    if (!device) {
        std::memcpy(&value, Register, sizeof value);
    } else if (!standin::CurrentMachine().PhysicalRead(physical, &value, sizeof value)) {
        value = 0xFFFF;
    }
    return value;
}

extern "C" VOID NTAPI WRITE_REGISTER_USHORT(PUSHORT Register, USHORT Value) {
    bool device = false;
    uint64_t physical = 0;
    bool inside = FindMapped(Register, sizeof(USHORT), &device, &physical);
    standin::TraceRegisterAccess(true, inside);
    if (!inside) return;
    if (!device) {
        std::memcpy(Register, &Value, sizeof Value);
    } else {
        standin::CurrentMachine().PhysicalWrite(physical, &Value, sizeof Value);
    }
}
