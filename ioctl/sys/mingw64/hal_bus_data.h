// The x86-64 DDK headers of mingw-w64 leave out the HAL's bus-data reads,
// which hal.dll still exports on x64 (and libhal.a still imports). The
// 64-bit Windows build includes this ahead of every driver source.
#pragma once

#include <ntddk.h>

extern "C" {
NTHALAPI ULONG NTAPI HalGetBusData(BUS_DATA_TYPE BusDataType, ULONG BusNumber, ULONG SlotNumber,
                                   PVOID Buffer, ULONG Length);
NTHALAPI ULONG NTAPI HalGetBusDataByOffset(BUS_DATA_TYPE BusDataType, ULONG BusNumber,
                                           ULONG SlotNumber, PVOID Buffer, ULONG Offset,
                                           ULONG Length);
}
