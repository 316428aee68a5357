// MmGetSystemRoutineAddress: the routines of the stand-in kernel that a
// driver looks up at run time rather than importing, found by their exact
// export names. A test can make one absent, as it is on a system that does
// not export it (KeIpiGenericCall before Windows Server 2003).
#include <ntddk.h>

#include <cstring>
#include <mutex>
#include <string>

#include "kernel/kernel_trace.h"
#include "kernel_rules/irql_rules.h"
#include "kernel/processors.h"

namespace {

struct SystemRoutine {
    const char* name;
    PVOID address;
    bool exported;
};

SystemRoutine gRoutines[] = {
    {"KeIpiGenericCall", reinterpret_cast<PVOID>(&KeIpiGenericCall), true},
    {"MmGetSystemRoutineAddress", reinterpret_cast<PVOID>(&MmGetSystemRoutineAddress), true},
};

std::mutex& RoutinesLock() {
    static auto* lock = new std::mutex;  // lives as long as the process
    return *lock;
}

// The counted name as the kernel compares it with its export names: each
// character must be plain ASCII.
bool NarrowName(PUNICODE_STRING name, std::string* narrow) {
    if (name == NULL || name->Buffer == NULL) return false;
    for (USHORT i = 0; i < name->Length / sizeof(WCHAR); ++i) {
        WCHAR c = name->Buffer[i];
        if (c == 0 || c > 0x7F) return false;
        narrow->push_back(static_cast<char>(c));
    }
    return true;
}

}  // namespace

namespace standin {

void SetSystemRoutineExported(const char* name, bool exported) {
    std::lock_guard<std::mutex> guard(RoutinesLock());
    for (SystemRoutine& routine : gRoutines) {
        if (std::strcmp(routine.name, name) == 0) routine.exported = exported;
    }
}

}  // namespace standin

extern "C" PVOID NTAPI MmGetSystemRoutineAddress(PUNICODE_STRING SystemRoutineName) {
    if (!kernel_rules::EnterRoutine(kernel_rules::Routine::MmGetSystemRoutineAddress)) return NULL;
    std::string wanted;
    if (!NarrowName(SystemRoutineName, &wanted)) return NULL;
    std::lock_guard<std::mutex> guard(RoutinesLock());
    for (const SystemRoutine& routine : gRoutines) {
        if (routine.exported && wanted == routine.name) return routine.address;
    }
    return NULL;
}
