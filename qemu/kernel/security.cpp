#include "security.h"

#include "io.h"
#include "irql.h"

namespace {

const ULONG kMaxHandles = 8;
const ULONG kMaxDaclBytes = 512;
const NTSTATUS kStatusInvalidHandle = (NTSTATUS)0xC0000008L;
const NTSTATUS kStatusAccessDenied = (NTSTATUS)0xC0000022L;
const NTSTATUS kStatusBufferTooSmall = (NTSTATUS)0xC0000023L;
const NTSTATUS kStatusUnknownRevision = (NTSTATUS)0xC0000058L;
const NTSTATUS kStatusInvalidSid = (NTSTATUS)0xC0000078L;
const NTSTATUS kStatusInvalidAcl = (NTSTATUS)0xC0000077L;
const NTSTATUS kStatusInvalidSecurityDescr = (NTSTATUS)0xC0000079L;
const NTSTATUS kStatusAllottedSpaceExceeded = (NTSTATUS)0xC0000099L;
const NTSTATUS kStatusObjectTypeMismatch = (NTSTATUS)0xC0000024L;
const UCHAR kAccessDeniedAceType = 1;

struct SidStorage {
    UCHAR Revision;
    UCHAR SubAuthorityCount;
    UCHAR IdentifierAuthority[6];
    ULONG SubAuthority[2];
};

SidStorage gLocalSystem = {1, 1, {0, 0, 0, 0, 0, 5}, {18, 0}};
SidStorage gAdmins = {1, 2, {0, 0, 0, 0, 0, 5}, {32, 544}};
SidStorage gUsers = {1, 2, {0, 0, 0, 0, 0, 5}, {32, 545}};
SidStorage gWorld = {1, 1, {0, 0, 0, 0, 0, 1}, {0, 0}};
SidStorage gNtAuthority = {1, 0, {0, 0, 0, 0, 0, 5}, {0, 0}};

SE_EXPORTS gSeExports;
UCHAR gDeviceObjectType[64];  // stands for the kernel's "Device" object type

struct ObjectHandle {
    PVOID object;
    ACCESS_MASK granted;
    bool alive;
};

ObjectHandle gHandles[kMaxHandles];
SecurityRecord gState;
// The device's descriptor once a DACL was set on it: self-relative, with
// the DACL right behind the header.
SECURITY_DESCRIPTOR gDeviceDescriptor;
UCHAR gDeviceDacl[kMaxDaclBytes] __attribute__((aligned(4)));
bool gDeviceNullDacl;

const SID* AsSid(PSID sid) { return (const SID*)sid; }

ULONG SidBytes(PSID sid) { return 8 + 4 * AsSid(sid)->SubAuthorityCount; }

bool SidValid(PSID sid) {
    return sid != nullptr && AsSid(sid)->Revision == 1 && AsSid(sid)->SubAuthorityCount <= 15;
}

bool SameSid(PSID a, PSID b) { return SidBytes(a) == SidBytes(b) && memcmp(a, b, SidBytes(a)) == 0; }

// Walks an ACL's entries; false when one runs past AclSize.
bool AclValid(const ACL* acl, ULONG* usedBytes) {
    if (acl->AclRevision < 2 || acl->AclRevision > 4 || acl->AclSize < sizeof(ACL)) return false;
    ULONG at = sizeof(ACL);
    for (ULONG i = 0; i < acl->AceCount; ++i) {
        if (at + sizeof(ACE_HEADER) > acl->AclSize) return false;
        const ACE_HEADER* ace = (const ACE_HEADER*)((const UCHAR*)acl + at);
        if (ace->AceSize < sizeof(ACE_HEADER) || at + ace->AceSize > acl->AclSize) return false;
        at += ace->AceSize;
    }
    *usedBytes = at;
    return true;
}

bool CallerHolds(PSID sid, const PSID* callerSids, ULONG count) {
    for (ULONG i = 0; i < count; ++i) {
        if (SameSid(sid, callerSids[i])) return true;
    }
    return false;
}

SidKind KindOf(PSID sid) {
    if (SameSid(sid, &gLocalSystem)) return kSystemSid;
    if (SameSid(sid, &gAdmins)) return kAdminsSid;
    if (SameSid(sid, &gWorld)) return kWorldSid;
    if (SameSid(sid, &gUsers)) return kUsersSid;
    return kOtherSid;
}

ObjectHandle* FindHandle(HANDLE handle) {
    ULONG value = (ULONG)(ULONG_PTR)handle & 0x7FFFFFFF;
    if (value == 0 || (value & 3) != 0 || value / 4 > kMaxHandles) return nullptr;
    ObjectHandle* h = &gHandles[value / 4 - 1];
    return h->alive ? h : nullptr;
}

// The device's DACL entries, as the checks read them.
void RecordEntries() {
    const ACL* acl = (const ACL*)gDeviceDacl;
    gState.entryCount = gDeviceNullDacl ? 0 : acl->AceCount;
    ULONG at = sizeof(ACL);
    for (ULONG i = 0; i < gState.entryCount && i < kMaxRecordedEntries; ++i) {
        const ACCESS_ALLOWED_ACE* ace = (const ACCESS_ALLOWED_ACE*)(gDeviceDacl + at);
        gState.entryTypes[i] = ace->Header.AceType;
        gState.entryMasks[i] = MapGenericForFiles(ace->Mask);
        gState.entrySids[i] = KindOf((PSID)&ace->SidStart);
        at += ace->Header.AceSize;
    }
}

}  // namespace

ACCESS_MASK MapGenericForFiles(ACCESS_MASK mask) {
    ACCESS_MASK mapped = mask & 0x0FFFFFFF;
    if (mask & GENERIC_READ) mapped |= 0x00120089;
    if (mask & GENERIC_WRITE) mapped |= 0x00120116;
    if (mask & GENERIC_EXECUTE) mapped |= 0x001200A0;
    if (mask & GENERIC_ALL) mapped |= FILE_ALL_ACCESS;
    return mapped;
}

extern "C" {
PSE_EXPORTS SeExports = &gSeExports;
POBJECT_TYPE IoDeviceObjectType = gDeviceObjectType;
}

const SecurityRecord& SecurityState() { return gState; }

void SecurityResetDevice() {
    ULONG handlesOpen = gState.handlesOpen;
    memset(&gState, 0, sizeof gState);
    gState.handlesOpen = handlesOpen;
    gState.deviceHasDacl = false;
    gDeviceNullDacl = false;
    memset(&gDeviceDescriptor, 0, sizeof gDeviceDescriptor);
    memset(gDeviceDacl, 0, sizeof gDeviceDacl);
    gSeExports.SeLocalSystemSid = &gLocalSystem;
    gSeExports.SeAliasAdminsSid = &gAdmins;
    gSeExports.SeAliasUsersSid = &gUsers;
    gSeExports.SeWorldSid = &gWorld;
    gSeExports.SeNtAuthoritySid = &gNtAuthority;
}

PSID SecurityLocalSystemSid() { return &gLocalSystem; }
PSID SecurityAdminsSid() { return &gAdmins; }
PSID SecurityWorldSid() { return &gWorld; }
PSID SecurityUsersSid() { return &gUsers; }

bool SecurityGrants(bool administrator, ACCESS_MASK desired, ACCESS_MASK* granted) {
    const PSID administratorToken[3] = {&gAdmins, &gUsers, &gWorld};
    const PSID userToken[2] = {&gUsers, &gWorld};
    ACCESS_MASK allowed =
        administrator ? SecurityDeviceGrants(administratorToken, 3) : SecurityDeviceGrants(userToken, 2);
    const ACCESS_MASK kMaximumAllowed = 0x02000000;
    ACCESS_MASK named = MapGenericForFiles(desired) & ~kMaximumAllowed;
    *granted = (desired & kMaximumAllowed) != 0 ? allowed : named;
    return (named & ~allowed) == 0 && *granted != 0;
}

ACCESS_MASK SecurityDeviceGrants(const PSID* callerSids, ULONG count) {
    if (!gState.deviceHasDacl) {
        // The default descriptor of a device: everything for SYSTEM and the
        // administrators, read, write and execute for everyone else.
        if (CallerHolds(&gLocalSystem, callerSids, count) || CallerHolds(&gAdmins, callerSids, count)) {
            return FILE_ALL_ACCESS;
        }
        return MapGenericForFiles(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE);
    }
    if (gDeviceNullDacl) return FILE_ALL_ACCESS;
    const ACL* acl = (const ACL*)gDeviceDacl;
    ACCESS_MASK granted = 0;
    ACCESS_MASK denied = 0;
    ULONG at = sizeof(ACL);
    for (ULONG i = 0; i < acl->AceCount; ++i) {
        const ACCESS_ALLOWED_ACE* ace = (const ACCESS_ALLOWED_ACE*)(gDeviceDacl + at);
        at += ace->Header.AceSize;
        if (!CallerHolds((PSID)&ace->SidStart, callerSids, count)) continue;
        ACCESS_MASK mask = MapGenericForFiles(ace->Mask);
        if (ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE)
            granted |= mask & ~denied;
        else if (ace->Header.AceType == kAccessDeniedAceType)
            denied |= mask & ~granted;
    }
    return granted;
}

extern "C" {

NTSTATUS NTAPI RtlCreateSecurityDescriptor(PSECURITY_DESCRIPTOR SecurityDescriptor, ULONG Revision) {
    if (Revision != SECURITY_DESCRIPTOR_REVISION) return kStatusUnknownRevision;
    memset(SecurityDescriptor, 0, sizeof(SECURITY_DESCRIPTOR));
    ((PISECURITY_DESCRIPTOR)SecurityDescriptor)->Revision = SECURITY_DESCRIPTOR_REVISION;
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI RtlCreateAcl(PACL Acl, ULONG AclLength, ULONG AclRevision) {
    if (AclLength < sizeof(ACL)) return kStatusBufferTooSmall;
    if (AclRevision < 2 || AclRevision > 4 || AclLength > 0xFFFF) return STATUS_INVALID_PARAMETER;
    memset(Acl, 0, sizeof(ACL));
    Acl->AclRevision = (UCHAR)AclRevision;
    Acl->AclSize = (USHORT)(AclLength & ~3u);
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI RtlAddAccessAllowedAce(PACL Acl, ULONG AceRevision, ACCESS_MASK AccessMask, PSID Sid) {
    if (!SidValid(Sid)) return kStatusInvalidSid;
    ULONG used = 0;
    if (!AclValid(Acl, &used) || AceRevision < 2 || AceRevision > 4) return kStatusInvalidAcl;
    ULONG aceBytes = 8 + SidBytes(Sid);
    if (used + aceBytes > Acl->AclSize) return kStatusAllottedSpaceExceeded;
    ACCESS_ALLOWED_ACE* ace = (ACCESS_ALLOWED_ACE*)((UCHAR*)Acl + used);
    ace->Header.AceType = ACCESS_ALLOWED_ACE_TYPE;
    ace->Header.AceFlags = 0;
    ace->Header.AceSize = (USHORT)aceBytes;
    ace->Mask = AccessMask;
    memcpy(&ace->SidStart, Sid, SidBytes(Sid));
    ++Acl->AceCount;
    if (AceRevision > Acl->AclRevision) Acl->AclRevision = (UCHAR)AceRevision;
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI RtlSetDaclSecurityDescriptor(PSECURITY_DESCRIPTOR SecurityDescriptor, BOOLEAN DaclPresent,
                                            PACL Dacl, BOOLEAN DaclDefaulted) {
    PISECURITY_DESCRIPTOR sd = (PISECURITY_DESCRIPTOR)SecurityDescriptor;
    if (sd->Revision != SECURITY_DESCRIPTOR_REVISION) return kStatusUnknownRevision;
    if (sd->Control & SE_SELF_RELATIVE) return kStatusInvalidSecurityDescr;
    if (!DaclPresent) {
        sd->Control &= ~SE_DACL_PRESENT;
        return STATUS_SUCCESS;
    }
    sd->Control |= SE_DACL_PRESENT;
    sd->Dacl = Dacl;
    if (DaclDefaulted)
        sd->Control |= SE_DACL_DEFAULTED;
    else
        sd->Control &= ~SE_DACL_DEFAULTED;
    return STATUS_SUCCESS;
}

ULONG NTAPI RtlLengthSid(PSID Sid) { return SidBytes(Sid); }

NTSTATUS NTAPI ObOpenObjectByPointer(PVOID Object, ULONG HandleAttributes, PVOID, ACCESS_MASK DesiredAccess,
                                     POBJECT_TYPE ObjectType, KPROCESSOR_MODE, HANDLE* Handle) {
    IrqlRequireAtMost(PASSIVE_LEVEL);
    if (!IoIsDeviceObject(Object)) {
        ++gState.badCalls;
        return STATUS_INVALID_PARAMETER;
    }
    if (ObjectType != nullptr && ObjectType != IoDeviceObjectType) {
        ++gState.badCalls;
        return kStatusObjectTypeMismatch;
    }
    for (ULONG i = 0; i < kMaxHandles; ++i) {
        if (gHandles[i].alive) continue;
        gHandles[i] = {Object, MapGenericForFiles(DesiredAccess), true};
        ULONG value = 4 * (i + 1);
        if (HandleAttributes & OBJ_KERNEL_HANDLE) value |= 0x80000000u;
        *Handle = (HANDLE)(ULONG_PTR)value;
        ++gState.handlesOpen;
        return STATUS_SUCCESS;
    }
    return STATUS_INSUFFICIENT_RESOURCES;
}

NTSTATUS NTAPI ZwSetSecurityObject(HANDLE Handle, SECURITY_INFORMATION SecurityInformation,
                                   PSECURITY_DESCRIPTOR SecurityDescriptor) {
    IrqlRequireAtMost(PASSIVE_LEVEL);
    ObjectHandle* h = FindHandle(Handle);
    if (h == nullptr) {
        ++gState.refusedSets;
        ++gState.badCalls;
        return kStatusInvalidHandle;
    }
    if ((SecurityInformation & DACL_SECURITY_INFORMATION) == 0 || (h->granted & WRITE_DAC) == 0) {
        ++gState.refusedSets;
        ++gState.badCalls;
        return kStatusAccessDenied;
    }
    const SECURITY_DESCRIPTOR* sd = (const SECURITY_DESCRIPTOR*)SecurityDescriptor;
    if (sd == nullptr || sd->Revision != SECURITY_DESCRIPTOR_REVISION) {
        ++gState.refusedSets;
        ++gState.badCalls;
        return kStatusInvalidSecurityDescr;
    }
    const ACL* dacl =
        (sd->Control & SE_DACL_PRESENT) == 0 ? nullptr
        : (sd->Control & SE_SELF_RELATIVE) != 0
            ? (sd->Dacl != nullptr ? (const ACL*)((const UCHAR*)sd + (ULONG_PTR)sd->Dacl) : nullptr)
            : sd->Dacl;
    ULONG used = 0;
    if (dacl != nullptr && (!AclValid(dacl, &used) || dacl->AclSize > kMaxDaclBytes)) {
        ++gState.refusedSets;
        ++gState.badCalls;
        return kStatusInvalidAcl;
    }
    if ((sd->Control & SE_DACL_PRESENT) == 0) {
        ++gState.refusedSets;
        ++gState.badCalls;
        return kStatusInvalidSecurityDescr;
    }
    gDeviceNullDacl = dacl == nullptr;
    memset(gDeviceDacl, 0, sizeof gDeviceDacl);
    if (dacl != nullptr) memcpy(gDeviceDacl, dacl, dacl->AclSize);
    memset(&gDeviceDescriptor, 0, sizeof gDeviceDescriptor);
    gDeviceDescriptor.Revision = SECURITY_DESCRIPTOR_REVISION;
    gDeviceDescriptor.Control = SE_DACL_PRESENT;
    gDeviceDescriptor.Dacl = dacl != nullptr ? (PACL)gDeviceDacl : nullptr;
    IoSetDeviceSecurityDescriptor(&gDeviceDescriptor);
    gState.deviceHasDacl = true;
    gState.daclSet = true;
    gState.setWithoutLink = !IoState().linkAlive;
    gState.daclNull = gDeviceNullDacl;
    RecordEntries();
    ++gState.daclSets;
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI ZwClose(HANDLE Handle) {
    ObjectHandle* h = FindHandle(Handle);
    if (h == nullptr) {
        ++gState.badCloses;
        ++gState.badCalls;
        return kStatusInvalidHandle;
    }
    h->alive = false;
    --gState.handlesOpen;
    return STATUS_SUCCESS;
}

}  // extern "C"
