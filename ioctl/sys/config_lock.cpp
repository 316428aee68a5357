// The driver's configuration lock: one kernel mutex held around the whole
// configuration action of each request, so that two clients never interleave
// their port, base-search or extended-space accesses. Requests run at
// PASSIVE_LEVEL in the caller's thread, where waiting on a mutex is allowed.
#include <ntddk.h>

#include "config_access.h"

namespace {
KMUTEX ConfigMutex;
}

VOID ConfigLockInitialize(VOID) { KeInitializeMutex(&ConfigMutex, 0); }

VOID ConfigLockAcquire(VOID) { KeWaitForSingleObject(&ConfigMutex, Executive, KernelMode, FALSE, NULL); }

VOID ConfigLockRelease(VOID) { KeReleaseMutex(&ConfigMutex, FALSE); }
