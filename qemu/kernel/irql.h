// The processor's interrupt request level as the HAL keeps it, for the one
// processor the test kernel runs on: raised and lowered by the driver, and
// checked where routines may only be called at or below a level.
#ifndef QVBARE_IRQL_H
#define QVBARE_IRQL_H

#include <ntddk.h>

struct IrqlRecord {
    KIRQL current;
    ULONG raisesToHigh;   // KfRaiseIrql calls that went to HIGH_LEVEL
    ULONG badRaises;      // a raise to a level below the current one
    ULONG badLowers;      // a lower to a level above the current one
    ULONG callsTooHigh;   // calls of a routine above the level it allows
};

const IrqlRecord& IrqlState();
void IrqlResetCounts();

// Counts a call of `routine` when the level is above `allowed`; returns
// whether the call is allowed.
bool IrqlAtMost(KIRQL allowed);

extern "C" {
KIRQL FASTCALL KfRaiseIrql(KIRQL NewIrql);
VOID FASTCALL KfLowerIrql(KIRQL NewIrql);
KIRQL NTAPI KeGetCurrentIrql(VOID);
}

#endif
