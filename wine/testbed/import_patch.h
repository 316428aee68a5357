// Points a loaded image's imports at the test bed's routines: the entries of
// its import address table for the named routines of the named DLL are
// overwritten in memory (the file on disk stays as it is). Imports by
// ordinal only are left alone.
#ifndef QUORVENAL_TESTBED_IMPORT_PATCH_H
#define QUORVENAL_TESTBED_IMPORT_PATCH_H

#include <windows.h>

struct ServedImport {
    const char* dll;  // as the image names it, compared without case
    const char* routine;
    void* address;  // what the import now resolves to
};

// Whether the image imports anything from `dll`.
bool ImportsFrom(HMODULE image, const char* dll);
// Returns how many import entries now point at the served routines.
int PatchImports(HMODULE image, const ServedImport* served, int count);

#endif
