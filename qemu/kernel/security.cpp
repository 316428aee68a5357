// Security routines for the test kernel, with the behaviour of Windows'
// routines that the driver relies on: ACLs and descriptors built in place and
// checked (revision, room, well-formed SIDs), kernel handles to the one
// device object, and ZwSetSecurityObject needing WRITE_DAC on its handle.
#include "security.h"

#include "io.h"

extern "C" int memcmp(const void* left, const void* right, size_t count);

namespace {

struct StaticSid {
    UCHAR Revision;
    UCHAR SubAuthorityCount;
    UCHAR IdentifierAuthority[6];
    ULONG SubAuthority[2];
};

StaticSid gWorldSid = {1, 1, {0, 0, 0, 0, 0, 1}, {0, 0}};
StaticSid gSystemSid = {1, 1, {0, 0, 0, 0, 0, 5}, {18, 0}};
StaticSid gAdminsSid = {1, 2, {0, 0, 0, 0, 0, 5}, {32, 544}};
StaticSid gUsersSid = {1, 2, {0, 0, 0, 0, 0, 5}, {32, 545}};

SecurityRecord gRecord;

const ULONG kMaxHandles = 4;
struct KernelHandle {
    bool open;
    ACCESS_MASK granted;
};
KernelHandle gHandles[kMaxHandles];
const ULONG kHandleBase = 0x80000004;

ULONG SidLength(const void* sid) {
    return 8 + 4 * ((const UCHAR*)sid)[1];
}

bool SidValid(const void* sid, ULONG limit) {
    if (sid == nullptr || limit < 8) return false;
    const UCHAR* bytes = (const UCHAR*)sid;
    return bytes[0] == 1 && bytes[1] <= 15 && SidLength(sid) <= limit;
}

bool SameSid(const void* left, const void* right) {
    return SidLength(left) == SidLength(right) && memcmp(left, right, SidLength(left)) == 0;
}

SidKind KindOf(const void* sid) {
    if (SameSid(sid, &gSystemSid)) return kSystemSid;
    if (SameSid(sid, &gAdminsSid)) return kAdminsSid;
    if (SameSid(sid, &gWorldSid)) return kWorldSid;
    if (SameSid(sid, &gUsersSid)) return kUsersSid;
    return kOtherSid;
}

ACCESS_MASK MapGeneric(ACCESS_MASK mask) {
    ACCESS_MASK mapped = mask & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
    if (mask & GENERIC_READ) mapped |= FILE_GENERIC_READ;
    if (mask & GENERIC_WRITE) mapped |= FILE_GENERIC_WRITE;
    if (mask & GENERIC_EXECUTE) mapped |= READ_CONTROL | FILE_READ_ATTRIBUTES | FILE_EXECUTE | SYNCHRONIZE;
    if (mask & GENERIC_ALL) mapped |= FILE_ALL_ACCESS;
    return mapped;
}

// Walks the entries of an ACL; returns the offset where they end, or 0 when
// the ACL is malformed. With `record`, the entries are recorded.
ULONG WalkAcl(const ACL* acl, SecurityRecord* record) {
    if (acl->AclRevision < 2 || acl->AclRevision > 4 || acl->AclSize < sizeof(ACL)) return 0;
    const UCHAR* start = (const UCHAR*)acl;
    ULONG offset = sizeof(ACL);
    for (ULONG i = 0; i < acl->AceCount; ++i) {
        if (offset + sizeof(ACE_HEADER) > acl->AclSize) return 0;
        const ACE_HEADER* header = (const ACE_HEADER*)(start + offset);
        if (header->AceSize < sizeof(ACE_HEADER) || offset + header->AceSize > acl->AclSize) return 0;
        const ULONG sidOffset = 8;  // header and mask
        if (header->AceSize < sidOffset || !SidValid(start + offset + sidOffset, header->AceSize - sidOffset)) {
            return 0;
        }
        if (record != nullptr && i < kMaxRecordedEntries) {
            const ACCESS_ALLOWED_ACE* ace = (const ACCESS_ALLOWED_ACE*)header;
            record->entryTypes[i] = header->AceType;
            record->entryMasks[i] = MapGeneric(ace->Mask);
            record->entrySids[i] = KindOf(start + offset + sidOffset);
        }
        offset += header->AceSize;
    }
    if (record != nullptr) record->entryCount = acl->AceCount;
    return offset;
}

KernelHandle* HandleOf(HANDLE handle) {
    ULONG value = (ULONG)(ULONG_PTR)handle;
    if (value < kHandleBase || (value - kHandleBase) % 4 != 0) return nullptr;
    ULONG index = (value - kHandleBase) / 4;
    if (index >= kMaxHandles || !gHandles[index].open) return nullptr;
    return &gHandles[index];
}

}  // namespace

extern "C" {

NTSTATUS NTAPI RtlCreateSecurityDescriptor(PSECURITY_DESCRIPTOR SecurityDescriptor, ULONG Revision) {
    if (Revision != SECURITY_DESCRIPTOR_REVISION) return STATUS_UNKNOWN_REVISION;
    PISECURITY_DESCRIPTOR descriptor = (PISECURITY_DESCRIPTOR)SecurityDescriptor;
    memset(descriptor, 0, sizeof *descriptor);
    descriptor->Revision = SECURITY_DESCRIPTOR_REVISION;
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI RtlSetDaclSecurityDescriptor(PSECURITY_DESCRIPTOR SecurityDescriptor,
                                            BOOLEAN DaclPresent, PACL Dacl, BOOLEAN DaclDefaulted) {
    PISECURITY_DESCRIPTOR descriptor = (PISECURITY_DESCRIPTOR)SecurityDescriptor;
    if (descriptor->Revision != SECURITY_DESCRIPTOR_REVISION) return STATUS_UNKNOWN_REVISION;
    if (descriptor->Control & SE_SELF_RELATIVE) return STATUS_INVALID_SECURITY_DESCR;
    descriptor->Control &= ~(SE_DACL_PRESENT | SE_DACL_DEFAULTED);
    descriptor->Dacl = nullptr;
    if (DaclPresent) {
        descriptor->Control |= SE_DACL_PRESENT;
        descriptor->Dacl = Dacl;
        if (DaclDefaulted) descriptor->Control |= SE_DACL_DEFAULTED;
    }
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI RtlCreateAcl(PACL Acl, ULONG AclLength, ULONG AclRevision) {
    if (AclLength < sizeof(ACL)) return STATUS_BUFFER_TOO_SMALL;
    if (AclRevision < 2 || AclRevision > 4 || AclLength > 0xFFFF) return STATUS_INVALID_PARAMETER;
    memset(Acl, 0, sizeof(ACL));
    Acl->AclRevision = (UCHAR)AclRevision;
    Acl->AclSize = (USHORT)(AclLength & ~3u);
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI RtlAddAccessAllowedAce(PACL Acl, ULONG AceRevision, ACCESS_MASK AccessMask, PSID Sid) {
    if (!SidValid(Sid, 8 + 4 * 15)) return STATUS_INVALID_SID;
    if (AceRevision < 2 || AceRevision > 4) return STATUS_REVISION_MISMATCH;
    ULONG end = WalkAcl(Acl, nullptr);
    if (end == 0) return STATUS_INVALID_ACL;
    ULONG aceSize = 8 + SidLength(Sid);
    if (end + aceSize > Acl->AclSize) return STATUS_ALLOTTED_SPACE_EXCEEDED;
    UCHAR* ace = (UCHAR*)Acl + end;
    ACE_HEADER header = {ACCESS_ALLOWED_ACE_TYPE, 0, (USHORT)aceSize};
    memcpy(ace, &header, sizeof header);
    memcpy(ace + 4, &AccessMask, 4);
    memcpy(ace + 8, Sid, SidLength(Sid));
    ++Acl->AceCount;
    if (AceRevision > Acl->AclRevision) Acl->AclRevision = (UCHAR)AceRevision;
    return STATUS_SUCCESS;
}

// Only the device object has handles here; a kernel-mode open is not checked.
NTSTATUS NTAPI ObOpenObjectByPointer(PVOID Object, ULONG, PACCESS_STATE, ACCESS_MASK DesiredAccess,
                                     POBJECT_TYPE, KPROCESSOR_MODE AccessMode, PHANDLE Handle) {
    *Handle = nullptr;
    if (!IoState().deviceAlive || Object != IoDriverObject()->DeviceObject) {
        ++gRecord.badCalls;
        return STATUS_OBJECT_TYPE_MISMATCH;
    }
    ACCESS_MASK granted = MapGeneric(DesiredAccess);
    if (AccessMode != KernelMode && !SecurityGrants(true, DesiredAccess, &granted)) {
        return STATUS_ACCESS_DENIED;
    }
    for (ULONG i = 0; i < kMaxHandles; ++i) {
        if (!gHandles[i].open) {
            gHandles[i].open = true;
            gHandles[i].granted = granted;
            ++gRecord.handlesOpen;
            *Handle = (HANDLE)(ULONG_PTR)(kHandleBase + 4 * i);
            return STATUS_SUCCESS;
        }
    }
    return STATUS_INSUFFICIENT_RESOURCES;
}

NTSTATUS NTAPI ZwSetSecurityObject(HANDLE Handle, SECURITY_INFORMATION SecurityInformation,
                                   PSECURITY_DESCRIPTOR SecurityDescriptor) {
    KernelHandle* handle = HandleOf(Handle);
    if (handle == nullptr) {
        ++gRecord.badCalls;
        return STATUS_INVALID_HANDLE;
    }
    if (SecurityInformation != DACL_SECURITY_INFORMATION) {
        ++gRecord.badCalls;
        return STATUS_INVALID_PARAMETER;
    }
    if ((handle->granted & WRITE_DAC) == 0) return STATUS_ACCESS_DENIED;
    PISECURITY_DESCRIPTOR descriptor = (PISECURITY_DESCRIPTOR)SecurityDescriptor;
    if (descriptor == nullptr || descriptor->Revision != SECURITY_DESCRIPTOR_REVISION ||
        (descriptor->Control & SE_SELF_RELATIVE) != 0) {
        ++gRecord.badCalls;
        return STATUS_INVALID_SECURITY_DESCR;
    }
    SecurityRecord next = gRecord;
    next.daclNull = (descriptor->Control & SE_DACL_PRESENT) == 0 || descriptor->Dacl == nullptr;
    next.entryCount = 0;
    if (!next.daclNull && WalkAcl(descriptor->Dacl, &next) == 0) {
        ++gRecord.badCalls;
        return STATUS_INVALID_ACL;
    }
    next.daclSet = true;
    next.setWithoutLink = !IoState().linkAlive;
    gRecord = next;
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI ZwClose(HANDLE Handle) {
    KernelHandle* handle = HandleOf(Handle);
    if (handle == nullptr) {
        ++gRecord.badCalls;
        return STATUS_INVALID_HANDLE;
    }
    handle->open = false;
    --gRecord.handlesOpen;
    return STATUS_SUCCESS;
}

}  // extern "C"

const SecurityRecord& SecurityState() { return gRecord; }

void SecurityResetDevice() {
    ULONG handlesOpen = gRecord.handlesOpen;
    ULONG badCalls = gRecord.badCalls;
    memset(&gRecord, 0, sizeof gRecord);
    gRecord.handlesOpen = handlesOpen;
    gRecord.badCalls = badCalls;
}

bool SecurityGrants(bool administrator, ACCESS_MASK desired, ACCESS_MASK* granted) {
    ACCESS_MASK wanted = MapGeneric(desired) & ~(ACCESS_MASK)MAXIMUM_ALLOWED;
    *granted = 0;
    if (gRecord.daclSet && gRecord.daclNull) {
        *granted = wanted;
        return true;
    }
    ACCESS_MASK allowed = 0;
    if (!gRecord.daclSet) {
        // Windows' default for a device created without a descriptor.
        allowed = MapGeneric(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE);
        if (administrator) allowed = FILE_ALL_ACCESS;
    } else {
        for (ULONG i = 0; i < gRecord.entryCount && i < kMaxRecordedEntries; ++i) {
            SidKind sid = gRecord.entrySids[i];
            bool held = sid == kWorldSid || sid == kUsersSid || (administrator && sid == kAdminsSid);
            if (!held) continue;
            if (gRecord.entryTypes[i] == ACCESS_ALLOWED_ACE_TYPE) {
                allowed |= gRecord.entryMasks[i];
            } else if (gRecord.entryMasks[i] & wanted & ~allowed) {
                return false;  // a denying entry for a right still asked for
            }
        }
    }
    if ((wanted & ~allowed) != 0) return false;
    *granted = wanted;
    return true;
}
