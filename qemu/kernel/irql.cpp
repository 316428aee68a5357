#include "irql.h"

namespace {

KIRQL gIrql = PASSIVE_LEVEL;
IrqlCounts gCounts;
bool gInDriver;
ULONG gHalDepth;
ULONG gPortsThisRaise;

}  // namespace

IrqlCounts IrqlCountsNow() { return gCounts; }

void IrqlResetCounts() { memset(&gCounts, 0, sizeof gCounts); }

void IrqlRequireAtMost(KIRQL highest) {
    if (gIrql > highest) ++gCounts.callsRaised;
}

void IrqlEnterDriver() { gInDriver = true; }

void IrqlLeaveDriver() {
    gInDriver = false;
    if (gIrql != PASSIVE_LEVEL) {
        ++gCounts.returnedRaised;
        gIrql = PASSIVE_LEVEL;
    }
}

void IrqlEnterHal() { ++gHalDepth; }
void IrqlLeaveHal() { --gHalDepth; }

extern "C" {

void QvBedNotePortAccess(void) {
    if (!gInDriver || gHalDepth != 0) return;
    if (gIrql == HIGH_LEVEL) {
        ++gCounts.portsRaised;
        ++gPortsThisRaise;
    } else {
        ++gCounts.portsNotRaised;
    }
}

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
