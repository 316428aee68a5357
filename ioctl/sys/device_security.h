// Who may open the driver's device, and what a handle may do with it.
//
// Windows kernel code: include <ntifs.h> (or <ntddk.h>) before this header.
#ifndef QUORVENAL_DEVICE_SECURITY_H
#define QUORVENAL_DEVICE_SECURITY_H

// Gives the device a DACL that grants all access to SYSTEM and to
// Administrators and nothing to anyone else. Runs in DriverEntry before the
// link exists; a failure status means the device keeps the default security
// and must not be offered.
NTSTATUS RestrictDeviceToAdministrators(PDEVICE_OBJECT deviceObject);

// At IRP_MJ_CREATE: records in the new file object whether its open was
// granted writing (FILE_WRITE_DATA in what the I/O manager's access check
// granted). The right belongs to the open: every handle to the file object,
// a duplicate with fewer rights too, shares it.
VOID RecordHandleAccess(PIO_STACK_LOCATION createStack);

// Whether the request's file object was opened for writing.
BOOLEAN HandleMayWrite(PIO_STACK_LOCATION stack);

#endif
