// Linux stand-in for <ntifs.h>: <ntddk.h> and the security routines that the
// Windows kit declares only here (ACL building, kernel handles to objects and
// setting an object's security).
#ifndef STANDIN_NTIFS_H
#define STANDIN_NTIFS_H

#include "ntddk.h"

STANDIN_EXTERN_C NTSTATUS NTAPI RtlCreateAcl(PACL Acl, ULONG AclLength, ULONG AclRevision);
STANDIN_EXTERN_C NTSTATUS NTAPI RtlAddAccessAllowedAce(PACL Acl, ULONG AceRevision, ACCESS_MASK AccessMask,
                                                       PSID Sid);
STANDIN_EXTERN_C NTSTATUS NTAPI ObOpenObjectByPointer(PVOID Object, ULONG HandleAttributes,
                                                      PACCESS_STATE PassedAccessState,
                                                      ACCESS_MASK DesiredAccess, POBJECT_TYPE ObjectType,
                                                      KPROCESSOR_MODE AccessMode, HANDLE* Handle);
STANDIN_EXTERN_C NTSTATUS NTAPI ZwSetSecurityObject(HANDLE Handle, SECURITY_INFORMATION SecurityInformation,
                                                    PSECURITY_DESCRIPTOR SecurityDescriptor);

#endif
