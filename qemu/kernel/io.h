// The test kernel's I/O manager: one driver object, the device and link the
// driver creates in it, handles (file objects) opened on the device, and
// buffered device-control requests sent to the driver's dispatch routine the
// way the I/O manager sends them, on the handle opened last.
#ifndef QVBARE_IO_H
#define QVBARE_IO_H

#include <ntddk.h>

struct IoRecord {
    bool deviceAlive;
    ULONG deviceType;
    ULONG characteristics;
    ULONG extensionSize;
    bool exclusive;
    bool deviceNameOk;  // "\Device\QUORVENAL"
    bool linkAlive;
    bool linkNameOk;    // "\DosDevices\QUORVENAL" to the device name
    ULONG completions;  // IofCompleteRequest calls since the last request began
    ULONG boostsNotZero;
    ULONG mutexDepth;   // acquisitions of kernel mutexes not yet released
    ULONG badReleases;  // releases of a mutex that was not held
    ULONG deviceFlags;  // the device's flags when its first handle was opened
    bool anyHandleOpened;
};

const IoRecord& IoState();

// The driver object handed to DriverEntry; every major function starts with
// the platform's default, which refuses the request.
PDRIVER_OBJECT IoDriverObject();
void IoResetDriverObject();

struct ControlOutcome {
    NTSTATUS status;     // what the dispatch routine returned
    ULONG information;   // IoStatus.Information at completion
    bool wellCompleted;  // completed exactly once, with its status in IoStatus
};

// Sends one buffered device-control request on the program's handle: a
// system buffer of the larger of the two lengths receives the input, the
// dispatch routine runs, and on a success status `information` bytes are
// copied back into `record`.
ControlOutcome SendDeviceControl(ULONG code, void* record, ULONG inputLength, ULONG outputLength);
// The same on a file object of the caller's choice.
ControlOutcome SendDeviceControlOn(PFILE_OBJECT file, ULONG code, void* record, ULONG inputLength,
                                   ULONG outputLength);

// Opens `file` on the device as an (elevated) administrator or an ordinary
// user would: the device's security decides first (STATUS_ACCESS_DENIED
// without calling the driver), then IRP_MJ_CREATE carries, in its security
// context, what was asked (DesiredAccess, generic rights mapped) and what the
// check granted (AccessState->PreviouslyGrantedAccess), as the I/O manager
// passes them.
// CloseFileObject sends IRP_MJ_CLOSE for it.
ControlOutcome OpenFileObject(PFILE_OBJECT file, bool administrator, ACCESS_MASK desired);
ControlOutcome CloseFileObject(PFILE_OBJECT file);
// The program's handle, opened by an administrator for reading and writing
// (GENERIC_READ | GENERIC_WRITE); SendDeviceControl sends on it. Opened
// again after each DriverEntry.
ControlOutcome OpenProgramFile();
ControlOutcome CloseProgramFile();
// A create or close of a scratch handle (an administrator's, for reading and
// writing).
ControlOutcome SendCreateClose(UCHAR majorFunction);

// What the I/O manager does when DriverEntry has returned: the device is no
// longer initialising (opens are refused while it is).
void IoDriverEntryReturned();

// Whether `object` is the device the driver created (and still alive).
bool IoIsDeviceObject(PVOID object);
// Makes `descriptor` the device object's security descriptor.
void IoSetDeviceSecurityDescriptor(PVOID descriptor);

#endif
