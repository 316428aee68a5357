#include "import_patch.h"

#include <cstring>

namespace {

const IMAGE_IMPORT_DESCRIPTOR* FirstDescriptor(HMODULE image) {
    const BYTE* base = reinterpret_cast<const BYTE*>(image);
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) return NULL;
    const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE) return NULL;
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0 || imports.Size == 0) return NULL;
    return reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
}

void WriteEntry(IMAGE_THUNK_DATA* entry, void* address) {
    DWORD before = 0;
    if (!VirtualProtect(entry, sizeof *entry, PAGE_READWRITE, &before)) return;
    entry->u1.Function = reinterpret_cast<ULONG_PTR>(address);
    DWORD ignored = 0;
    VirtualProtect(entry, sizeof *entry, before, &ignored);
}

}  // namespace

bool ImportsFrom(HMODULE image, const char* dll) {
    const BYTE* base = reinterpret_cast<const BYTE*>(image);
    for (const IMAGE_IMPORT_DESCRIPTOR* d = FirstDescriptor(image); d && d->Name; ++d) {
        if (_stricmp(reinterpret_cast<const char*>(base + d->Name), dll) == 0) return true;
    }
    return false;
}

int PatchImports(HMODULE image, const ServedImport* served, int count) {
    BYTE* base = reinterpret_cast<BYTE*>(image);
    int patched = 0;
    for (const IMAGE_IMPORT_DESCRIPTOR* d = FirstDescriptor(image); d && d->Name; ++d) {
        const char* dll = reinterpret_cast<const char*>(base + d->Name);
        if (d->OriginalFirstThunk == 0) continue;  // no names to go by
        const IMAGE_THUNK_DATA* names =
            reinterpret_cast<const IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
        IMAGE_THUNK_DATA* entries = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (int i = 0; names[i].u1.AddressOfData != 0; ++i) {
            if (IMAGE_SNAP_BY_ORDINAL(names[i].u1.Ordinal)) continue;
            const IMAGE_IMPORT_BY_NAME* byName =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names[i].u1.AddressOfData);
            const char* routine = reinterpret_cast<const char*>(byName->Name);
            for (int s = 0; s < count; ++s) {
                if (_stricmp(served[s].dll, dll) == 0 && strcmp(served[s].routine, routine) == 0) {
                    WriteEntry(&entries[i], served[s].address);
                    ++patched;
                }
            }
        }
    }
    return patched;
}
