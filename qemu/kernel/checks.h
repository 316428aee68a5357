// The checks the test kernel runs through the driver, in the order KernelMain
// calls them.
#ifndef QVBARE_CHECKS_H
#define QVBARE_CHECKS_H

#include <ntddk.h>

// DriverEntry: device, link, dispatch table, EcamBase not yet known; open
// and close; requests refused for their lengths or codes; extended requests
// before any base is known.
void CheckDriverEntry();
void CheckRefusedRequests();
void CheckExtendedBeforeBase();

// Plants the vendor identifier of 00:00.0 in RAM at the trap candidate (when
// the machine has one), then scans buses 0..255 as the program does and
// checks where the driver's base search looked and what it found: never in
// RAM, so never at the trap.
void PlantTrap();
// On a machine without a window: moves a display controller's framebuffer
// BAR on bus 0 to the candidate 0xC0000000 and writes 00:00.0's identifiers
// at its start, as any user may draw them there. The search must pass over
// it (CheckScanAndBase).
void PlantFramebuffer();
void CheckScanAndBase();

// Byte-range reads in both layouts; a standard read in a 3856-byte record.
void CheckRangeReads();

// Extended space through the driver against the kernel's own view.
void CheckExtendedReads();
void CheckAddressMasking();

// Header writes through the port pair; 0xCF8 kept across them.
void CheckHeaderWrites();

// A header write while the machine's other processor makes a HAL read in the
// middle of it: held out by the broadcast, the read comes after the write.
void CheckOtherProcessor();

// Extended writes: a writable AER register changes, a read-only one does not.
void CheckExtendedWrites();

// A handle opened for reading only: reads served, the write codes refused.
void CheckReadOnlyHandle();
// A handle opened with MAXIMUM_ALLOWED: the check grants writing, and it writes.
void CheckMaximumAllowedHandle();

// A second scan, in the program's order of requests, timed against a bare
// loop of the same configuration reads (processor time stamps, and the host
// from the lines around each).
void TimeFullScan();

// UnloadDriver, then a fresh DriverEntry: a header write carrying the
// identifiers that RAM holds at a lower candidate for an empty address takes
// no base and lets no extended write into RAM; the first request that finds
// the base addresses a function behind a bridge.
void CheckUnloadAndReload();

// UnloadDriver, then DriverEntry on a kernel that answers as Windows XP's
// (no KeIpiGenericCall): the driver loads, writes each doubleword at
// HIGH_LEVEL, and the other processor's HAL read splits a header write.
void CheckWithoutBroadcast();

// On q35 with two e1000e: the chipset's window shrunk to 128 MiB at
// 0xE0000000 and one e1000e's root port moved to bus 0x81, past its end: a
// fresh driver takes no base from 81:00.0, finds it from 00:00.0, serves bus
// 1 and refuses 81:00.0's extended write.
void CheckWindowEndingBelowBus255();

// Runs a fresh DriverEntry and checks the device, link, table and security
// as after the first load (the program's handle opened again).
NTSTATUS ReloadDriver(const char* when);

#endif
