// The device's security descriptor, built with the kernel's own security
// routines (no library beyond the kernel's exports), and the per-handle write
// right kept in each file object.
#include <ntifs.h>

#include "device_security.h"

namespace {

// The ACL header and two access-allowed entries holding the SIDs of SYSTEM
// (12 bytes) and Administrators (16 bytes) take 52 bytes; the buffer leaves
// room, and the ACL routines refuse to run past it.
const ULONG kAclBufferBytes = 128;

// The two well-known SIDs in their Windows layout: S-1-5-18, the local
// system account, and S-1-5-32-544, the Administrators alias. They are
// constants of Windows; building them here spares the driver the kernel's
// SeExports table, a data import that not every kernel serves (Wine's is a
// stub, and reading through it kills the driver host).
struct WellKnownSid {
    UCHAR Revision;
    UCHAR SubAuthorityCount;
    UCHAR IdentifierAuthority[6];
    ULONG SubAuthority[2];
};
const WellKnownSid kLocalSystemSid = {1, 1, {0, 0, 0, 0, 0, 5}, {18, 0}};
const WellKnownSid kAdministratorsSid = {1, 2, {0, 0, 0, 0, 0, 5}, {32, 544}};

// What a file object's FsContext2 holds when its handle may write. The
// driver owns FsContext2 of the file objects opened on its own device.
const UCHAR kWriteGranted = 1;

PVOID WriteGrantedMark() { return (PVOID)&kWriteGranted; }

}  // namespace

NTSTATUS RestrictDeviceToAdministrators(PDEVICE_OBJECT deviceObject) {
    ULONG aclBuffer[kAclBufferBytes / sizeof(ULONG)];
    PACL acl = (PACL)aclBuffer;
    SECURITY_DESCRIPTOR descriptor;

    NTSTATUS status = RtlCreateSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    status = RtlCreateAcl(acl, sizeof aclBuffer, ACL_REVISION);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    status = RtlAddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, (PSID)&kLocalSystemSid);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    status = RtlAddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, (PSID)&kAdministratorsSid);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    status = RtlSetDaclSecurityDescriptor(&descriptor, TRUE, acl, FALSE);
    if (!NT_SUCCESS(status)) {
        return status;
    }

    HANDLE handle = NULL;
    status =
        ObOpenObjectByPointer(deviceObject, OBJ_KERNEL_HANDLE, NULL, WRITE_DAC, NULL, KernelMode, &handle);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    status = ZwSetSecurityObject(handle, DACL_SECURITY_INFORMATION, &descriptor);
    ZwClose(handle);
    return status;
}

VOID RecordHandleAccess(PIO_STACK_LOCATION createStack) {
    PFILE_OBJECT file = createStack->FileObject;
    if (file == NULL) {
        return;
    }
    // The write right is what the I/O manager's access check granted
    // (AccessState->PreviouslyGrantedAccess), not what the caller asked for
    // (DesiredAccess, taken before the check): a handle opened with
    // MAXIMUM_ALLOWED asks for no right by name and is granted write.
    //
    // Windows' I/O manager passes the security context with every create.
    // A create without one says nothing about what was granted, so it is
    // granted nothing: such a handle reads and never writes. The same holds
    // for a context without its access state.
    PIO_SECURITY_CONTEXT context = createStack->Parameters.Create.SecurityContext;
    BOOLEAN write = context != NULL && context->AccessState != NULL &&
                    (context->AccessState->PreviouslyGrantedAccess & FILE_WRITE_DATA) != 0;
    file->FsContext2 = write ? WriteGrantedMark() : NULL;
}

BOOLEAN HandleMayWrite(PIO_STACK_LOCATION stack) {
    PFILE_OBJECT file = stack->FileObject;
    return file != NULL && file->FsContext2 == WriteGrantedMark();
}
