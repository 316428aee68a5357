// Driver entry, request dispatch and unload of QUORVENAL.sys.
#ifndef QUORVENAL_DRIVER_H
#define QUORVENAL_DRIVER_H

// DriverEntry runs once per load: it lives in the INIT section, which the
// system releases when it returns.
extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath)
    __attribute__((section("INIT")));
NTSTATUS NTAPI DispatchCreateClose(PDEVICE_OBJECT deviceObject, PIRP irp);
NTSTATUS NTAPI DispatchDeviceControl(PDEVICE_OBJECT deviceObject, PIRP irp);
VOID NTAPI UnloadDriver(PDRIVER_OBJECT driverObject);

#endif
