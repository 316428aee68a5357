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

// Device memory is the mapping's memory here: one 16-bit access each.
USHORT NTAPI ReadRegisterUshort(volatile USHORT* reg) { return *reg; }

VOID NTAPI WriteRegisterUshort(volatile USHORT* reg, USHORT value) { *reg = value; }

const char kKernel[] = "ntoskrnl.exe";

const ServedImport kServed[] = {
    {kKernel, "MmMapIoSpace", reinterpret_cast<void*>(&MapIoSpace)},
    {kKernel, "MmUnmapIoSpace", reinterpret_cast<void*>(&UnmapIoSpace)},
    {kKernel, "READ_REGISTER_USHORT", reinterpret_cast<void*>(&ReadRegisterUshort)},
    {kKernel, "WRITE_REGISTER_USHORT", reinterpret_cast<void*>(&WriteRegisterUshort)},
    {kKernel, "SeExports", SeExportsImport()},
};

}  // namespace

const ServedImport* ServedKernelRoutines(int* count) {
    *count = static_cast<int>(sizeof kServed / sizeof kServed[0]);
    return kServed;
}
