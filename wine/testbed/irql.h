// The interrupt request level of each driver-host thread, as the HAL (x86)
// or the processor's CR8 (x64) keeps it on Windows: the driver raises and
// lowers it around its port sequences. Every thread starts at PASSIVE_LEVEL
// (0). The rules on it are the kernel's (kernel_rules/irql_rules.h), the
// same as on the stand-in and in the QEMU bed; a fault they record stops the
// test bed here (irql.cpp), as Windows stops with a bug check. On x64 the
// driver writes CR8 itself, which sets the level as it is told.
#ifndef QUORVENAL_TESTBED_IRQL_H
#define QUORVENAL_TESTBED_IRQL_H

#include "kernel_rules/irql_rules.h"

typedef kernel_rules::Level BedIrql;

#if defined(_WIN64)
const BedIrql kIpiLevel = 14;
#else
const BedIrql kIpiLevel = 29;
#endif

bool StartIrqlTracking();
BedIrql CurrentIrql();
void SetIrql(BedIrql level);  // a move to CR8

#endif
