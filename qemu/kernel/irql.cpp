// KfRaiseIrql / KfLowerIrql / KeGetCurrentIrql. A raise or lower in the
// wrong direction is counted and not made (Windows stops with
// IRQL_NOT_GREATER_OR_EQUAL or IRQL_NOT_LESS_OR_EQUAL).
#include "irql.h"

namespace {

KIRQL gIrql = PASSIVE_LEVEL;
IrqlCounts gCounts;
ULONG gPortsThisRaise;

}  // namespace

IrqlCounts IrqlCountsNow() { return gCounts; }

void IrqlResetCounts() { memset(&gCounts, 0, sizeof gCounts); }

KIRQL IrqlCurrent() { return gIrql; }

KIRQL IrqlExchange(KIRQL level) {
    KIRQL previous = gIrql;
    gIrql = level;
    return previous;
}

void IrqlRequireAtMost(KIRQL highest) {
    if (gIrql > highest) ++gCounts.callsRaised;
}

void IrqlLeaveDriver() {
    if (gIrql != PASSIVE_LEVEL) {
        ++gCounts.returnedRaised;
        gIrql = PASSIVE_LEVEL;
    }
}

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
    KIRQL previous = gIrql;
    if (NewIrql < previous) {
        ++gCounts.badRaises;
        return previous;
    }
    ++gCounts.raises;
    gPortsThisRaise = 0;
    gIrql = NewIrql;
    return previous;
}

VOID FASTCALL KfLowerIrql(KIRQL NewIrql) {
    if (NewIrql > gIrql) {
        ++gCounts.badLowers;
        return;
    }
    if (gIrql == HIGH_LEVEL && NewIrql < HIGH_LEVEL && gPortsThisRaise != 4) {
        ++gCounts.sequencesNotFour;
    }
    gIrql = NewIrql;
}

}  // extern "C"
