// The stand-in kernel as the stand-in Win32 layer sees it: loading and
// unloading driver images, and the I/O manager's create, close and
// device-control paths (METHOD_BUFFERED, as Windows does it).
#ifndef STANDIN_IO_MANAGER_H
#define STANDIN_IO_MANAGER_H

#include <string>
#include "standin/wintypes.h"

typedef LONG NTSTATUS;
typedef ULONG ACCESS_MASK;

namespace standin {

struct LoadedDriver;  // a driver image in memory with its driver object
struct OpenFile;      // a file object opened on a device

// Loads the image at linuxPath (a driver module built for the stand-in) and
// runs its DriverEntry. On success *driver is set and STATUS_SUCCESS returned;
// otherwise the image is released and DriverEntry's status (or an I/O status
// for an image that cannot be loaded) returned.
NTSTATUS LoadDriver(const std::string& linuxPath, const std::string& serviceName, LoadedDriver** driver);
// Runs the driver's unload routine, deletes what it left and frees the image.
void UnloadDriver(LoadedDriver* driver);

// Opens a device by its object-manager name, e.g. "\\??\\QuorVenal" or
// "\\Device\\QUORVENAL" (links followed, names matched without case), or a
// name below it ("\\??\\QuorVenal\\x": the file object's FileName is "\\x"),
// for desiredAccess, as the caller's token (CurrentCallerToken) may. As
// Windows' I/O manager does: the device itself is opened only after a full
// access check against its security (STATUS_ACCESS_DENIED before the driver
// sees anything); a name below it is checked only when the device has
// FILE_DEVICE_SECURE_OPEN (otherwise only for traverse, which every token of
// the stand-in holds). IRP_MJ_CREATE then carries a new file object and a
// security context whose DesiredAccess is what was asked (generic rights
// mapped, MAXIMUM_ALLOWED as its own bit) and whose AccessState's
// PreviouslyGrantedAccess is what the checks granted. Returns the create's
// status.
NTSTATUS OpenDevice(const std::wstring& objectName, ACCESS_MASK desiredAccess, OpenFile** file);
// A relative open: `name` (may be empty) below the device of `related`, as
// NtCreateFile with a handle to it as the root. The device's security is
// checked only when it has FILE_DEVICE_SECURE_OPEN; an exclusive device may
// be opened so once more.
NTSTATUS OpenRelative(OpenFile* related, const std::wstring& name, ACCESS_MASK desiredAccess,
                      OpenFile** file);
// What the handle of an open was granted (the checks' grant and what they
// did not check), as the object manager records it for the handle.
ACCESS_MASK HandleGrantedAccess(const OpenFile* file);
// The same for reading and writing (FILE_GENERIC_READ | FILE_GENERIC_WRITE).
NTSTATUS OpenDevice(const std::wstring& objectName, OpenFile** file);
// Sends IRP_MJ_CLOSE and releases the file object.
void CloseDevice(OpenFile* file);
// IRP_MJ_DEVICE_CONTROL with the caller's buffers; *returned gets the bytes
// copied back to outBuffer (0 on a failure status).
NTSTATUS DeviceControl(OpenFile* file, ULONG code, const void* inBuffer, ULONG inLength, void* outBuffer,
                       ULONG outLength, ULONG* returned);

// The Win32 error a user-mode caller sees for an NT status (RtlNtStatusToDosError).
DWORD NtStatusToWin32Error(NTSTATUS status);

}  // namespace standin

#endif
