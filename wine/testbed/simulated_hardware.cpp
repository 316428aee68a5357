// The test-bed driver's hardware, as a DLL beside QUORVENAL.sys. Under Wine a
// port instruction kills the driver host and the HAL's bus-data reads return
// 0, so the test-bed driver imports its four hardware operations and the
// port pair from here instead: HalGetBusData, HalGetBusDataByOffset,
// MmMapIoSpace and MmUnmapIoSpace by their own names (the driver's sources
// call them unchanged, through their import pointers), and __indword /
// __outdword in place of the processor's port instructions. Behind them is
// the simulated machine with its built-in default machine.
//
// This is a separate DLL because Wine runs an image as a kernel driver only
// when it imports neither kernel32.dll nor ntdll.dll, and the machine needs
// the C++ runtime, which does.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <mutex>
#include <set>

#include "machine/machine.h"

typedef int BUS_DATA_TYPE;  // the HAL's bus-data kinds
const BUS_DATA_TYPE PCIConfiguration = 4;

namespace {

// One configuration-window mapping: a 2-byte shadow read when it is made and
// written back when it is released, if the driver changed it. The simulated
// extended space has only plain read-write and read-only registers, so a
// shadow behaves as the window itself for the driver's 16-bit accesses.
struct Shadow {
    USHORT value;  // first: the mapping's address is the shadow's address
    USHORT original;
    uint64_t physical;
};

std::mutex& ShadowLock() {
    static std::mutex lock;
    return lock;
}

std::set<Shadow*>& Shadows() {
    static std::set<Shadow*> shadows;
    return shadows;
}

standin::Machine& Hardware() {
    return standin::CurrentMachine();
}

// PCI_SLOT_NUMBER: device in bits 0..4, function in bits 5..7.
standin::FunctionAddress SlotAddress(ULONG bus, ULONG slot) {
    return standin::FunctionAddress{bus, slot & 0x1F, (slot >> 5) & 7};
}

// The bus-data read of a real HAL, over the machine: 0 for a bus that does
// not exist, 2 (vendor 0xFFFF) where no function answers, otherwise the
// bytes of the 256-byte header that lie in the range asked for.
ULONG ReadBusData(ULONG bus, ULONG slot, PVOID buffer, ULONG offset, ULONG length) {
    standin::Machine& machine = Hardware();
    if (!machine.BusExists(bus)) {
        return 0;
    }
    standin::FunctionAddress address = SlotAddress(bus, slot);
    if (!machine.IsPresent(address)) {
        if (length >= 2) {
            std::memset(buffer, 0xFF, 2);
            return 2;
        }
        return 0;
    }
    if (offset >= 256) {
        return 0;
    }
    ULONG count = length < 256 - offset ? length : 256 - offset;
    if (count > 0 && !machine.ReadConfig(address, offset, buffer, count)) {
        return 0;
    }
    return count;
}

}  // namespace

extern "C" {

__declspec(dllexport) ULONG HalGetBusData(BUS_DATA_TYPE type, ULONG bus, ULONG slot, PVOID buffer,
                                 ULONG length) {
    if (type != PCIConfiguration) {
        return 0;
    }
    return ReadBusData(bus, slot, buffer, 0, length);
}

__declspec(dllexport) ULONG HalGetBusDataByOffset(BUS_DATA_TYPE type, ULONG bus, ULONG slot, PVOID buffer,
                                         ULONG offset, ULONG length) {
    if (type != PCIConfiguration) {
        return 0;
    }
    return ReadBusData(bus, slot, buffer, offset, length);
}

__declspec(dllexport) PVOID MmMapIoSpace(LARGE_INTEGER address, SIZE_T bytes, int /*caching*/) {
    standin::Machine& machine = Hardware();
    uint64_t physical = static_cast<uint64_t>(address.QuadPart);
    switch (machine.ClassifyPhysical(physical, bytes)) {
    case standin::PhysicalKind::Memory:
        return machine.MemoryPointer(physical, bytes);
    case standin::PhysicalKind::Ecam: {
        if (bytes != sizeof(USHORT)) {
            return NULL;
        }
        Shadow* shadow = new Shadow;
        shadow->physical = physical;
        shadow->value = 0xFFFF;
        machine.PhysicalRead(physical, &shadow->value, sizeof shadow->value);
        shadow->original = shadow->value;
        std::lock_guard<std::mutex> lock(ShadowLock());
        Shadows().insert(shadow);
        return shadow;
    }
    case standin::PhysicalKind::Nothing:
        break;
    }
    return NULL;
}

__declspec(dllexport) VOID MmUnmapIoSpace(PVOID mapping, SIZE_T) {
    Shadow* shadow = static_cast<Shadow*>(mapping);
    {
        std::lock_guard<std::mutex> lock(ShadowLock());
        if (Shadows().erase(shadow) == 0) {
            return;  // plain memory: nothing to release
        }
    }
    if (shadow->value != shadow->original) {
        Hardware().PhysicalWrite(shadow->physical, &shadow->value, sizeof shadow->value);
    }
    delete shadow;
}

// The port pair 0xCF8/0xCFC.
__declspec(dllexport) unsigned long __indword(unsigned short port) {
    return Hardware().PortRead32(port);
}

__declspec(dllexport) void __outdword(unsigned short port, unsigned long value) {
    Hardware().PortWrite32(port, static_cast<uint32_t>(value));
}

}  // extern "C"

