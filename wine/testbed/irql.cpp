// The level of each driver-host thread, in a thread-local slot, and the
// bed's verdict on a broken kernel rule: written to the log as a STOP and
// the driver host ended at once (bed_log.h), so that the clients see the
// driver fail and the test that caused it fails.
#include "irql.h"

#include <windows.h>

#include "bed_log.h"

namespace {

DWORD irqlSlot = TLS_OUT_OF_INDEXES;

}  // namespace

bool StartIrqlTracking() {
    irqlSlot = TlsAlloc();
    return irqlSlot != TLS_OUT_OF_INDEXES;
}

BedIrql CurrentIrql() { return static_cast<BedIrql>(reinterpret_cast<ULONG_PTR>(TlsGetValue(irqlSlot))); }

void SetIrql(BedIrql level) {
    TlsSetValue(irqlSlot, reinterpret_cast<LPVOID>(static_cast<ULONG_PTR>(level)));
}

namespace kernel_rules {

Level ProcessorLevel() { return CurrentIrql(); }

void SetProcessorLevel(Level level) { SetIrql(level); }

void RecordFault(const Fault& fault) {
    char text[160];
    BedStop("%s", DescribeFault(fault, text, sizeof text));
}

}  // namespace kernel_rules
