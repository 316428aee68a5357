#include "kernel_routines.h"

#include <windows.h>

#include "irql.h"
#include "machine_bridge.h"
#include "se_exports.h"

namespace {

PVOID NTAPI MapIoSpace(LARGE_INTEGER physical, SIZE_T bytes, int cacheType) {
    (void)cacheType;
    // The level and RAM rules are applied by the stand-in's mapping behind
    // BedMapIoSpace, and the level rule of the unmap likewise.
    return BedMapIoSpace(static_cast<uint64_t>(physical.QuadPart), bytes);
}

VOID NTAPI UnmapIoSpace(PVOID address, SIZE_T bytes) { BedUnmapIoSpace(address, bytes); }

// The RAM list, in pool from Wine's own allocator, so that the driver frees
// it with Wine's ExFreePool: an array ending in an entry whose base and size
// are both 0.
struct MemoryRange {
    LARGE_INTEGER base;
    LARGE_INTEGER bytes;
};

extern "C" __declspec(dllimport) PVOID NTAPI ExAllocatePoolWithTag(int poolType, SIZE_T bytes, ULONG tag);
const int kNonPagedPool = 0;
const ULONG kPoolTag = 0x64656251;  // "Qbed"
const size_t kMostRanges = 64;

MemoryRange* NTAPI GetPhysicalMemoryRanges() {
    if (!kernel_rules::EnterRoutine(kernel_rules::Routine::MmGetPhysicalMemoryRanges)) return NULL;
    uint64_t bases[kMostRanges];
    uint64_t sizes[kMostRanges];
    size_t count = BedRamRanges(bases, sizes, kMostRanges);
    if (count > kMostRanges) count = kMostRanges;
    MemoryRange* list = static_cast<MemoryRange*>(
        ExAllocatePoolWithTag(kNonPagedPool, (count + 1) * sizeof(MemoryRange), kPoolTag));
    if (list == NULL) return NULL;
    for (size_t i = 0; i < count; ++i) {
        list[i].base.QuadPart = static_cast<LONGLONG>(bases[i]);
        list[i].bytes.QuadPart = static_cast<LONGLONG>(sizes[i]);
    }
    list[count].base.QuadPart = 0;
    list[count].bytes.QuadPart = 0;
    return list;
}

typedef ULONG_PTR(NTAPI* BroadcastRoutine)(ULONG_PTR argument);

ULONG_PTR NTAPI IpiGenericCall(BroadcastRoutine routine, ULONG_PTR argument) {
    kernel_rules::EnterRoutine(kernel_rules::Routine::KeIpiGenericCall);
    BedIrql before = kernel_rules::ExchangeLevel(kIpiLevel);
    ULONG_PTR result = routine(argument);
    kernel_rules::ExchangeLevel(before);
    return result;
}

struct CountedName {
    USHORT Length;
    USHORT MaximumLength;
    const WCHAR* Buffer;
};

extern "C" __declspec(dllimport) PVOID NTAPI MmGetSystemRoutineAddress(CountedName* name);

// KeIpiGenericCall is the bed's; every other name is Wine's to find.
PVOID NTAPI GetSystemRoutineAddress(CountedName* name) {
    if (!kernel_rules::EnterRoutine(kernel_rules::Routine::MmGetSystemRoutineAddress)) return NULL;
    static const WCHAR kBroadcast[] = L"KeIpiGenericCall";
    const size_t length = sizeof kBroadcast / sizeof kBroadcast[0] - 1;
    if (name != NULL && name->Buffer != NULL && name->Length == length * sizeof(WCHAR) &&
        memcmp(name->Buffer, kBroadcast, name->Length) == 0) {
        return reinterpret_cast<PVOID>(&IpiGenericCall);
    }
    return MmGetSystemRoutineAddress(name);
}

// Device memory is the mapping's memory here: one access of the width each.
UCHAR NTAPI ReadRegisterUchar(volatile UCHAR* reg) { return *reg; }
USHORT NTAPI ReadRegisterUshort(volatile USHORT* reg) { return *reg; }
ULONG NTAPI ReadRegisterUlong(volatile ULONG* reg) { return *reg; }

VOID NTAPI WriteRegisterUchar(volatile UCHAR* reg, UCHAR value) { *reg = value; }
VOID NTAPI WriteRegisterUshort(volatile USHORT* reg, USHORT value) { *reg = value; }
VOID NTAPI WriteRegisterUlong(volatile ULONG* reg, ULONG value) { *reg = value; }

const char kKernel[] = "ntoskrnl.exe";

const ServedImport kServed[] = {
    {kKernel, "MmMapIoSpace", reinterpret_cast<void*>(&MapIoSpace)},
    {kKernel, "MmUnmapIoSpace", reinterpret_cast<void*>(&UnmapIoSpace)},
    {kKernel, "MmGetPhysicalMemoryRanges", reinterpret_cast<void*>(&GetPhysicalMemoryRanges)},
    {kKernel, "MmGetSystemRoutineAddress", reinterpret_cast<void*>(&GetSystemRoutineAddress)},
    {kKernel, "READ_REGISTER_UCHAR", reinterpret_cast<void*>(&ReadRegisterUchar)},
    {kKernel, "READ_REGISTER_USHORT", reinterpret_cast<void*>(&ReadRegisterUshort)},
    {kKernel, "READ_REGISTER_ULONG", reinterpret_cast<void*>(&ReadRegisterUlong)},
    {kKernel, "WRITE_REGISTER_UCHAR", reinterpret_cast<void*>(&WriteRegisterUchar)},
    {kKernel, "WRITE_REGISTER_USHORT", reinterpret_cast<void*>(&WriteRegisterUshort)},
    {kKernel, "WRITE_REGISTER_ULONG", reinterpret_cast<void*>(&WriteRegisterUlong)},
    {kKernel, "SeExports", SeExportsImport()},
};

}  // namespace

const ServedImport* ServedKernelRoutines(int* count) {
    *count = static_cast<int>(sizeof kServed / sizeof kServed[0]);
    return kServed;
}
