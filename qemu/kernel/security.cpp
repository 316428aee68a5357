#include "security.h"

#include "io.h"
#include "irql.h"
#include "kernel_rules/security_rules.h"

namespace {

const ULONG kMaxHandles = 8;
const ULONG kMaxDaclBytes = 512;
const NTSTATUS kStatusInvalidHandle = (NTSTATUS)0xC0000008L;
const NTSTATUS kStatusAccessDenied = (NTSTATUS)0xC0000022L;
const NTSTATUS kStatusInvalidAcl = (NTSTATUS)0xC0000077L;
const NTSTATUS kStatusInvalidSecurityDescr = (NTSTATUS)0xC0000079L;
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

bool SameSid(PSID a, PSID b) {
    const size_t length = kernel_rules::SidLength(a);
    return length == kernel_rules::SidLength(b) && memcmp(a, b, length) == 0;
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

ACCESS_MASK MapGenericForFiles(ACCESS_MASK mask) { return kernel_rules::MapGenericForFiles(mask); }

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

NTSTATUS NTAPI ObOpenObjectByPointer(PVOID Object, ULONG HandleAttributes, PVOID, ACCESS_MASK DesiredAccess,
                                     POBJECT_TYPE ObjectType, KPROCESSOR_MODE, HANDLE* Handle) {
    if (!kernel_rules::EnterRoutine(kernel_rules::Routine::ObOpenObjectByPointer))
        return STATUS_INSUFFICIENT_RESOURCES;
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
    kernel_rules::EnterRoutine(kernel_rules::Routine::ZwSetSecurityObject);
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
    size_t used = 0;
    if (dacl != nullptr && (!kernel_rules::AclEntriesEnd(dacl, &used) || dacl->AclSize > kMaxDaclBytes)) {
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
