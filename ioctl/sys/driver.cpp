// Driver entry, request dispatch and unload of QUORVENAL.sys: one named
// device, open to SYSTEM and Administrators alone, with a link; open and close
// always served (an open records whether its handle may write); six buffered
// control requests checked against the record sizes, the two write codes
// against the handle's write right, and served through the configuration
// access method each code names (config_access.h).
#include <ntifs.h>

#include "config_access.h"
#include "device_security.h"
#include "driver.h"

namespace {

const WCHAR kDeviceName[] = QUORVENAL_DEVICE_NAME;
const WCHAR kLinkName[] = QUORVENAL_LINK_NAME;

NTSTATUS CompleteRequest(PIRP irp, NTSTATUS status) {
    irp->IoStatus.Status = status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

bool LengthsAreValid(ULONG inputLength, ULONG outputLength) {
    if (inputLength == 0) {
        return false;
    }
    if (outputLength == 0) {
        return false;
    }
    if (inputLength != outputLength) {
        return false;
    }
    return inputLength == kConfigRequestBytes || inputLength == kExtConfigRequestBytes;
}

// Serves one byte-range read; offset, length and bytes are the fields of
// whichever range layout the code names.
NTSTATUS ServeRangeRead(PIRP irp, ConfigRequest* record, ULONG offset, ULONG length, UCHAR* bytes) {
    if (length > 4) {
        irp->IoStatus.Information = 4;
        return STATUS_INVALID_PARAMETER;
    }
    ConfigLockAcquire();
    record->Result = kHalBusData.Read(record->Bus, record->Device, record->Function, offset, length, bytes);
    ConfigLockRelease();
    return STATUS_SUCCESS;
}

}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath) {
    (void)registryPath;
    UNICODE_STRING deviceName;
    RtlInitUnicodeString(&deviceName, kDeviceName);

    PDEVICE_OBJECT deviceObject = NULL;
    NTSTATUS status = IoCreateDevice(driverObject, 0, &deviceName, FILE_DEVICE_UNKNOWN,
                                     FILE_DEVICE_SECURE_OPEN, FALSE, &deviceObject);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    // Before the link exists; opens by the device name are refused until
    // DriverEntry returns.
    status = RestrictDeviceToAdministrators(deviceObject);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(deviceObject);
        return status;
    }

    ConfigLockInitialize();
    HeaderWriteInitialize();
    driverObject->MajorFunction[IRP_MJ_CREATE] = DispatchCreateClose;
    driverObject->MajorFunction[IRP_MJ_CLOSE] = DispatchCreateClose;
    driverObject->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchDeviceControl;
    driverObject->DriverUnload = UnloadDriver;

    UNICODE_STRING linkName;
    RtlInitUnicodeString(&linkName, kLinkName);
    status = IoCreateSymbolicLink(&linkName, &deviceName);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(deviceObject);
        return status;
    }
    return status;
}

NTSTATUS NTAPI DispatchCreateClose(PDEVICE_OBJECT deviceObject, PIRP irp) {
    (void)deviceObject;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (stack->MajorFunction == IRP_MJ_CREATE) {
        RecordHandleAccess(stack);
    }
    irp->IoStatus.Information = 0;
    return CompleteRequest(irp, STATUS_SUCCESS);
}

NTSTATUS NTAPI DispatchDeviceControl(PDEVICE_OBJECT deviceObject, PIRP irp) {
    (void)deviceObject;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ULONG outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    ULONG inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;

    if (!LengthsAreValid(inputLength, outputLength)) {
        return CompleteRequest(irp, STATUS_INVALID_PARAMETER);
    }

    ConfigRequest* record = (ConfigRequest*)irp->AssociatedIrp.SystemBuffer;
    NTSTATUS status = STATUS_SUCCESS;
    switch (code) {
        case IOCTL_READ_CONFIG:
            ConfigLockAcquire();
            record->Result = kHalBusData.Read(record->Bus, record->Device, record->Function, 0,
                                              kConfigHeaderBytes, record->Data);
            if (record->Result != kResultNoBus && record->Result != kResultNoFunction) {
                DiscoverEcamBase(record);
            }
            ConfigLockRelease();
            break;
        case IOCTL_WRITE_CONFIG:
            if (!HandleMayWrite(stack)) {
                return CompleteRequest(irp, STATUS_ACCESS_DENIED);
            }
            ConfigLockAcquire();
            record->Result = kPortPair.Write(record->Bus, record->Device, record->Function, 0,
                                             kConfigHeaderBytes, record->Data);
            DiscoverEcamBase(record);
            ConfigLockRelease();
            break;
        case IOCTL_READ_CONFIG_RANGE: {
            ConfigRangeRequest* range = (ConfigRangeRequest*)record;
            status = ServeRangeRead(irp, record, range->Offset, range->Length, range->Bytes);
            break;
        }
        case IOCTL_READ_CONFIG_RANGE2: {
            ConfigRangeRequest2* range = (ConfigRangeRequest2*)record;
            status = ServeRangeRead(irp, record, range->Offset, range->Length, range->Bytes);
            break;
        }
        case IOCTL_READ_EXT_CONFIG:
        case IOCTL_WRITE_EXT_CONFIG: {
            if (code == IOCTL_WRITE_EXT_CONFIG && !HandleMayWrite(stack)) {
                return CompleteRequest(irp, STATUS_ACCESS_DENIED);
            }
            // The extended operations move a whole 3856-byte record; on the
            // smaller buffer they would run past its end.
            if (inputLength != kExtConfigRequestBytes) {
                return CompleteRequest(irp, STATUS_INVALID_PARAMETER);
            }
            ExtConfigRequest* ext = (ExtConfigRequest*)record;
            ConfigLockAcquire();
            ULONG result = code == IOCTL_READ_EXT_CONFIG
                               ? kMappedWindow.Read(ext->Bus, ext->Device, ext->Function, kConfigHeaderBytes,
                                                    kExtConfigBytes, ext->ExtData)
                               : kMappedWindow.Write(ext->Bus, ext->Device, ext->Function, kConfigHeaderBytes,
                                                     kExtConfigBytes, ext->ExtData);
            ConfigLockRelease();
            ext->Result = result;
            break;
        }
        default: return CompleteRequest(irp, STATUS_INVALID_DEVICE_REQUEST);
    }

    if (NT_SUCCESS(status)) {
        irp->IoStatus.Information = inputLength;
    }
    return CompleteRequest(irp, status);
}

VOID NTAPI UnloadDriver(PDRIVER_OBJECT driverObject) {
    PDEVICE_OBJECT deviceObject = driverObject->DeviceObject;
    UNICODE_STRING linkName;
    RtlInitUnicodeString(&linkName, kLinkName);
    IoDeleteSymbolicLink(&linkName);
    if (deviceObject != NULL) {
        IoDeleteDevice(deviceObject);
    }
    ForgetEcamBase();
}
