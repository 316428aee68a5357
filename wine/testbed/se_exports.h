// The kernel's SeExports table of well-known privileges and SIDs, which a
// driver reads to build a security descriptor. Wine exports the name but
// not the table; the test bed fills one in.
#ifndef QUORVENAL_TESTBED_SE_EXPORTS_H
#define QUORVENAL_TESTBED_SE_EXPORTS_H

// What a driver's import of SeExports resolves to: the address of a pointer
// to the table, as the kernel's export is.
void* SeExportsImport();

#endif
