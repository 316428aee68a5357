// The kernel's object routines that drivers call to protect a device: kernel handles to device objects, and
// setting a device's DACL through one. The descriptor and ACL routines that build the DACL are the kernel's
// rules (kernel_rules/security_routines.cpp), the same in the QEMU bed's kernel.
#include <ntifs.h>

#include <cstring>
#include <map>
#include <mutex>

#include "kernel/kernel_trace.h"
#include "kernel/object_namespace.h"
#include "kernel/security.h"
#include "kernel_rules/irql_rules.h"
#include "kernel_rules/security_rules.h"

namespace {

struct KernelHandle {
    PDEVICE_OBJECT device;
    ACCESS_MASK granted;
};

std::mutex& HandleLock() {
    static std::mutex* lock = new std::mutex;
    return *lock;
}

std::map<uintptr_t, KernelHandle>& KernelHandles() {
    static auto* handles = new std::map<uintptr_t, KernelHandle>;
    return *handles;
}

uintptr_t nextKernelHandle = 0x80000004;  // kernel handles have the top bit set on x86

}  // namespace

// Only device objects are modelled. A kernel-mode open makes no access
// check; a user-mode one is checked against the caller's token.
extern "C" NTSTATUS NTAPI ObOpenObjectByPointer(PVOID Object, ULONG HandleAttributes,
                                                PACCESS_STATE PassedAccessState, ACCESS_MASK DesiredAccess,
                                                POBJECT_TYPE ObjectType, KPROCESSOR_MODE AccessMode,
                                                HANDLE* Handle) {
    (void)HandleAttributes;
    (void)PassedAccessState;
    (void)ObjectType;
    using namespace standin;
    *Handle = NULL;
    if (!kernel_rules::EnterRoutine(kernel_rules::Routine::ObOpenObjectByPointer)) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    PDEVICE_OBJECT device = static_cast<PDEVICE_OBJECT>(Object);
    ACCESS_MASK granted = kernel_rules::MapGenericForFiles(DesiredAccess);
    {
        std::lock_guard<std::mutex> guard(NamespaceLock());
        DeviceRecord* record = FindDeviceRecord(device);
        if (record == nullptr || record->deleted) {
            TraceDriverFault("ObOpenObjectByPointer on an object that is not a live device");
            return STATUS_OBJECT_TYPE_MISMATCH;
        }
        if (AccessMode != KernelMode) {
            NTSTATUS status = CheckAccess(record->security, CurrentCallerToken(), DesiredAccess, &granted);
            if (!NT_SUCCESS(status)) return status;
        }
    }
    std::lock_guard<std::mutex> guard(HandleLock());
    uintptr_t value = nextKernelHandle;
    nextKernelHandle += 4;
    KernelHandles()[value] = KernelHandle{device, granted};
    *Handle = reinterpret_cast<HANDLE>(value);
    return STATUS_SUCCESS;
}

// Only the DACL is kept: other parts of a descriptor are refused.
extern "C" NTSTATUS NTAPI ZwSetSecurityObject(HANDLE Handle, SECURITY_INFORMATION SecurityInformation,
                                              PSECURITY_DESCRIPTOR SecurityDescriptor) {
    using namespace standin;
    kernel_rules::EnterRoutine(kernel_rules::Routine::ZwSetSecurityObject);
    KernelHandle handle{};
    {
        std::lock_guard<std::mutex> guard(HandleLock());
        auto it = KernelHandles().find(reinterpret_cast<uintptr_t>(Handle));
        if (it == KernelHandles().end()) return STATUS_INVALID_HANDLE;
        handle = it->second;
    }
    if (SecurityInformation != DACL_SECURITY_INFORMATION) return STATUS_INVALID_PARAMETER;
    if ((handle.granted & WRITE_DAC) == 0) return STATUS_ACCESS_DENIED;
    PISECURITY_DESCRIPTOR descriptor = static_cast<PISECURITY_DESCRIPTOR>(SecurityDescriptor);
    if (descriptor == nullptr) return STATUS_INVALID_SECURITY_DESCR;
    if (descriptor->Revision != SECURITY_DESCRIPTOR_REVISION) return STATUS_UNKNOWN_REVISION;
    if (descriptor->Control & SE_SELF_RELATIVE) return STATUS_INVALID_SECURITY_DESCR;

    DeviceSecurity security;
    if (!(descriptor->Control & SE_DACL_PRESENT) || descriptor->Dacl == nullptr) {
        security.nullDacl = true;
    } else if (!ReadDacl(descriptor->Dacl, &security.entries)) {
        return STATUS_INVALID_ACL;
    }
    std::lock_guard<std::mutex> guard(NamespaceLock());
    DeviceRecord* record = FindDeviceRecord(handle.device);
    if (record == nullptr || record->deleted) return STATUS_INVALID_HANDLE;
    record->security = security;
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS NTAPI ZwClose(HANDLE Handle) {
    std::lock_guard<std::mutex> guard(HandleLock());
    if (KernelHandles().erase(reinterpret_cast<uintptr_t>(Handle)) == 0) {
        standin::TraceDriverFault("ZwClose of a handle that is not open");
        return STATUS_INVALID_HANDLE;
    }
    return STATUS_SUCCESS;
}

namespace standin {

size_t OpenKernelHandleCount() {
    std::lock_guard<std::mutex> guard(HandleLock());
    return KernelHandles().size();
}

}  // namespace standin
