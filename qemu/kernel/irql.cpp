// KfRaiseIrql / KfLowerIrql / KeGetCurrentIrql on the kernel's rules, the
// one processor's level, and the bed's verdict on a broken rule: a count,
// which the checks after every group require to be 0.
#include "irql.h"

#include "mm.h"
#include "pool.h"

namespace {

KIRQL gIrql = PASSIVE_LEVEL;
IrqlCounts gCounts;
ULONG gPortsThisRaise;

}  // namespace

namespace kernel_rules {

Level ProcessorLevel() { return gIrql; }

void SetProcessorLevel(Level level) { gIrql = level; }

void RecordFault(const Fault& fault) {
    switch (fault.kind) {
        case FaultKind::CalledAboveItsLevel: ++gCounts.callsRaised; break;
        case FaultKind::RaisedBelow: ++gCounts.badRaises; break;
        case FaultKind::LoweredAbove: ++gCounts.badLowers; break;
        case FaultKind::ReturnedRaised: ++gCounts.returnedRaised; break;
        case FaultKind::MappedRam: MmCountRamMapping(); break;
        case FaultKind::FreedUnknownBlock: PoolCountBadFree(); break;
    }
}

}  // namespace kernel_rules

IrqlCounts IrqlCountsNow() { return gCounts; }

void IrqlResetCounts() { memset(&gCounts, 0, sizeof gCounts); }

KIRQL IrqlCurrent() { return gIrql; }

void IrqlDriverPortAccess() {
    if (gIrql == HIGH_LEVEL) {
        ++gCounts.portsRaised;
        ++gPortsThisRaise;
    } else {
        ++gCounts.portsNotRaised;
    }
}

extern "C" {

KIRQL NTAPI KeGetCurrentIrql(VOID) { return gIrql; }

KIRQL FASTCALL KfRaiseIrql(KIRQL NewIrql) {
    KIRQL previous = PASSIVE_LEVEL;
    if (kernel_rules::RaiseLevel(NewIrql, &previous)) {
        ++gCounts.raises;
        gPortsThisRaise = 0;
    }
    return previous;
}

VOID FASTCALL KfLowerIrql(KIRQL NewIrql) {
    KIRQL previous = PASSIVE_LEVEL;
    if (kernel_rules::LowerLevel(NewIrql, &previous) && previous == HIGH_LEVEL && NewIrql < HIGH_LEVEL &&
        gPortsThisRaise != 4) {
        ++gCounts.sequencesNotFour;
    }
}

}  // extern "C"
