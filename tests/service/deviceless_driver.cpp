// A driver module that loads and unloads cleanly but creates no device: an
// image that some earlier install left registered under the service name.
#include <ntddk.h>

static VOID NTAPI UnloadDeviceless(PDRIVER_OBJECT) {}

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING) {
    driverObject->DriverUnload = UnloadDeviceless;
    return STATUS_SUCCESS;
}
