#include "irql.h"

#include <windows.h>

#include "bed_log.h"

namespace {

DWORD irqlSlot = TLS_OUT_OF_INDEXES;

void Store(BedIrql level) { TlsSetValue(irqlSlot, reinterpret_cast<LPVOID>(level)); }

}  // namespace

bool StartIrqlTracking() {
    irqlSlot = TlsAlloc();
    return irqlSlot != TLS_OUT_OF_INDEXES;
}

BedIrql CurrentIrql() { return static_cast<BedIrql>(reinterpret_cast<ULONG_PTR>(TlsGetValue(irqlSlot))); }

BedIrql RaiseIrql(BedIrql level) {
    BedIrql before = CurrentIrql();
    if (level < before) BedStop("IRQL_NOT_GREATER_OR_EQUAL: KfRaiseIrql(%u) at level %u", level, before);
    Store(level);
    return before;
}

void LowerIrql(BedIrql level) {
    BedIrql before = CurrentIrql();
    if (level > before) BedStop("IRQL_NOT_LESS_OR_EQUAL: KfLowerIrql(%u) at level %u", level, before);
    Store(level);
}

void SetIrql(BedIrql level) { Store(level); }

void RequireIrqlAtMost(BedIrql highest, const char* routine) {
    BedIrql level = CurrentIrql();
    if (level > highest) BedStop("%s called at IRQL %u (allowed up to %u)", routine, level, highest);
}
