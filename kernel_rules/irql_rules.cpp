#include "irql_rules.h"

namespace kernel_rules {

namespace {

struct RoutineRule {
    const char* name;
    Level limit;
    bool handsOut;  // fails when called above its limit; otherwise still carried out
};

// In the order of Routine. The limits are those of Microsoft's kernel
// documentation; an untimed wait must be able to block, so it needs a level
// below DISPATCH_LEVEL.
const RoutineRule kRules[] = {
    {"HalGetBusData", kDispatchLevel, true},
    {"HalGetBusDataByOffset", kDispatchLevel, true},
    {"MmMapIoSpace", kDispatchLevel, true},
    {"MmUnmapIoSpace", kDispatchLevel, false},
    {"MmGetPhysicalMemoryRanges", kPassiveLevel, true},
    {"MmGetSystemRoutineAddress", kPassiveLevel, true},
    {"ExAllocatePoolWithTag", kDispatchLevel, true},
    {"ExFreePool", kDispatchLevel, false},
    {"KeWaitForSingleObject", kApcLevel, false},
    {"KeReleaseMutex", kDispatchLevel, false},
    {"IofCompleteRequest", kDispatchLevel, false},
    {"KeIpiGenericCall", kDispatchLevel, false},
    {"ObOpenObjectByPointer", kPassiveLevel, true},
    {"ZwSetSecurityObject", kPassiveLevel, false},
    {"IoCreateDevice", kPassiveLevel, true},
};

const RoutineRule& RuleOf(Routine routine) { return kRules[static_cast<int>(routine)]; }

}  // namespace

const char* RoutineName(Routine routine) { return RuleOf(routine).name; }

Level RoutineLimit(Routine routine) { return RuleOf(routine).limit; }

bool EnterRoutine(Routine routine) {
    const RoutineRule& rule = RuleOf(routine);
    Level level = ProcessorLevel();
    if (level <= rule.limit) return true;
    RecordFault(Fault{FaultKind::CalledAboveItsLevel, rule.name, level, rule.limit});
    return !rule.handsOut;
}

bool RaiseLevel(Level to, Level* before) {
    *before = ProcessorLevel();
    if (to < *before || to > kHighLevel) {
        RecordFault(Fault{FaultKind::RaisedBelow, "KfRaiseIrql", to, *before});
        return false;
    }
    SetProcessorLevel(to);
    return true;
}

bool LowerLevel(Level to, Level* before) {
    *before = ProcessorLevel();
    if (to > *before) {
        RecordFault(Fault{FaultKind::LoweredAbove, "KfLowerIrql", to, *before});
        return false;
    }
    SetProcessorLevel(to);
    return true;
}

Level ExchangeLevel(Level to) {
    Level before = ProcessorLevel();
    SetProcessorLevel(to);
    return before;
}

void LeaveDriverRoutine(const char* routine) {
    Level level = ProcessorLevel();
    if (level == kPassiveLevel) return;
    RecordFault(Fault{FaultKind::ReturnedRaised, routine, level, kPassiveLevel});
    SetProcessorLevel(kPassiveLevel);
}

}  // namespace kernel_rules
