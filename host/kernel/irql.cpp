// The processor's interrupt request level. Each host thread stands for a
// processor of its own and starts at PASSIVE_LEVEL. A raise below the
// current level, or a lower above it, is what Windows stops the machine for
// (IRQL_NOT_GREATER_OR_EQUAL, IRQL_NOT_LESS_OR_EQUAL); here it is counted as a
// driver fault and the level is left as it was. Routines with an IRQL limit
// call RequireIrqlAtMost.
#include <ntddk.h>

#include <string>

#include "kernel/kernel_trace.h"

namespace {

thread_local KIRQL gIrql = PASSIVE_LEVEL;

}  // namespace

namespace standin {

uint8_t CurrentIrql() { return gIrql; }

uint8_t ExchangeIrql(uint8_t level) {
    uint8_t previous = gIrql;
    gIrql = level;
    return previous;
}

bool RequireIrqlAtMost(uint8_t highest, const char* routine) {
    if (gIrql <= highest) return true;
    TraceIrqlFault((std::string(routine) + " called at IRQL " + std::to_string(gIrql)).c_str());
    return false;
}

}  // namespace standin

extern "C" KIRQL NTAPI KeGetCurrentIrql(VOID) { return gIrql; }

extern "C" KIRQL FASTCALL KfRaiseIrql(KIRQL NewIrql) {
    KIRQL previous = gIrql;
    if (NewIrql < previous || NewIrql > HIGH_LEVEL) {
        standin::TraceIrqlFault("KfRaiseIrql to a level below the current one");
        return previous;
    }
    standin::TraceRaise();
    gIrql = NewIrql;
    return previous;
}

extern "C" VOID FASTCALL KfLowerIrql(KIRQL NewIrql) {
    if (NewIrql > gIrql) {
        standin::TraceIrqlFault("KfLowerIrql to a level above the current one");
        return;
    }
    gIrql = NewIrql;
}
