// Built against the stand-in's headers: the machine and the stand-in kernel's
// own HAL reads, port pair and mappings (host/kernel), behind plain C calls.
#include <ntddk.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "machine/machine.h"
#include "machine_bridge.h"

extern "C" ULONG NTAPI HalGetBusDataByOffset(BUS_DATA_TYPE BusDataType, ULONG BusNumber, ULONG SlotNumber,
                                             PVOID Buffer, ULONG Offset, ULONG Length);
extern "C" PVOID NTAPI MmMapIoSpace(PHYSICAL_ADDRESS PhysicalAddress, SIZE_T NumberOfBytes,
                                    MEMORY_CACHING_TYPE CacheType);
extern "C" VOID NTAPI MmUnmapIoSpace(PVOID BaseAddress, SIZE_T NumberOfBytes);
extern "C" ULONG __indword(USHORT Port);
extern "C" VOID __outdword(USHORT Port, ULONG Data);

extern "C" int BedLoadMachine(const char* path, char* error, size_t size) {
    if (path == nullptr || path[0] == '\0') return 1;
    std::string why;
    std::unique_ptr<standin::Machine> machine = standin::LoadMachineFile(path, &why);
    if (!machine) {
        snprintf(error, size, "%s", why.c_str());
        return 0;
    }
    standin::SetCurrentMachine(std::move(machine));
    return 1;
}

extern "C" unsigned long BedHalRead(unsigned long busDataType, unsigned long bus, unsigned long slot,
                                    void* buffer, unsigned long offset, unsigned long length) {
    return HalGetBusDataByOffset(static_cast<BUS_DATA_TYPE>(busDataType), bus, slot, buffer, offset, length);
}

extern "C" uint32_t BedPortRead32(uint16_t port) { return __indword(port); }

extern "C" void BedPortWrite32(uint16_t port, uint32_t value) { __outdword(port, value); }

namespace {

// A mapping of device memory (the configuration window) as the driver sees
// it under Wine: its bytes, read from the machine when it is mapped, and
// those the driver changed written back when it is unmapped. The stand-in
// kernel reaches the machine only through its register accessors, but the
// driver's accesses here are plain loads and stores (the bed's own register
// routines on x86, the driver's own moves through AX on x64); the driver
// maps each 16-bit access on its own, so each mapping is one access.
struct DeviceCopy {
    uint64_t physical;
    std::vector<uint8_t> before;
};

std::mutex copiesLock;
std::map<void*, DeviceCopy> copies;

}  // namespace

extern "C" void* BedMapIoSpace(uint64_t physical, size_t length) {
    PHYSICAL_ADDRESS address;
    address.QuadPart = static_cast<LONGLONG>(physical);
    void* mapped = MmMapIoSpace(address, length, MmNonCached);
    standin::Machine& machine = standin::CurrentMachine();
    if (mapped == nullptr || machine.MemoryPointer(physical, length) != nullptr) return mapped;
    DeviceCopy copy = {physical, std::vector<uint8_t>(length)};
    if (!machine.PhysicalRead(physical, copy.before.data(), length)) {
        MmUnmapIoSpace(mapped, length);
        return nullptr;
    }
    std::memcpy(mapped, copy.before.data(), length);
    std::lock_guard<std::mutex> guard(copiesLock);
    copies[mapped] = std::move(copy);
    return mapped;
}

extern "C" void BedUnmapIoSpace(void* address, size_t length) {
    {
        std::lock_guard<std::mutex> guard(copiesLock);
        auto it = copies.find(address);
        if (it != copies.end()) {
            DeviceCopy& copy = it->second;
            if (copy.before.size() == length && std::memcmp(address, copy.before.data(), length) != 0) {
                standin::CurrentMachine().PhysicalWrite(copy.physical, address, length);
            }
            copies.erase(it);
        }
    }
    MmUnmapIoSpace(address, length);
}

extern "C" size_t BedRamRanges(uint64_t* bases, uint64_t* sizes, size_t capacity) {
    std::vector<std::pair<uint64_t, uint64_t>> ram = standin::CurrentMachine().RamRanges();
    for (size_t i = 0; i < ram.size() && i < capacity; ++i) {
        bases[i] = ram[i].first;
        sizes[i] = ram[i].second;
    }
    return ram.size();
}
