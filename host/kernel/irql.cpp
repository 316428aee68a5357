// The processor's interrupt request level on the stand-in, and the
// stand-in's verdict on a broken kernel rule. Each host thread stands for a
// processor of its own and starts at PASSIVE_LEVEL. The rules themselves
// (kernel_rules/) are the same in every bed; here a fault they record is a
// driver fault, printed and counted (KernelCounters: driverFaults and the
// rule's own counter), which the test that caused it fails on: the driver
// tests assert that no fault was counted, and the program-level tests run
// the driver in a process whose faults they read.
#include <ntddk.h>

#include "kernel/kernel_trace.h"
#include "kernel_rules/irql_rules.h"

namespace {

thread_local KIRQL gIrql = PASSIVE_LEVEL;

}  // namespace

namespace kernel_rules {

Level ProcessorLevel() { return gIrql; }

void SetProcessorLevel(Level level) { gIrql = level; }

void RecordFault(const Fault& fault) {
    char text[160];
    DescribeFault(fault, text, sizeof text);
    switch (fault.kind) {
        case FaultKind::MappedRam: standin::TraceRuleFault(standin::RuleCounter::RamMapping, text); break;
        case FaultKind::FreedUnknownBlock:
            standin::TraceRuleFault(standin::RuleCounter::PoolFree, text);
            break;
        case FaultKind::CalledAboveItsLevel:
        case FaultKind::RaisedBelow:
        case FaultKind::LoweredAbove:
        case FaultKind::ReturnedRaised: standin::TraceRuleFault(standin::RuleCounter::Irql, text); break;
    }
}

}  // namespace kernel_rules

extern "C" KIRQL NTAPI KeGetCurrentIrql(VOID) { return gIrql; }

extern "C" KIRQL FASTCALL KfRaiseIrql(KIRQL NewIrql) {
    kernel_rules::Level before = PASSIVE_LEVEL;
    if (kernel_rules::RaiseLevel(NewIrql, &before)) standin::TraceRaise();
    return before;
}

extern "C" VOID FASTCALL KfLowerIrql(KIRQL NewIrql) {
    kernel_rules::Level before = PASSIVE_LEVEL;
    kernel_rules::LowerLevel(NewIrql, &before);
}
