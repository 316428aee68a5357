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
    ULONG deviceFlags;  // the device's flags when the first handle was opened
};

const IoRecord& IoState();

// The driver object handed to DriverEntry; every major function starts with
// the platform's default, which refuses the request.
PDRIVER_OBJECT IoDriverObject();
void IoResetDriverObject();

struct ControlOutcome {
    NTSTATUS status;      // what the dispatch routine returned
    ULONG information;    // IoStatus.Information at completion
    bool wellCompleted;   // completed exactly once, with its status in IoStatus
};

// Sends one buffered device-control request: a system buffer of the larger of
// the two lengths receives the input, the dispatch routine runs, and on a
// success status `information` bytes are copied back into `record`.
ControlOutcome SendDeviceControl(ULONG code, void* record, ULONG inputLength,
                                 ULONG outputLength);

// Opens a handle: a new file object, and a create request carrying the
// access asked for (already mapped from generic rights, as the I/O manager
// passes it). On success it becomes the handle later requests are sent on.
ControlOutcome SendCreate(ACCESS_MASK desiredAccess);
// The same, for a caller whose token holds `sids`: the I/O manager first
// checks the device's descriptor and refuses (STATUS_ACCESS_DENIED, the
// driver never sees the request) when it does not grant all of the access.
ControlOutcome SendCreateAs(ACCESS_MASK desiredAccess, const PSID* sids, ULONG count);
// Closes the handle opened last: a close request on its file object.
ControlOutcome SendClose();

// Whether `object` is the device the driver created (and still alive).
bool IoIsDeviceObject(PVOID object);
// Makes `descriptor` the device object's security descriptor.
void IoSetDeviceSecurityDescriptor(PVOID descriptor);

// The access a program asks for with GENERIC_READ | GENERIC_WRITE.
const ACCESS_MASK kProgramAccess = 0x0012019F;

#endif
