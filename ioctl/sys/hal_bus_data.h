// HalGetBusData on 64-bit Windows. The x64 hal.dll exports it (obsolete, but
// still there), while mingw-w64's DDK headers leave it out of 64-bit builds:
// wdm.h defines NO_LEGACY_DRIVERS for _WIN64. Include after <ntddk.h>.
#ifndef QUORVENAL_HAL_BUS_DATA_H
#define QUORVENAL_HAL_BUS_DATA_H

#if defined(_WIN64) && defined(NO_LEGACY_DRIVERS)
extern "C" NTHALAPI ULONG NTAPI HalGetBusData(BUS_DATA_TYPE BusDataType, ULONG BusNumber, ULONG SlotNumber,
                                              PVOID Buffer, ULONG Length);
#endif

#endif
