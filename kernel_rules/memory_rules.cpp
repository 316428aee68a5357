#include "memory_rules.h"

namespace kernel_rules {

void MappedPages(uint64_t physical, uint64_t bytes, uint64_t* first, uint64_t* end) {
    *first = physical & ~(kPageBytes - 1);
    *end = (physical + bytes + kPageBytes - 1) & ~(kPageBytes - 1);
}

void CheckMappingOfRam(bool pagesHoldRam) {
    if (pagesHoldRam) RecordFault(Fault{FaultKind::MappedRam, "MmMapIoSpace", 0, 0});
}

bool CheckFree(bool blockHandedOut) {
    if (!blockHandedOut) RecordFault(Fault{FaultKind::FreedUnknownBlock, "ExFreePool", 0, 0});
    return blockHandedOut;
}

}  // namespace kernel_rules
