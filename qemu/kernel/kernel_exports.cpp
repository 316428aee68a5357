// Each export belongs to one module, as on 32-bit Windows: an import of a
// HAL routine from ntoskrnl.exe, or the reverse, is not bound.
#include "kernel_exports.h"

#include <ntddk.h>

#include "text.h"

namespace {

struct KernelExport {
    const char* module;
    const char* name;
    const void* address;
};

const char kKernel[] = "ntoskrnl.exe";
const char kHal[] = "hal.dll";

const KernelExport kExports[] = {
    {kHal, "HalGetBusData", (const void*)&HalGetBusData},
    {kHal, "HalGetBusDataByOffset", (const void*)&HalGetBusDataByOffset},
    {kKernel, "IoCreateDevice", (const void*)&IoCreateDevice},
    {kKernel, "IoCreateSymbolicLink", (const void*)&IoCreateSymbolicLink},
    {kKernel, "IoDeleteDevice", (const void*)&IoDeleteDevice},
    {kKernel, "IoDeleteSymbolicLink", (const void*)&IoDeleteSymbolicLink},
    {kKernel, "IofCompleteRequest", (const void*)&IofCompleteRequest},
    {kKernel, "KeInitializeMutex", (const void*)&KeInitializeMutex},
    {kKernel, "KeReleaseMutex", (const void*)&KeReleaseMutex},
    {kKernel, "KeWaitForSingleObject", (const void*)&KeWaitForSingleObject},
    {kKernel, "MmMapIoSpace", (const void*)&MmMapIoSpace},
    {kKernel, "MmUnmapIoSpace", (const void*)&MmUnmapIoSpace},
    {kKernel, "RtlInitUnicodeString", (const void*)&RtlInitUnicodeString},
};

}  // namespace

const void* KernelExportAddress(const char* module, const char* name) {
    for (const KernelExport& e : kExports) {
        if (TextSameName(e.module, module) && TextEqual(e.name, name)) return e.address;
    }
    return nullptr;
}
