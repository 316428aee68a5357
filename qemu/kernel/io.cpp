// Device and link creation, request completion, kernel mutexes and buffered
// device-control requests for the test kernel.
#include "io.h"

#include "driver_image.h"
#include "irql.h"
#include "security.h"

namespace {

const ULONG kSystemBufferBytes = 4096;

IoRecord gState;
DRIVER_OBJECT gDriverObject;
DEVICE_OBJECT gDeviceObject;
UCHAR gSystemBuffer[kSystemBufferBytes] __attribute__((aligned(16)));
FILE_OBJECT gProgramFile;
FILE_OBJECT gScratchFile;

bool SameName(PCUNICODE_STRING name, const WCHAR* expected) {
    if (name == nullptr || name->Buffer == nullptr) return false;
    ULONG count = name->Length / sizeof(WCHAR);
    for (ULONG i = 0; i < count; ++i) {
        if (expected[i] == 0 || name->Buffer[i] != expected[i]) return false;
    }
    return expected[count] == 0;
}

NTSTATUS NTAPI RefuseRequest(PDEVICE_OBJECT, PIRP irp) {
    irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
    irp->IoStatus.Information = 0;
    IofCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_INVALID_DEVICE_REQUEST;
}

ControlOutcome Send(PFILE_OBJECT file, UCHAR major, ULONG code, ULONG inputLength, ULONG outputLength,
                    PIO_SECURITY_CONTEXT security) {
    IO_STACK_LOCATION stack;
    IRP irp;
    memset(&stack, 0, sizeof stack);
    memset(&irp, 0, sizeof irp);
    stack.MajorFunction = major;
    stack.DeviceObject = &gDeviceObject;
    stack.FileObject = file;
    if (major == IRP_MJ_CREATE) {
        stack.Parameters.Create.SecurityContext = security;
    } else if (major == IRP_MJ_DEVICE_CONTROL) {
        stack.Parameters.DeviceIoControl.OutputBufferLength = outputLength;
        stack.Parameters.DeviceIoControl.InputBufferLength = inputLength;
        stack.Parameters.DeviceIoControl.IoControlCode = code;
        irp.AssociatedIrp.SystemBuffer = gSystemBuffer;
    }
    irp.Type = 6;
    irp.Size = sizeof irp;
    irp.IoStatus.Status = (NTSTATUS)0x12345678;  // never a status the driver sets
    irp.IoStatus.Information = 0xDEADBEEF;
    irp.RequestorMode = UserMode;
    irp.StackCount = 1;
    irp.CurrentLocation = 1;
    irp.Tail.Overlay.CurrentStackLocation = &stack;
    irp.Tail.Overlay.OriginalFileObject = file;

    gState.completions = 0;
    ControlOutcome outcome;
    outcome.status = CallDispatch(gDriverObject.MajorFunction[major], &gDeviceObject, &irp);
    outcome.information = (ULONG)irp.IoStatus.Information;
    outcome.wellCompleted = gState.completions == 1 && irp.IoStatus.Status == outcome.status;
    return outcome;
}

}  // namespace

const IoRecord& IoState() { return gState; }

PDRIVER_OBJECT IoDriverObject() { return &gDriverObject; }

void IoResetDriverObject() {
    memset(&gDriverObject, 0, sizeof gDriverObject);
    gDriverObject.Type = 4;
    gDriverObject.Size = sizeof gDriverObject;
    for (ULONG i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; ++i) gDriverObject.MajorFunction[i] = RefuseRequest;
}

ControlOutcome SendDeviceControl(ULONG code, void* record, ULONG inputLength, ULONG outputLength) {
    return SendDeviceControlOn(&gProgramFile, code, record, inputLength, outputLength);
}

ControlOutcome SendDeviceControlOn(PFILE_OBJECT file, ULONG code, void* record, ULONG inputLength,
                                   ULONG outputLength) {
    ULONG larger = inputLength > outputLength ? inputLength : outputLength;
    if (larger > kSystemBufferBytes) larger = kSystemBufferBytes;
    // What the caller did not send is left over from the last request, as
    // in a pool buffer that was not cleared.
    ULONG in = inputLength < larger ? inputLength : larger;
    memcpy(gSystemBuffer, record, in);
    ControlOutcome outcome = Send(file, IRP_MJ_DEVICE_CONTROL, code, inputLength, outputLength, nullptr);
    if (NT_SUCCESS(outcome.status)) {
        ULONG back = outcome.information;
        if (back > outputLength) back = outputLength;
        if (back > kSystemBufferBytes) back = kSystemBufferBytes;
        memcpy(record, gSystemBuffer, back);
    }
    return outcome;
}

void IoDriverEntryReturned() {
    if (gState.deviceAlive) gDeviceObject.Flags &= ~DO_DEVICE_INITIALIZING;
}

ControlOutcome OpenFileObject(PFILE_OBJECT file, bool administrator, ACCESS_MASK desired) {
    if (!gState.deviceAlive || (gDeviceObject.Flags & DO_DEVICE_INITIALIZING) != 0) {
        ControlOutcome noDevice = {(NTSTATUS)0xC000000EL, 0, true};  // STATUS_NO_SUCH_DEVICE
        return noDevice;
    }
    ControlOutcome refused = {STATUS_ACCESS_DENIED, 0, true};
    ACCESS_MASK granted = 0;
    if (!SecurityGrants(administrator, desired, &granted)) return refused;  // the driver sees nothing
    if (!gState.anyHandleOpened) gState.deviceFlags = gDeviceObject.Flags;
    gState.anyHandleOpened = true;
    memset(file, 0, sizeof *file);
    file->Type = 5;
    file->Size = sizeof *file;
    file->DeviceObject = &gDeviceObject;
    // As IopParseDevice hands them over: DesiredAccess is what was asked
    // (generic rights mapped, MAXIMUM_ALLOWED its own bit), the access state
    // says what the check granted.
    static ACCESS_STATE state;
    memset(&state, 0, sizeof state);
    state.OriginalDesiredAccess = MapGenericForFiles(desired);
    state.PreviouslyGrantedAccess = granted;
    state.RemainingDesiredAccess = state.OriginalDesiredAccess & ~(granted | 0x02000000);
    IO_SECURITY_CONTEXT security;
    memset(&security, 0, sizeof security);
    security.AccessState = &state;
    security.DesiredAccess = state.OriginalDesiredAccess;
    return Send(file, IRP_MJ_CREATE, 0, 0, 0, &security);
}

ControlOutcome CloseFileObject(PFILE_OBJECT file) { return Send(file, IRP_MJ_CLOSE, 0, 0, 0, nullptr); }

ControlOutcome OpenProgramFile() { return OpenFileObject(&gProgramFile, true, GENERIC_READ | GENERIC_WRITE); }

ControlOutcome CloseProgramFile() { return CloseFileObject(&gProgramFile); }

ControlOutcome SendCreateClose(UCHAR majorFunction) {
    if (majorFunction == IRP_MJ_CREATE) {
        return OpenFileObject(&gScratchFile, true, GENERIC_READ | GENERIC_WRITE);
    }
    return CloseFileObject(&gScratchFile);
}

bool IoIsDeviceObject(PVOID object) { return object == &gDeviceObject && gState.deviceAlive; }

void IoSetDeviceSecurityDescriptor(PVOID descriptor) { gDeviceObject.SecurityDescriptor = descriptor; }

extern "C" {

VOID NTAPI RtlInitUnicodeString(PUNICODE_STRING DestinationString, PCWSTR SourceString) {
    USHORT length = 0;
    if (SourceString != nullptr) {
        while (SourceString[length / sizeof(WCHAR)] != 0) length += sizeof(WCHAR);
    }
    DestinationString->Length = length;
    DestinationString->MaximumLength = SourceString != nullptr ? length + sizeof(WCHAR) : 0;
    DestinationString->Buffer = (PWSTR)SourceString;
}

NTSTATUS NTAPI IoCreateDevice(PDRIVER_OBJECT DriverObject, ULONG DeviceExtensionSize,
                              PUNICODE_STRING DeviceName, ULONG DeviceType, ULONG DeviceCharacteristics,
                              BOOLEAN Exclusive, PDEVICE_OBJECT* DeviceObject) {
    if (!kernel_rules::EnterRoutine(kernel_rules::Routine::IoCreateDevice))
        return STATUS_INSUFFICIENT_RESOURCES;
    if (gState.deviceAlive) return STATUS_OBJECT_NAME_COLLISION;
    SecurityResetDevice();
    memset(&gDeviceObject, 0, sizeof gDeviceObject);
    gDeviceObject.Type = 3;
    gDeviceObject.Size = sizeof gDeviceObject;
    gDeviceObject.DriverObject = DriverObject;
    gDeviceObject.DeviceType = DeviceType;
    gDeviceObject.Characteristics = DeviceCharacteristics;
    gDeviceObject.StackSize = 1;
    gDeviceObject.ReferenceCount = 0;
    gDeviceObject.SectorSize = 0;
    gDeviceObject.Flags = DO_DEVICE_INITIALIZING | (Exclusive ? DO_EXCLUSIVE : 0);
    gDeviceObject.DeviceExtension = nullptr;
    DriverObject->DeviceObject = &gDeviceObject;
    gState.deviceAlive = true;
    gState.anyHandleOpened = false;
    gState.deviceType = DeviceType;
    gState.characteristics = DeviceCharacteristics;
    gState.extensionSize = DeviceExtensionSize;
    gState.exclusive = Exclusive != 0;
    gState.deviceNameOk = SameName(DeviceName, L"\\Device\\QUORVENAL");
    *DeviceObject = &gDeviceObject;
    return STATUS_SUCCESS;
}

VOID NTAPI IoDeleteDevice(PDEVICE_OBJECT DeviceObject) {
    if (DeviceObject == &gDeviceObject && gState.deviceAlive) {
        gState.deviceAlive = false;
        if (gDeviceObject.DriverObject != nullptr) gDeviceObject.DriverObject->DeviceObject = nullptr;
    }
}

NTSTATUS NTAPI IoCreateSymbolicLink(PUNICODE_STRING SymbolicLinkName, PUNICODE_STRING DeviceName) {
    if (gState.linkAlive) return STATUS_OBJECT_NAME_COLLISION;
    gState.linkAlive = true;
    gState.linkNameOk = SameName(SymbolicLinkName, L"\\DosDevices\\QUORVENAL") &&
                        SameName(DeviceName, L"\\Device\\QUORVENAL");
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI IoDeleteSymbolicLink(PUNICODE_STRING SymbolicLinkName) {
    if (!gState.linkAlive || !SameName(SymbolicLinkName, L"\\DosDevices\\QUORVENAL")) {
        return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    gState.linkAlive = false;
    return STATUS_SUCCESS;
}

VOID FASTCALL IofCompleteRequest(PIRP, CHAR PriorityBoost) {
    kernel_rules::EnterRoutine(kernel_rules::Routine::IofCompleteRequest);
    ++gState.completions;
    if (PriorityBoost != IO_NO_INCREMENT) ++gState.boostsNotZero;
}

VOID NTAPI KeInitializeMutex(PKMUTEX Mutex, ULONG) {
    memset(Mutex, 0, sizeof *Mutex);
    Mutex->Header.Type = 2;  // MutantObject
    Mutex->Header.Size = sizeof *Mutex / sizeof(LONG);
    Mutex->Header.SignalState = 1;
    Mutex->Header.WaitListHead.Flink = &Mutex->Header.WaitListHead;
    Mutex->Header.WaitListHead.Blink = &Mutex->Header.WaitListHead;
    Mutex->ApcDisable = 1;
}

// One thread runs, so the mutex is always free or held by that thread; a
// kernel mutex may be acquired again by its owner.
NTSTATUS NTAPI KeWaitForSingleObject(PVOID Object, KWAIT_REASON, KPROCESSOR_MODE, BOOLEAN, PLARGE_INTEGER) {
    kernel_rules::EnterRoutine(kernel_rules::Routine::KeWaitForSingleObject);
    PKMUTEX mutex = (PKMUTEX)Object;
    --mutex->Header.SignalState;
    mutex->OwnerThread = &gState;  // the one thread
    ++gState.mutexDepth;
    return STATUS_SUCCESS;
}

LONG NTAPI KeReleaseMutex(PKMUTEX Mutex, BOOLEAN) {
    kernel_rules::EnterRoutine(kernel_rules::Routine::KeReleaseMutex);
    LONG previous = Mutex->Header.SignalState;
    if (previous >= 1) {
        ++gState.badReleases;
        return previous;
    }
    if (++Mutex->Header.SignalState == 1) Mutex->OwnerThread = nullptr;
    --gState.mutexDepth;
    return previous;
}

}  // extern "C"
