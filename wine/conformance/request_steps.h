// The driver's six control codes as any client sends them: valid requests,
// every length rule, unknown codes, range lengths, and the extended codes
// before and after the driver knows its memory-mapped base. Each request is
// one transcript line.
#ifndef QUORVENAL_CONFORMANCE_REQUEST_STEPS_H
#define QUORVENAL_CONFORMANCE_REQUEST_STEPS_H

#include <windows.h>

#include "transcript.h"

struct FunctionRef {
    DWORD bus;
    DWORD device;
    DWORD function;
};

// What a scan of every bus, device and function found.
struct ScanFindings {
    enum { kMaxFunctions = 512 };
    FunctionRef present[kMaxFunctions];
    int presentCount;
    FunctionRef absentFunction;  // on a bus that exists
    bool haveAbsentFunction;
    DWORD missingBus;  // a bus number that does not exist
    bool haveMissingBus;
};

// Opens "\\.\QuorVenal" as the program does; INVALID_HANDLE_VALUE on failure.
HANDLE StepOpenDevice(const char* step, DWORD disposition, const Expect& expect);
void StepCloseDevice(const char* step, HANDLE device);

// Extended read of bus 0, device 0, function 0, expecting the given Result.
void StepExtendedReadOnce(const char* step, HANDLE device, DWORD expectedResult);
void StepLengthRules(HANDLE device);
void StepScan(HANDLE device, ScanFindings* findings);
void StepAddressMasking(HANDLE device, const ScanFindings& findings);
void StepRanges(HANDLE device, const FunctionRef& target);
void StepHeaderWrites(HANDLE device, const ScanFindings& findings);
void StepExtended(HANDLE device, const ScanFindings& findings);
void StepManyHandles(int count);

#endif
