// A driver module that does one thing wrong, chosen by the service name it is
// loaded under (the last part of its registry path), for the tests of what the
// stand-in kernel refuses to clean up after a driver:
//   KEEPDEVICE  the unload routine deletes the link but not the device
//   KEEPLINK    the unload routine deletes the device but not the link
//   FAILDEVICE  DriverEntry fails after creating its device, leaving it
//   FAILLINK    DriverEntry fails after deleting its device, leaving the link
//   KEEPMAP     the device-control routine maps I/O space and never unmaps it
//   OVERRUN     the device-control routine reads one byte past the system buffer
//   KEEPMUTEX   the device-control routine returns holding a kernel mutex
//   FREEMUTEX   the device-control routine releases a mutex it does not hold
//   WAITNEXT    the device-control routine releases with Wait TRUE and never waits
//   LATESTATUS  the device-control routine sets its status after completing
//   TIDY        nothing wrong: the control case
// Every device is "\Device\<service>" with the link "\DosDevices\<service>".
#include <ntddk.h>

#include <cwchar>

namespace {

WCHAR ServiceName[32];
WCHAR DeviceName[64];
WCHAR LinkName[64];
KMUTEX Mutex;

bool Is(const WCHAR* name) { return std::wcscmp(ServiceName, name) == 0; }

NTSTATUS NTAPI Complete(PDEVICE_OBJECT, PIRP irp) {
    irp->IoStatus.Status = STATUS_SUCCESS;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI Control(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ULONG length = stack->Parameters.DeviceIoControl.InputBufferLength;
    if (Is(L"KEEPMAP")) {
        PHYSICAL_ADDRESS address;
        address.QuadPart = 0xE0000000;
        MmMapIoSpace(address, 2, MmNonCached);
    }
    if (Is(L"KEEPMUTEX")) KeWaitForSingleObject(&Mutex, Executive, KernelMode, FALSE, NULL);
    if (Is(L"FREEMUTEX")) KeReleaseMutex(&Mutex, FALSE);
    if (Is(L"WAITNEXT")) {
        KeWaitForSingleObject(&Mutex, Executive, KernelMode, FALSE, NULL);
        KeReleaseMutex(&Mutex, TRUE);
    }
    if (Is(L"LATESTATUS")) {
        irp->IoStatus.Status = STATUS_PENDING;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        irp->IoStatus.Status = STATUS_SUCCESS;
        return STATUS_SUCCESS;
    }
    if (Is(L"OVERRUN") && length != 0) {
        volatile UCHAR* bytes = (volatile UCHAR*)irp->AssociatedIrp.SystemBuffer;
        irp->IoStatus.Information = bytes[length];
    }
    return Complete(device, irp);
}

VOID NTAPI Unload(PDRIVER_OBJECT driver) {
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, LinkName);
    if (!Is(L"KEEPLINK")) IoDeleteSymbolicLink(&link);
    if (!Is(L"KEEPDEVICE") && driver->DeviceObject != NULL) IoDeleteDevice(driver->DeviceObject);
}

}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    const WCHAR* path = registryPath->Buffer;
    size_t length = registryPath->Length / sizeof(WCHAR);
    size_t start = length;
    while (start > 0 && path[start - 1] != L'\\') --start;
    size_t count = length - start < 31 ? length - start : 31;
    std::wmemcpy(ServiceName, path + start, count);
    ServiceName[count] = 0;
    std::swprintf(DeviceName, 64, L"\\Device\\%ls", ServiceName);
    std::swprintf(LinkName, 64, L"\\DosDevices\\%ls", ServiceName);

    KeInitializeMutex(&Mutex, 0);
    UNICODE_STRING deviceName;
    RtlInitUnicodeString(&deviceName, DeviceName);
    PDEVICE_OBJECT device = NULL;
    NTSTATUS status = IoCreateDevice(driver, 0, &deviceName, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
    if (!NT_SUCCESS(status)) return status;
    if (Is(L"FAILDEVICE")) return STATUS_UNSUCCESSFUL;
    driver->MajorFunction[IRP_MJ_CREATE] = Complete;
    driver->MajorFunction[IRP_MJ_CLOSE] = Complete;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = Control;
    driver->DriverUnload = Unload;
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, LinkName);
    status = IoCreateSymbolicLink(&link, &deviceName);
    if (Is(L"FAILLINK")) {
        IoDeleteDevice(device);
        return STATUS_UNSUCCESSFUL;
    }
    if (!NT_SUCCESS(status)) IoDeleteDevice(device);
    return status;
}
