// Built against the stand-in's headers: the machine and the stand-in kernel's
// own HAL reads, port pair and mappings (host/kernel), behind plain C calls.
#include <ntddk.h>

#include <cstdio>
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

extern "C" void* BedMapIoSpace(uint64_t physical, size_t length) {
    PHYSICAL_ADDRESS address;
    address.QuadPart = static_cast<LONGLONG>(physical);
    return MmMapIoSpace(address, length, MmNonCached);
}

extern "C" void BedUnmapIoSpace(void* address, size_t length) { MmUnmapIoSpace(address, length); }

extern "C" size_t BedRamRanges(uint64_t* bases, uint64_t* sizes, size_t capacity) {
    std::vector<std::pair<uint64_t, uint64_t>> ram = standin::CurrentMachine().RamRanges();
    for (size_t i = 0; i < ram.size() && i < capacity; ++i) {
        bases[i] = ram[i].first;
        sizes[i] = ram[i].second;
    }
    return ram.size();
}
