// Device objects, symbolic links, counted strings and request completion.
#include <ntddk.h>

#include <cstdlib>
#include <cwchar>

#include "kernel/io_request.h"
#include "kernel/kernel_trace.h"
#include "kernel_rules/irql_rules.h"
#include "kernel/object_namespace.h"

namespace {

constexpr ULONG kDoDeviceInitializing = 0x00000080;

}  // namespace

extern "C" VOID NTAPI RtlInitUnicodeString(PUNICODE_STRING DestinationString, PCWSTR SourceString) {
    DestinationString->Buffer = const_cast<PWSTR>(SourceString);
    if (SourceString == NULL) {
        DestinationString->Length = 0;
        DestinationString->MaximumLength = 0;
        return;
    }
    size_t bytes = std::wcslen(SourceString) * sizeof(WCHAR);
    if (bytes > 0xFFFC) bytes = 0xFFFC;  // a counted string holds at most 64 KiB
    DestinationString->Length = static_cast<USHORT>(bytes);
    DestinationString->MaximumLength = static_cast<USHORT>(bytes + sizeof(WCHAR));
}

extern "C" NTSTATUS NTAPI IoCreateDevice(PDRIVER_OBJECT DriverObject, ULONG DeviceExtensionSize,
                                         PUNICODE_STRING DeviceName, ULONG DeviceType,
                                         ULONG DeviceCharacteristics, BOOLEAN Exclusive,
                                         PDEVICE_OBJECT* DeviceObject) {
    using namespace standin;
    std::wstring name = NormaliseName(FromUnicodeString(DeviceName));
    if (DeviceName != NULL && name.empty()) return STATUS_OBJECT_NAME_INVALID;

    std::lock_guard<std::mutex> guard(NamespaceLock());
    if (!name.empty() && NameInUse(name)) return STATUS_OBJECT_NAME_COLLISION;

    PDEVICE_OBJECT object = static_cast<PDEVICE_OBJECT>(std::calloc(1, sizeof(DEVICE_OBJECT)));
    if (object == NULL) return STATUS_INSUFFICIENT_RESOURCES;
    if (DeviceExtensionSize != 0) {
        object->DeviceExtension = std::calloc(1, DeviceExtensionSize);
        if (object->DeviceExtension == NULL) {
            std::free(object);
            return STATUS_INSUFFICIENT_RESOURCES;
        }
    }
    object->Type = 3;  // IO_TYPE_DEVICE
    object->Size = sizeof(DEVICE_OBJECT);
    object->DriverObject = DriverObject;
    object->DeviceType = DeviceType;
    object->Characteristics = DeviceCharacteristics;
    object->Flags = kDoDeviceInitializing;
    object->StackSize = 1;
    object->Exclusive = Exclusive;
    object->NextDevice = DriverObject->DeviceObject;
    DriverObject->DeviceObject = object;

    DeviceRecord* record = new DeviceRecord;
    record->object = object;
    record->name = name;
    InsertDevice(record);
    *DeviceObject = object;
    return STATUS_SUCCESS;
}

extern "C" VOID NTAPI IoDeleteDevice(PDEVICE_OBJECT DeviceObject) {
    using namespace standin;
    std::lock_guard<std::mutex> guard(NamespaceLock());
    DeviceRecord* record = FindDeviceRecord(DeviceObject);
    if (record == nullptr || record->deleted) {
        TraceDriverFault("IoDeleteDevice on an object that is not a live device");
        return;
    }
    // Off the driver's list of devices.
    PDEVICE_OBJECT* link = &DeviceObject->DriverObject->DeviceObject;
    while (*link != NULL && *link != DeviceObject) link = &(*link)->NextDevice;
    if (*link == DeviceObject) *link = DeviceObject->NextDevice;
    record->deleted = true;
    RemoveDeviceName(record);
    if (record->openFiles == 0) FreeDevice(record);
}

extern "C" NTSTATUS NTAPI IoCreateSymbolicLink(PUNICODE_STRING SymbolicLinkName, PUNICODE_STRING DeviceName) {
    using namespace standin;
    std::wstring link = NormaliseName(FromUnicodeString(SymbolicLinkName));
    std::wstring target = NormaliseName(FromUnicodeString(DeviceName));
    if (link.empty() || target.empty()) return STATUS_OBJECT_NAME_INVALID;
    std::lock_guard<std::mutex> guard(NamespaceLock());
    if (NameInUse(link)) return STATUS_OBJECT_NAME_COLLISION;
    InsertLink(link, target);
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS NTAPI IoDeleteSymbolicLink(PUNICODE_STRING SymbolicLinkName) {
    using namespace standin;
    std::wstring link = NormaliseName(FromUnicodeString(SymbolicLinkName));
    std::lock_guard<std::mutex> guard(NamespaceLock());
    return RemoveLink(link) ? STATUS_SUCCESS : STATUS_OBJECT_NAME_NOT_FOUND;
}

extern "C" VOID NTAPI IofCompleteRequest(PIRP Irp, CHAR PriorityBoost) {
    kernel_rules::EnterRoutine(kernel_rules::Routine::IofCompleteRequest);
    standin::IoRequest* request = standin::RequestOf(Irp);
    if (request->completed) {
        standin::TraceDriverFault("request completed twice");
        return;
    }
    request->completed = true;
    request->priorityBoost = PriorityBoost;
    request->completion = Irp->IoStatus;
    standin::TraceCompletion();
}
