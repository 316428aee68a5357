// The interrupt request level of each driver-host thread, as the HAL (x86)
// or the processor's CR8 (x64) keeps it on Windows: the driver raises and
// lowers it around its port sequences. Every thread starts at PASSIVE_LEVEL
// (0). On x86, raising below the current level or lowering above it through
// the HAL stops the test bed, as Windows stops with a bug check; on x64 the
// driver writes CR8 itself, which sets the level as it is told.
#ifndef QUORVENAL_TESTBED_IRQL_H
#define QUORVENAL_TESTBED_IRQL_H

typedef unsigned char BedIrql;

const BedIrql kPassiveLevel = 0;
const BedIrql kDispatchLevel = 2;
#if defined(_WIN64)
const BedIrql kIpiLevel = 14;
const BedIrql kHighLevel = 15;
#else
const BedIrql kIpiLevel = 29;
const BedIrql kHighLevel = 31;
#endif

bool StartIrqlTracking();
BedIrql CurrentIrql();
BedIrql RaiseIrql(BedIrql level);  // returns the level before
void LowerIrql(BedIrql level);
void SetIrql(BedIrql level);  // a move to CR8
// Stops the test bed when the thread runs above `highest` (a routine called
// at a level where Windows does not allow it).
void RequireIrqlAtMost(BedIrql highest, const char* routine);

#endif
