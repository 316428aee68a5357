// What the checks share: the machine's expectations (from the kernel command
// line), the functions the scan found, the driver's requests built as the
// program builds them, and the test kernel's own direct views of
// configuration space (mechanism #1 and memory-mapped), which do not go
// through the driver.
#ifndef QVBARE_BED_H
#define QVBARE_BED_H

#include <ntddk.h>

#include "quorvenal_ioctl.h"
#include "io.h"

extern "C" int memcmp(const void* left, const void* right, size_t count);

const ULONG kNoEcam = 0xFFFFFFFFu;

struct Expectations {
    char machine[16];  // "q35" or "pc"
    ULONG ecamBase;    // where memory-mapped configuration lies, or kNoEcam
    ULONG trapBase;    // a lower candidate base that is plain RAM, or 0
};

struct FoundFunction {
    ULONG bus;
    ULONG device;
    ULONG function;
    UCHAR header[256];
};

const ULONG kMaxFound = 64;

struct Bed {
    Expectations expect;
    FoundFunction found[kMaxFound];
    ULONG foundCount;
};

Bed& TheBed();

// Requests as the program sends them: the record zero-filled, the address
// (and for a write the data) set, the same record as input and output.
ControlOutcome ProgramReadConfig(ULONG bus, ULONG device, ULONG function, ConfigRequest* request);
ControlOutcome ProgramWriteConfig(ULONG bus, ULONG device, ULONG function, const UCHAR* data,
                                  ConfigRequest* request);
ControlOutcome ProgramReadExt(ULONG bus, ULONG device, ULONG function, ExtConfigRequest* request);
ControlOutcome ProgramWriteExt(ULONG bus, ULONG device, ULONG function, const UCHAR* extData,
                               ExtConfigRequest* request);

// True when the request succeeded, was completed once with its status and
// returned the whole record.
bool Answered(const ControlOutcome& outcome, ULONG recordBytes);

// Offset of a capability in a 256-byte header, or 0.
ULONG FindCapability(const UCHAR* header, UCHAR id);
ULONG HeaderType(const UCHAR* header);
USHORT VendorOf(const UCHAR* header);
USHORT DeviceIdOf(const UCHAR* header);

// The test kernel's own memory-mapped view at a known base: 32-bit reads.
ULONG EcamPlace(ULONG bus, ULONG device, ULONG function);
ULONG DirectEcamDword(ULONG base, ULONG bus, ULONG device, ULONG function, ULONG offset);

// Whether the start of a trace of mapped addresses is one base search for a
// function at `place`: the candidates 0x10000000, 0x20000000, ... | place in
// ascending order, except those whose page holds RAM (the Multiboot map) and
// those between which and the probed page memory of a function or bridge on
// bus 0 lies, which must never be mapped; each possibly followed by a read of
// its device identifier 2 bytes on, up to and including `base` (whose device
// identifier must have been read, and, for a function above the lowest bus,
// then the identifiers of that bus's first function at its place), or all
// fifteen when `base` is kNoEcam. `used` gets the number of trace entries the
// search took.
bool SearchProbesFit(const ULONG* trace, ULONG count, ULONG place, ULONG base, ULONG* used);

// Invariants that hold after every request the driver served: every mapping
// released and 2 bytes, no HAL call malformed, every mutex released, every
// completion without priority boost, every call into the driver returned as
// a stdcall routine returns.
void CheckInvariants(const char* when);

#endif
