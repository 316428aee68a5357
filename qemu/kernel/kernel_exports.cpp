// Each export belongs to one module, as on 32-bit Windows: an import of a
// HAL routine from ntoskrnl.exe, or the reverse, is not bound.
#include "kernel_exports.h"

#include <ntddk.h>

#include "irql.h"
#include "mm.h"
#include "pool.h"
#include "processors.h"
#include "ram_map.h"
#include "security.h"
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
    {kHal, "KfRaiseIrql", (const void*)&KfRaiseIrql},
    {kHal, "KfLowerIrql", (const void*)&KfLowerIrql},
    {kHal, "KeGetCurrentIrql", (const void*)&KeGetCurrentIrql},
    {kKernel, "ExAllocatePool", (const void*)&ExAllocatePool},
    {kKernel, "ExAllocatePoolWithTag", (const void*)&ExAllocatePoolWithTag},
    {kKernel, "ExFreePool", (const void*)&ExFreePool},
    {kKernel, "ExFreePoolWithTag", (const void*)&ExFreePoolWithTag},
    {kKernel, "IoCreateDevice", (const void*)&IoCreateDevice},
    {kKernel, "IoCreateSymbolicLink", (const void*)&IoCreateSymbolicLink},
    {kKernel, "IoDeleteDevice", (const void*)&IoDeleteDevice},
    {kKernel, "IoDeleteSymbolicLink", (const void*)&IoDeleteSymbolicLink},
    {kKernel, "IofCompleteRequest", (const void*)&IofCompleteRequest},
    {kKernel, "KeInitializeMutex", (const void*)&KeInitializeMutex},
    {kKernel, "KeIpiGenericCall", (const void*)&KeIpiGenericCall},
    {kKernel, "KeReleaseMutex", (const void*)&KeReleaseMutex},
    {kKernel, "KeWaitForSingleObject", (const void*)&KeWaitForSingleObject},
    {kKernel, "MmGetPhysicalMemoryRanges", (const void*)&MmGetPhysicalMemoryRanges},
    {kKernel, "MmGetSystemRoutineAddress", (const void*)&MmGetSystemRoutineAddress},
    {kKernel, "MmMapIoSpace", (const void*)&MmMapIoSpace},
    {kKernel, "MmUnmapIoSpace", (const void*)&MmUnmapIoSpace},
    {kKernel, "ObOpenObjectByPointer", (const void*)&ObOpenObjectByPointer},
    {kKernel, "READ_REGISTER_ULONG", (const void*)&READ_REGISTER_ULONG},
    {kKernel, "READ_REGISTER_USHORT", (const void*)&READ_REGISTER_USHORT},
    {kKernel, "RtlAddAccessAllowedAce", (const void*)&RtlAddAccessAllowedAce},
    {kKernel, "RtlCreateAcl", (const void*)&RtlCreateAcl},
    {kKernel, "RtlCreateSecurityDescriptor", (const void*)&RtlCreateSecurityDescriptor},
    {kKernel, "RtlInitUnicodeString", (const void*)&RtlInitUnicodeString},
    {kKernel, "RtlLengthSid", (const void*)&RtlLengthSid},
    {kKernel, "RtlSetDaclSecurityDescriptor", (const void*)&RtlSetDaclSecurityDescriptor},
    {kKernel, "WRITE_REGISTER_ULONG", (const void*)&WRITE_REGISTER_ULONG},
    {kKernel, "WRITE_REGISTER_USHORT", (const void*)&WRITE_REGISTER_USHORT},
    {kKernel, "ZwClose", (const void*)&ZwClose},
    {kKernel, "ZwSetSecurityObject", (const void*)&ZwSetSecurityObject},
    // Data: the import address table slot gets the variable's address.
    {kKernel, "IoDeviceObjectType", (const void*)&IoDeviceObjectType},
    {kKernel, "SeExports", (const void*)&SeExports},
};

}  // namespace

const void* KernelExportAddress(const char* module, const char* name) {
    for (const KernelExport& e : kExports) {
        if (TextSameName(e.module, module) && TextEqual(e.name, name)) return e.address;
    }
    return nullptr;
}
