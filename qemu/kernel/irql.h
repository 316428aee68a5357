// The test kernel's interrupt request level: KfRaiseIrql, KfLowerIrql and
// KeGetCurrentIrql over one processor that runs with interrupts off, and the
// counts that show how the driver uses them. Port accesses are counted only
// while the driver's dispatch routine runs and outside the HAL's own reads:
// those are the driver's port sequences.
#ifndef QVBARE_IRQL_H
#define QVBARE_IRQL_H

#include <ntddk.h>

struct IrqlCounts {
    ULONG raises;          // KfRaiseIrql calls
    ULONG badRaises;       // to a level below the current one
    ULONG badLowers;       // to a level above the current one
    ULONG portsRaised;     // the driver's port accesses at HIGH_LEVEL
    ULONG portsNotRaised;  // the driver's port accesses below HIGH_LEVEL
    ULONG sequencesNotFour;  // raises that held other than four port accesses
    ULONG callsRaised;     // HAL, mapping, pool, wait or completion calls above their level
    ULONG returnedRaised;  // dispatch routines that returned above PASSIVE_LEVEL
};

IrqlCounts IrqlCountsNow();
void IrqlResetCounts();

// Counts a call made above `highest` (the routine then goes on as usual).
void IrqlRequireAtMost(KIRQL highest);
// Around the driver's dispatch routine, and around the HAL's own reads.
void IrqlEnterDriver();
void IrqlLeaveDriver();
void IrqlEnterHal();
void IrqlLeaveHal();

#endif
