// Security descriptors, the kernel's well-known identifiers and object
// handles, as far as a driver uses them to protect its device: the Rtl
// routines build an absolute descriptor with a DACL in the caller's memory,
// ObOpenObjectByPointer gives a kernel handle to the device object, and
// ZwSetSecurityObject through that handle replaces the device's DACL. The
// device's descriptor is kept by the test kernel so that the checks can read
// which identifiers may open the device, and with which access.
#ifndef QVBARE_SECURITY_H
#define QVBARE_SECURITY_H

#include <ntddk.h>

const ULONG kMaxRecordedEntries = 4;

enum SidKind { kOtherSid = 0, kSystemSid, kAdminsSid, kWorldSid, kUsersSid };

struct SecurityRecord {
    ULONG handlesOpen;    // object handles not closed yet
    ULONG badCloses;      // ZwClose of a handle that is not open
    ULONG daclSets;       // successful ZwSetSecurityObject calls
    ULONG refusedSets;    // ZwSetSecurityObject refused (handle, access, information)
    ULONG badCalls;       // refused sets, bad closes, opens of an unknown object or type
    bool deviceHasDacl;   // the device carries a DACL set through a handle
    bool daclSet;         // the same, under the name the checks use
    bool setWithoutLink;  // ... set while the device had no link yet
    bool daclNull;        // the descriptor carried no DACL: everyone has all access
    ULONG entryCount;     // the DACL's entries, the first kMaxRecordedEntries of them kept
    ULONG entryTypes[kMaxRecordedEntries];
    ACCESS_MASK entryMasks[kMaxRecordedEntries];  // generic rights mapped to file rights
    SidKind entrySids[kMaxRecordedEntries];
};

const SecurityRecord& SecurityState();

// Forgets the device's descriptor (a new device has the default one).
void SecurityResetDevice();

// The access the device's DACL grants to a caller whose token holds the
// identifiers given (ACCESS_ALLOWED entries summed, generic rights mapped
// for files). A device without a DACL set grants everything asked.
ACCESS_MASK SecurityDeviceGrants(const PSID* callerSids, ULONG count);

// Whether the device's security lets a caller open it for `desired`. An
// administrator's token holds Administrators, Users and Everyone; an ordinary
// user's Users and Everyone. `granted` gets the access, generic rights mapped;
// MAXIMUM_ALLOWED asks for everything the DACL allows the caller.
bool SecurityGrants(bool administrator, ACCESS_MASK desired, ACCESS_MASK* granted);

// Generic rights mapped to the file rights they stand for; other bits kept.
ACCESS_MASK MapGenericForFiles(ACCESS_MASK mask);

// The well-known identifiers a caller's token may hold.
PSID SecurityLocalSystemSid();
PSID SecurityAdminsSid();
PSID SecurityWorldSid();
PSID SecurityUsersSid();

typedef PVOID POBJECT_TYPE;

extern "C" {
NTSTATUS NTAPI RtlCreateSecurityDescriptor(PSECURITY_DESCRIPTOR SecurityDescriptor, ULONG Revision);
NTSTATUS NTAPI RtlCreateAcl(PACL Acl, ULONG AclLength, ULONG AclRevision);
NTSTATUS NTAPI RtlAddAccessAllowedAce(PACL Acl, ULONG AceRevision, ACCESS_MASK AccessMask, PSID Sid);
NTSTATUS NTAPI RtlSetDaclSecurityDescriptor(PSECURITY_DESCRIPTOR SecurityDescriptor, BOOLEAN DaclPresent,
                                            PACL Dacl, BOOLEAN DaclDefaulted);
ULONG NTAPI RtlLengthSid(PSID Sid);
NTSTATUS NTAPI ObOpenObjectByPointer(PVOID Object, ULONG HandleAttributes, PVOID PassedAccessState,
                                     ACCESS_MASK DesiredAccess, POBJECT_TYPE ObjectType,
                                     KPROCESSOR_MODE AccessMode, HANDLE* Handle);
NTSTATUS NTAPI ZwSetSecurityObject(HANDLE Handle, SECURITY_INFORMATION SecurityInformation,
                                   PSECURITY_DESCRIPTOR SecurityDescriptor);
NTSTATUS NTAPI ZwClose(HANDLE Handle);
extern PSE_EXPORTS SeExports;
extern POBJECT_TYPE IoDeviceObjectType;
}

#endif
