// The driver's three ways of reaching configuration space: the platform's
// bus-data reads for the standard header, the 0xCF8/0xCFC port pair for header
// writes, and memory-mapped configuration (whose base the driver finds itself)
// for the extended space 0x100..0xFFF.
//
// Windows kernel code: include <ntddk.h> before this header.
#ifndef QUORVENAL_CONFIG_ACCESS_H
#define QUORVENAL_CONFIG_ACCESS_H

#include "quorvenal_ioctl.h"

#define ECAM_BASE_UNKNOWN 0xFFFFFFFFu

// Physical base of memory-mapped configuration, or ECAM_BASE_UNKNOWN.
extern volatile ULONG EcamBase;

ULONG ReadConfigHeader(ULONG bus, ULONG device, ULONG function, PVOID buffer);
ULONG ReadConfigRange(ULONG bus, ULONG device, ULONG function, ULONG offset, ULONG length, PVOID buffer);

// Looks up KeIpiGenericCall, through which header writes hold the other
// processors out (DriverEntry, PASSIVE_LEVEL).
VOID HeaderWriteInitialize(VOID);

ULONG PortIn32(USHORT port);
VOID PortOut32(USHORT port, ULONG value);
VOID PortWriteConfigDword(ULONG bus, ULONG device, ULONG function, ULONG offset, USHORT low, USHORT high);
VOID WriteConfigHeader(ULONG bus, ULONG device, ULONG function, const UCHAR* data);

// Outcomes of the one-doubleword operations (EcamReadDword, EcamWriteDword)
// and of the whole-space operations (ReadExtConfig, WriteExtConfig).
enum { kDwordNotDone = 0, kDwordDone = 1 };
enum { kSpaceDone = 0, kSpaceNotDone = -1 };

USHORT EcamRead16(ULONG physicalAddress);
VOID EcamWrite16(ULONG physicalAddress, USHORT value);
int EcamReadDword(ULONG bus, ULONG device, ULONG function, ULONG offset, USHORT* low, USHORT* high);
int EcamWriteDword(ULONG bus, ULONG device, ULONG function, ULONG offset, USHORT low, USHORT high);
int ReadExtConfig(ULONG bus, ULONG device, ULONG function, UCHAR* buffer, ULONG count);
int WriteExtConfig(ULONG bus, ULONG device, ULONG function, const UCHAR* buffer, ULONG count);

// The function's vendor and device identifiers as the HAL reads them; FALSE
// when no function answers at the address.
BOOLEAN ReadFunctionIdentity(ULONG bus, ULONG device, ULONG function, USHORT* vendor, USHORT* deviceId);
// Looks for the window with the identifiers the hardware holds for the
// request's function (never those the record carries).
VOID DiscoverEcamBase(const ConfigRequest* request);
// Whether the known window serves the function: its page there may be
// mapped (WindowPlaceIsClear) and holds the function's identifiers.
BOOLEAN EcamWindowServes(ULONG bus, ULONG device, ULONG function);

// Of the windows that would begin at bases[0..count) (at most 32), those
// (bit i) whose span from the base to the end of the page at base | place
// meets memory that a function or bridge on bus 0 decodes. One pass over
// bus 0 through the HAL, reads only.
ULONG WindowsMeetingDeviceMemory(const ULONG* bases, ULONG count, ULONG place);
// Whether the page holding the address is (even in part) RAM in the list.
BOOLEAN PageIsRam(const PHYSICAL_MEMORY_RANGE* ram, ULONG physicalAddress);
// Whether the page at base | place may be mapped as the window: it is not
// RAM (FALSE too when the RAM list cannot be had) and no device memory meets
// the span from base to it. PASSIVE_LEVEL.
BOOLEAN WindowPlaceIsClear(ULONG base, ULONG place);

// Serialises every configuration access of the driver: the port pair, the
// base search and the extended space, so that requests from two clients never
// interleave (an address write of one with the data write of the other, or
// the doublewords of two header writes).
VOID ConfigLockInitialize(VOID);
VOID ConfigLockAcquire(VOID);
VOID ConfigLockRelease(VOID);

#endif
