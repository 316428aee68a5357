// What a broken kernel rule leaves behind, the same in every bed that runs
// the driver: the stand-in (host/kernel), the Wine bed's HAL (wine/testbed)
// and the QEMU bed's kernel (qemu/kernel).
//
// Windows stops the machine for each of these faults (a bug check). A bed
// cannot stop in the middle of a routine the way Windows does and still say
// which test broke the rule, so the rules do two things the same way
// everywhere: they record the fault (the rule, the routine, the level it ran
// at and the level it allows) through RecordFault, and they decide what the
// routine then does (see irql_rules.h, memory_rules.h). RecordFault is the
// bed's: it turns the record into the bed's verdict, and in every bed that
// verdict fails the test that caused it.
#ifndef KERNEL_RULES_FAULT_H
#define KERNEL_RULES_FAULT_H

namespace kernel_rules {

enum class FaultKind {
    CalledAboveItsLevel,  // a routine called above the highest level it allows
    RaisedBelow,          // KfRaiseIrql to a level below the current one (or above HIGH_LEVEL)
    LoweredAbove,         // KfLowerIrql to a level above the current one
    ReturnedRaised,       // a driver's routine returned above PASSIVE_LEVEL
    MappedRam,            // MmMapIoSpace over a page that holds RAM
    FreedUnknownBlock,    // a pool block freed that the pool did not hand out, or freed twice
};

struct Fault {
    FaultKind kind;
    const char* routine;  // the routine that met the fault
    unsigned level;       // the level the processor was at (or was asked to go to)
    unsigned limit;       // the level the rule allows (the current one for a raise or a lower)
};

// Defined by each bed: records the fault and gives the bed's verdict.
void RecordFault(const Fault& fault);

// The fault in words, one line, the same in every bed's log; written into
// `text` (`size` bytes, always terminated) and returned.
const char* DescribeFault(const Fault& fault, char* text, unsigned size);

}  // namespace kernel_rules

#endif
