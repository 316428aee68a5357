// What the test kernel itself sees of the machine's memory ranges and
// buses, read with its own configuration mechanism #1 accesses, so that the
// checks know where the driver's base search must not look and which
// function it must confirm a window with.
#ifndef QVBARE_DEVICE_MEMORY_H
#define QVBARE_DEVICE_MEMORY_H

#include <ntddk.h>

// Of the fifteen candidate bases 0x10000000 .. 0xF0000000, those (bit i for
// candidate i + 1) whose span from the base to the end of the page at
// base | place meets memory decoded by a function or bridge on bus 0: a
// memory BAR (taken as its least 16 bytes), an enabled expansion ROM (2 KiB),
// a bridge's memory or prefetchable window, a CardBus bridge's registers and
// memory windows.
ULONG CandidatesMeetingDeviceMemory(ULONG place);

// The place of the first function (function 0) on the lowest bus up to
// `bus` where one answers; false when none does.
bool LowestFunctionPlace(ULONG bus, ULONG* place);

#endif
