// The driver's three ways of reaching configuration space, each behind one
// table of the same shape, as the dispatch sees them:
//
//  - kHalBusData: the platform's bus-data reads, for the standard header
//    0x00..0xFF (the whole header, or a range of it);
//  - kPortPair: the 0xCF8/0xCFC port pair, for writes of the whole header;
//  - kMappedWindow: memory-mapped configuration, for the extended space
//    0x100..0xFFF, once the window's base is known. The base is the one piece
//    of the driver's state that outlives a request; the window's file alone
//    holds it (EcamBase), finds it (DiscoverEcamBase) and forgets it at unload.
//
// A method answers every operation with what the request's Result then says
// (quorvenal_ioctl.h): the count of bytes the platform read, the header
// written, the extended space moved or not. A method without an operation
// has NULL there. Every operation runs at PASSIVE_LEVEL with the
// configuration lock held.
//
// Windows kernel code: include <ntddk.h> before this header.
#ifndef QUORVENAL_CONFIG_ACCESS_H
#define QUORVENAL_CONFIG_ACCESS_H

#include "quorvenal_ioctl.h"

// Reads or writes `length` bytes at `offset` of the function at bus, device,
// function; returns the request's Result.
typedef ULONG (*ConfigRead)(ULONG bus, ULONG device, ULONG function, ULONG offset, ULONG length,
                            UCHAR* buffer);
typedef ULONG (*ConfigWrite)(ULONG bus, ULONG device, ULONG function, ULONG offset, ULONG length,
                             const UCHAR* buffer);

typedef struct ConfigMethod {
    ConfigRead Read;
    ConfigWrite Write;
} ConfigMethod;

extern const ConfigMethod kHalBusData;
extern const ConfigMethod kPortPair;
extern const ConfigMethod kMappedWindow;

// Looks up KeIpiGenericCall, through which the port pair's header writes hold
// the other processors out (DriverEntry, PASSIVE_LEVEL).
VOID HeaderWriteInitialize(VOID);

// Looks for the window's base with the identifiers the hardware holds for
// the request's function (never those the record carries), while none is
// known; after a header read that found a function and after every header
// write.
VOID DiscoverEcamBase(const ConfigRequest* request);
// Forgets the base (unload): the next load searches afresh.
VOID ForgetEcamBase(VOID);

// Serialises every configuration access of the driver: the port pair, the
// base search and the extended space, so that requests from two clients never
// interleave (an address write of one with the data write of the other, or
// the doublewords of two header writes).
VOID ConfigLockInitialize(VOID);
VOID ConfigLockAcquire(VOID);
VOID ConfigLockRelease(VOID);

#endif
