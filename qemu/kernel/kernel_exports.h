// The routines and data the test kernel exports to the driver it loads, by
// module and name as a 32-bit driver imports them (undecorated names, the
// stdcall or fastcall convention of 32-bit Windows).
#ifndef QVBARE_KERNEL_EXPORTS_H
#define QVBARE_KERNEL_EXPORTS_H

// The address an import of `name` from `module` (ntoskrnl.exe or hal.dll,
// compared without regard to case) is bound to, or null when the test kernel
// does not export it from that module.
const void* KernelExportAddress(const char* module, const char* name);

#endif
