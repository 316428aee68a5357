// The interrupt request level of each driver-host thread, as the HAL keeps
// it on Windows: the driver raises and lowers it around its port sequences.
// Every thread starts at PASSIVE_LEVEL (0). Raising below the current level
// or lowering above it stops the test bed, as Windows stops with a bug check.
#ifndef QUORVENAL_TESTBED_IRQL_H
#define QUORVENAL_TESTBED_IRQL_H

typedef unsigned char BedIrql;

const BedIrql kPassiveLevel = 0;
const BedIrql kDispatchLevel = 2;
const BedIrql kIpiLevel = 29;
const BedIrql kHighLevel = 31;

bool StartIrqlTracking();
BedIrql CurrentIrql();
BedIrql RaiseIrql(BedIrql level);  // returns the level before
void LowerIrql(BedIrql level);
// Stops the test bed when the thread runs above `highest` (a routine called
// at a level where Windows does not allow it).
void RequireIrqlAtMost(BedIrql highest, const char* routine);

#endif
