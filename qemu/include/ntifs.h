// <ntifs.h> of the bare-metal test kernel: <ntddk.h> and the security
// routines the Windows kit declares only here. The test kernel implements
// them (qemu/kernel/security.cpp).
#ifndef QVBARE_NTIFS_H
#define QVBARE_NTIFS_H

#include "ntddk.h"

extern "C" {
NTSTATUS NTAPI RtlCreateAcl(PACL Acl, ULONG AclLength, ULONG AclRevision);
NTSTATUS NTAPI RtlAddAccessAllowedAce(PACL Acl, ULONG AceRevision, ACCESS_MASK AccessMask,
                                      PSID Sid);
NTSTATUS NTAPI ObOpenObjectByPointer(PVOID Object, ULONG HandleAttributes,
                                     PACCESS_STATE PassedAccessState, ACCESS_MASK DesiredAccess,
                                     POBJECT_TYPE ObjectType, KPROCESSOR_MODE AccessMode,
                                     PHANDLE Handle);
NTSTATUS NTAPI ZwSetSecurityObject(HANDLE Handle, SECURITY_INFORMATION SecurityInformation,
                                   PSECURITY_DESCRIPTOR SecurityDescriptor);
}

#endif
