// The kernel routines the test bed serves in place of Wine's ntoskrnl.exe,
// whose versions reach no hardware (MmMapIoSpace maps nothing) or are stubs
// that stop the driver host when called (the READ_REGISTER_ and
// WRITE_REGISTER_ accessors, the SeExports table). A driver that imports them
// gets these through its import address table (import_patch.h). A driver
// that looks KeIpiGenericCall up at run time (MmGetSystemRoutineAddress)
// gets the bed's: the driver host is one processor, so the broadcast runs
// the routine once, on the calling thread, at IPI_LEVEL.
#ifndef QUORVENAL_TESTBED_KERNEL_ROUTINES_H
#define QUORVENAL_TESTBED_KERNEL_ROUTINES_H

#include "import_patch.h"

// The table of served imports, and its length.
const ServedImport* ServedKernelRoutines(int* count);

#endif
