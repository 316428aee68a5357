// HalGetBusData and HalGetBusDataByOffset for PCI configuration space.
// The stand-in HAL reads the machine's configuration spaces directly, each
// read in one step under the machine's lock, rather than through the
// 0xCF8/0xCFC pair: so it never moves the address register under a driver
// that is using the ports, as a HAL on another processor could.
#include <ntddk.h>

#include <mutex>

#include "kernel/kernel_trace.h"
#include "kernel_rules/irql_rules.h"
#include "kernel/processors.h"
#include "machine/machine.h"

namespace {

constexpr ULONG kPciHeaderBytes = 256;  // what the HAL reaches of a function
constexpr USHORT kAddressPort = 0xCF8;
constexpr USHORT kDataPort = 0xCFC;

// The HAL's configuration lock, held across a cycle through the port pair.
std::mutex& HalConfigLock() {
    static auto* lock = new std::mutex;  // lives as long as the process
    return *lock;
}

thread_local uint8_t gLevelBeforeCycle = PASSIVE_LEVEL;

}  // namespace

namespace standin {

void HalCycleAddress(unsigned bus, unsigned device, unsigned function, unsigned offset) {
    gLevelBeforeCycle = kernel_rules::ExchangeLevel(HIGH_LEVEL);
    HalConfigLock().lock();
    __outdword(kAddressPort, 0x80000000u | (bus & 0xFF) << 16 | (device & 0x1F) << 11 | (function & 7) << 8 |
                                 (offset & 0xFC));
}

uint32_t HalCycleReadAndRelease() {
    uint32_t value = __indword(kDataPort);
    __outdword(kAddressPort, 0);
    HalConfigLock().unlock();
    kernel_rules::ExchangeLevel(gLevelBeforeCycle);
    return value;
}

}  // namespace standin

extern "C" ULONG NTAPI HalGetBusDataByOffset(BUS_DATA_TYPE BusDataType, ULONG BusNumber, ULONG SlotNumber,
                                             PVOID Buffer, ULONG Offset, ULONG Length) {
    standin::TraceHalRead();
    // The HAL takes its own configuration lock at HIGH_LEVEL: a caller
    // already raised above DISPATCH_LEVEL has no business here.
    if (!kernel_rules::EnterRoutine(kernel_rules::Routine::HalGetBusDataByOffset)) return 0;
    if (BusDataType != PCIConfiguration) return 0;
    standin::Machine& machine = standin::CurrentMachine();
    if (!machine.BusExists(BusNumber)) return 0;  // the bus does not exist
    if (Length == 0) return 0;

    PCI_SLOT_NUMBER slot;
    slot.u.AsULONG = SlotNumber;
    standin::FunctionAddress address{BusNumber, slot.u.bits.DeviceNumber, slot.u.bits.FunctionNumber};
    UCHAR* bytes = static_cast<UCHAR*>(Buffer);
    if (!machine.IsPresent(address)) {
        // No function answers: the vendor identifier reads 0xFFFF.
        if (Offset == 0 && Length >= 2) {
            bytes[0] = 0xFF;
            bytes[1] = 0xFF;
        }
        return 2;
    }
    if (Offset >= kPciHeaderBytes) return 0;
    ULONG count = Length < kPciHeaderBytes - Offset ? Length : kPciHeaderBytes - Offset;
    if (!machine.ReadConfig(address, Offset, bytes, count)) {
        // Taken off the bus between the two looks.
        if (Offset == 0 && Length >= 2) {
            bytes[0] = 0xFF;
            bytes[1] = 0xFF;
        }
        return 2;
    }
    return count;
}

extern "C" ULONG NTAPI HalGetBusData(BUS_DATA_TYPE BusDataType, ULONG BusNumber, ULONG SlotNumber,
                                     PVOID Buffer, ULONG Length) {
    return HalGetBusDataByOffset(BusDataType, BusNumber, SlotNumber, Buffer, 0, Length);
}
