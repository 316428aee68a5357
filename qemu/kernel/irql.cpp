// KfRaiseIrql / KfLowerIrql / KeGetCurrentIrql. Interrupts stay off in the
// test kernel whatever the level; the level is bookkeeping that the checks
// read, and a raise or lower in the wrong direction is counted (Windows
// stops with IRQL_NOT_GREATER_OR_EQUAL or IRQL_NOT_LESS_OR_EQUAL).
#include "irql.h"

namespace {
IrqlRecord gIrql;
}  // namespace

const IrqlRecord& IrqlState() { return gIrql; }

void IrqlResetCounts() {
    KIRQL current = gIrql.current;
    memset(&gIrql, 0, sizeof gIrql);
    gIrql.current = current;
}

bool IrqlAtMost(KIRQL allowed) {
    if (gIrql.current <= allowed) return true;
    ++gIrql.callsTooHigh;
    return false;
}

extern "C" {

KIRQL FASTCALL KfRaiseIrql(KIRQL NewIrql) {
    KIRQL old = gIrql.current;
    if (NewIrql < old) ++gIrql.badRaises;
    if (NewIrql == HIGH_LEVEL) ++gIrql.raisesToHigh;
    gIrql.current = NewIrql;
    return old;
}

VOID FASTCALL KfLowerIrql(KIRQL NewIrql) {
    if (NewIrql > gIrql.current) ++gIrql.badLowers;
    gIrql.current = NewIrql;
}

KIRQL NTAPI KeGetCurrentIrql(VOID) { return gIrql.current; }

}  // extern "C"
