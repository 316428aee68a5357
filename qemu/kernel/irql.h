// The processor's interrupt request level as the HAL keeps it, for the one
// processor the test kernel runs on (interrupts stay off whatever the level),
// and the counts that show how the driver uses it: its raises and lowers,
// the routines it calls above the level they allow, and its own port
// accesses (seen through the fault handler, cpu.h) at or below HIGH_LEVEL.
// The rules are the kernel's (kernel_rules/irql_rules.h), the same as on the
// stand-in and under Wine; a fault they record is counted here, by kind
// (memory and pool faults in mm.h and pool.h), and the checks after every
// group require every count to be 0.
#ifndef QVBARE_IRQL_H
#define QVBARE_IRQL_H

#include <ntddk.h>

#include "kernel_rules/irql_rules.h"

struct IrqlCounts {
    ULONG raises;            // KfRaiseIrql calls
    ULONG badRaises;         // to a level below the current one
    ULONG badLowers;         // to a level above the current one
    ULONG portsRaised;       // the driver's port accesses at HIGH_LEVEL
    ULONG portsNotRaised;    // the driver's port accesses below HIGH_LEVEL
    ULONG sequencesNotFour;  // raises to HIGH_LEVEL that held other than four port accesses
    ULONG callsRaised;       // HAL, mapping, pool, wait or completion calls above their level
    ULONG returnedRaised;    // driver routines that returned above PASSIVE_LEVEL
};

IrqlCounts IrqlCountsNow();
void IrqlResetCounts();
KIRQL IrqlCurrent();

// One port access made by an instruction in the driver's image.
void IrqlDriverPortAccess();

extern "C" {
KIRQL FASTCALL KfRaiseIrql(KIRQL NewIrql);
VOID FASTCALL KfLowerIrql(KIRQL NewIrql);
KIRQL NTAPI KeGetCurrentIrql(VOID);
}

#endif
