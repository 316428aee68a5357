// The kernel's security routines that drivers call: building security descriptors and ACLs in their Windows
// layouts, kernel handles to device objects, and setting a device's DACL through one.
#include <ntifs.h>

#include <cstring>
#include <map>
#include <mutex>

#include "kernel/kernel_trace.h"
#include "kernel/object_namespace.h"
#include "kernel/security.h"

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

// Where the ACEs of an ACL end; 0 when the ACL is malformed.
size_t AceEnd(const ACL* acl) {
    std::vector<standin::AccessEntry> entries;
    if (!standin::ReadDacl(acl, &entries)) return 0;
    const UCHAR* start = reinterpret_cast<const UCHAR*>(acl);
    size_t offset = sizeof(ACL);
    for (unsigned i = 0; i < acl->AceCount; ++i) {
        ACE_HEADER header;
        std::memcpy(&header, start + offset, sizeof header);
        offset += header.AceSize;
    }
    return offset;
}

}  // namespace

extern "C" ULONG NTAPI RtlLengthSid(PSID Sid) { return static_cast<ULONG>(standin::SidLength(Sid)); }

extern "C" NTSTATUS NTAPI RtlCreateSecurityDescriptor(PSECURITY_DESCRIPTOR SecurityDescriptor,
                                                      ULONG Revision) {
    if (Revision != SECURITY_DESCRIPTOR_REVISION) return STATUS_UNKNOWN_REVISION;
    PISECURITY_DESCRIPTOR descriptor = static_cast<PISECURITY_DESCRIPTOR>(SecurityDescriptor);
    std::memset(descriptor, 0, sizeof *descriptor);
    descriptor->Revision = SECURITY_DESCRIPTOR_REVISION;
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS NTAPI RtlSetDaclSecurityDescriptor(PSECURITY_DESCRIPTOR SecurityDescriptor,
                                                       BOOLEAN DaclPresent, PACL Dacl,
                                                       BOOLEAN DaclDefaulted) {
    PISECURITY_DESCRIPTOR descriptor = static_cast<PISECURITY_DESCRIPTOR>(SecurityDescriptor);
    if (descriptor->Revision != SECURITY_DESCRIPTOR_REVISION) return STATUS_UNKNOWN_REVISION;
    if (descriptor->Control & SE_SELF_RELATIVE) return STATUS_INVALID_SECURITY_DESCR;
    if (!DaclPresent) {
        descriptor->Control &= ~SE_DACL_PRESENT;
        descriptor->Dacl = NULL;
        return STATUS_SUCCESS;
    }
    descriptor->Control |= SE_DACL_PRESENT;
    descriptor->Dacl = Dacl;
    if (DaclDefaulted) {
        descriptor->Control |= SE_DACL_DEFAULTED;
    } else {
        descriptor->Control &= ~SE_DACL_DEFAULTED;
    }
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS NTAPI RtlCreateAcl(PACL Acl, ULONG AclLength, ULONG AclRevision) {
    if (AclLength < sizeof(ACL)) return STATUS_BUFFER_TOO_SMALL;
    if (AclRevision < 2 || AclRevision > 4 || AclLength > 0xFFFF) return STATUS_INVALID_PARAMETER;
    std::memset(Acl, 0, sizeof(ACL));
    Acl->AclRevision = static_cast<UCHAR>(AclRevision);
    Acl->AclSize = static_cast<USHORT>(AclLength & ~3u);
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS NTAPI RtlAddAccessAllowedAce(PACL Acl, ULONG AceRevision, ACCESS_MASK AccessMask,
                                                 PSID Sid) {
    if (!standin::SidIsValid(Sid, 8 + 4 * 15)) return STATUS_INVALID_SID;
    if (AceRevision < 2 || AceRevision > 4) return STATUS_REVISION_MISMATCH;
    size_t end = AceEnd(Acl);
    if (end == 0) return STATUS_INVALID_ACL;
    size_t sidLength = standin::SidLength(Sid);
    size_t aceSize = offsetof(ACCESS_ALLOWED_ACE, SidStart) + sidLength;
    if (end + aceSize > Acl->AclSize) return STATUS_ALLOTTED_SPACE_EXCEEDED;
    UCHAR* ace = reinterpret_cast<UCHAR*>(Acl) + end;
    ACE_HEADER header = {ACCESS_ALLOWED_ACE_TYPE, 0, static_cast<USHORT>(aceSize)};
    std::memcpy(ace, &header, sizeof header);
    std::memcpy(ace + sizeof header, &AccessMask, sizeof AccessMask);
    std::memcpy(ace + offsetof(ACCESS_ALLOWED_ACE, SidStart), Sid, sidLength);
    ++Acl->AceCount;
    if (AceRevision > Acl->AclRevision) Acl->AclRevision = static_cast<UCHAR>(AceRevision);
    return STATUS_SUCCESS;
}

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
    PDEVICE_OBJECT device = static_cast<PDEVICE_OBJECT>(Object);
    ACCESS_MASK granted = MapGenericFileAccess(DesiredAccess);
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
