// The interrupt request level rules of the Windows kernel and HAL, as every
// bed enforces them on the driver:
//  - KfRaiseIrql may not go below the current level (nor above HIGH_LEVEL),
//    KfLowerIrql not above it; a wrong one is a fault and the level stays;
//  - each routine with a limit (RoutineLimit) is a fault when called above
//    it: a routine that hands something out (a read, a mapping, a list, a
//    handle, a routine's address, pool) then fails as it fails for want of
//    resources; one that takes something back, waits or completes is still
//    carried out, so that the driver's pairs stay matched and a faulty
//    driver cannot hang the bed;
//  - a driver's routine returns at PASSIVE_LEVEL; one that returns raised is
//    a fault and the level is lowered again, as the I/O manager does.
// The level itself is the bed's to keep (a thread's own on the stand-in and
// under Wine, the one processor's in the QEMU kernel): ProcessorLevel and
// SetProcessorLevel are defined by each bed.
#ifndef KERNEL_RULES_IRQL_RULES_H
#define KERNEL_RULES_IRQL_RULES_H

#include "fault.h"

namespace kernel_rules {

typedef unsigned char Level;
const Level kPassiveLevel = 0;
const Level kApcLevel = 1;
const Level kDispatchLevel = 2;
const Level kHighLevel = 31;  // x86, where the HAL's KfRaiseIrql is called

// Defined by each bed: the calling processor's level, and setting it.
Level ProcessorLevel();
void SetProcessorLevel(Level level);

enum class Routine {
    HalGetBusData,
    HalGetBusDataByOffset,
    MmMapIoSpace,
    MmUnmapIoSpace,
    MmGetPhysicalMemoryRanges,
    MmGetSystemRoutineAddress,
    ExAllocatePoolWithTag,
    ExFreePool,
    KeWaitForSingleObject,
    KeReleaseMutex,
    IofCompleteRequest,
    KeIpiGenericCall,
    ObOpenObjectByPointer,
    ZwSetSecurityObject,
    IoCreateDevice,
};

const char* RoutineName(Routine routine);
// The highest level the routine may be called at.
Level RoutineLimit(Routine routine);

// On entry to a routine with a limit: records a fault when the processor is
// above it, and returns whether the routine goes on (see above).
bool EnterRoutine(Routine routine);

// KfRaiseIrql and KfLowerIrql: the rules above. Each returns whether the
// level changed to `to`; *before gets the level before.
bool RaiseLevel(Level to, Level* before);
bool LowerLevel(Level to, Level* before);

// Sets the level as the kernel and the HAL do for themselves (a broadcast's
// IPI_LEVEL, the HAL's lock at HIGH_LEVEL): no rule applies.
Level ExchangeLevel(Level to);

// After a driver's routine (`routine`, for the record) has returned: it must
// have left the processor at PASSIVE_LEVEL, which it is at again afterwards.
void LeaveDriverRoutine(const char* routine);

}  // namespace kernel_rules

#endif
