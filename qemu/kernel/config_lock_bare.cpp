// The configuration lock on the test kernel when the driver's own lock file
// is not built: one thread runs with interrupts off, so nothing can come
// between an address write and its data write. The depth is kept so that an
// unbalanced release would still be seen.
#include <ntddk.h>

#include "config_access.h"

namespace {
LONG gDepth;
}  // namespace

VOID ConfigLockInitialize(VOID) { gDepth = 0; }
VOID ConfigLockAcquire(VOID) { ++gDepth; }
VOID ConfigLockRelease(VOID) { --gDepth; }
