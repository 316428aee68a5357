#include "kernel_routines.h"

#include <windows.h>

#include "irql.h"
#include "machine_bridge.h"
#include "se_exports.h"

namespace {

PVOID NTAPI MapIoSpace(LARGE_INTEGER physical, SIZE_T bytes, int cacheType) {
    (void)cacheType;
    RequireIrqlAtMost(kDispatchLevel, "MmMapIoSpace");
    return BedMapIoSpace(static_cast<uint64_t>(physical.QuadPart), bytes);
}

VOID NTAPI UnmapIoSpace(PVOID address, SIZE_T bytes) {
    RequireIrqlAtMost(kDispatchLevel, "MmUnmapIoSpace");
    BedUnmapIoSpace(address, bytes);
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
