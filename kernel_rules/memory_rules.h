// The memory manager's and the pool's rules, as every bed enforces them on
// the driver:
//  - MmMapIoSpace is for device memory: a mapping that spans a page of RAM
//    (as MmGetPhysicalMemoryRanges lists it) is a fault, as Driver Verifier
//    stops the machine for it and an uncached view of cached RAM is
//    undefined processor behaviour; the mapping is still made, so that the
//    driver goes on and the test reads what it did;
//  - a pool block is freed once, and only a block the pool handed out; any
//    other free is a fault and frees nothing.
#ifndef KERNEL_RULES_MEMORY_RULES_H
#define KERNEL_RULES_MEMORY_RULES_H

#include <stdint.h>

#include "fault.h"

namespace kernel_rules {

const uint64_t kPageBytes = 4096;

// The pages a mapping of `bytes` at `physical` spans: [*first, *end).
void MappedPages(uint64_t physical, uint64_t bytes, uint64_t* first, uint64_t* end);

// MmMapIoSpace, once it knows whether the pages it maps hold RAM.
void CheckMappingOfRam(bool pagesHoldRam);

// ExFreePool, once it knows whether the block is one it handed out and has
// not had back; returns whether the block is to be freed.
bool CheckFree(bool blockHandedOut);

}  // namespace kernel_rules

#endif
