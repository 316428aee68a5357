// Header writes through the 0xCF8/0xCFC port pair. The HAL makes its own
// configuration cycles through the same pair, on any processor, under a spin
// lock of its own that it does not export. Each doubleword's
// address/data/restore sequence runs at HIGH_LEVEL, which keeps this
// processor's interrupts (and the HAL code they may run) out of it; where the
// kernel offers KeIpiGenericCall (Windows Server 2003 on), the whole header
// write runs inside a broadcast to every processor, which keeps the other
// processors out too: a processor inside a HAL cycle holds the HAL's lock
// above IPI_LEVEL and enters the broadcast only after releasing it, so once
// every processor has entered, none is inside a cycle, and none leaves
// before the write is over. On Windows XP the routine does not exist and the
// write runs at HIGH_LEVEL alone.
#include <ntddk.h>

#include "config_access.h"
#include "hal_identity.h"

namespace {

const USHORT kConfigAddressPort = 0xCF8;
const USHORT kConfigDataPort = 0xCFC;

typedef ULONG_PTR(NTAPI* BroadcastRoutine)(ULONG_PTR argument);
typedef ULONG_PTR(NTAPI* BroadcastCaller)(BroadcastRoutine routine, ULONG_PTR argument);

// KeIpiGenericCall, or NULL where the kernel does not export it.
BroadcastCaller Broadcast = NULL;

ULONG PortIn32(USHORT port) { return __indword(port); }

VOID PortOut32(USHORT port, ULONG value) { __outdword(port, value); }

// The address/data/restore sequence runs at HIGH_LEVEL, so that nothing on
// this processor (an interrupt, a DPC, the HAL's own configuration code
// called from either) can move the address register between its port
// instructions. Nothing else is done while raised.
VOID PortWriteConfigDword(ULONG bus, ULONG device, ULONG function, ULONG offset, USHORT low, USHORT high) {
    ULONG address =
        0x80000000u | (bus & 0xFF) << 16 | (device & 0x1F) << 11 | (function & 7) << 8 | (offset & 0xFC);
    ULONG data = (ULONG)high << 16 | low;
    KIRQL previousIrql;
    KeRaiseIrql(HIGH_LEVEL, &previousIrql);
    ULONG previous = PortIn32(kConfigAddressPort);
    PortOut32(kConfigAddressPort, address);
    PortOut32(kConfigDataPort, data);
    PortOut32(kConfigAddressPort, previous);
    KeLowerIrql(previousIrql);
}

VOID WriteHeaderDwords(ULONG bus, ULONG device, ULONG function, const UCHAR* data) {
    for (ULONG offset = 0; offset < kConfigHeaderBytes; offset += 4) {
        PortWriteConfigDword(bus, device, function, offset, LoadLe16(data + offset),
                             LoadLe16(data + offset + 2));
    }
}

// One header write shared by every processor of a broadcast: the first to
// claim it writes, the others wait in the broadcast until it is done.
struct BroadcastHeaderWrite {
    ULONG Bus;
    ULONG Device;
    ULONG Function;
    const UCHAR* Data;
    volatile LONG Claimed;
    volatile LONG Done;
};

ULONG_PTR NTAPI WriteHeaderOnOneProcessor(ULONG_PTR argument) {
    BroadcastHeaderWrite* write = (BroadcastHeaderWrite*)argument;
    if (InterlockedCompareExchange(&write->Claimed, 1, 0) == 0) {
        WriteHeaderDwords(write->Bus, write->Device, write->Function, write->Data);
        InterlockedExchange(&write->Done, 1);
        return 0;
    }
    while (write->Done == 0) {
        YieldProcessor();
    }
    return 0;
}

VOID WriteConfigHeader(ULONG bus, ULONG device, ULONG function, const UCHAR* data) {
    if (Broadcast == NULL) {
        WriteHeaderDwords(bus, device, function, data);
        return;
    }
    BroadcastHeaderWrite write;
    write.Bus = bus;
    write.Device = device;
    write.Function = function;
    write.Data = data;
    write.Claimed = 0;
    write.Done = 0;
    Broadcast(WriteHeaderOnOneProcessor, (ULONG_PTR)&write);
}

// The port pair writes the whole header (offset 0, kConfigHeaderBytes), 64
// doublewords, whatever the function; the request's Result says so.
ULONG PortWrite(ULONG bus, ULONG device, ULONG function, ULONG offset, ULONG length, const UCHAR* data) {
    (void)offset;
    (void)length;
    WriteConfigHeader(bus, device, function, data);
    return kResultHeaderWritten;
}

}  // namespace

const ConfigMethod kPortPair = {NULL, PortWrite};

VOID HeaderWriteInitialize(VOID) {
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, L"KeIpiGenericCall");
    Broadcast = (BroadcastCaller)MmGetSystemRoutineAddress(&name);
}
