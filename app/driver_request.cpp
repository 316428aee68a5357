// Sends one request record to the driver through DeviceHandle. A request not
// answered in full prints its diagnostic without a line end.
#include "driver_request.h"

#include "device_channel.h"
#include "diagnostics.h"

bool SendDriverRequest(DWORD controlCode, void* record, DWORD recordSize) {
    DWORD returned = 0;
    BOOL ok =
        DeviceIoControl(DeviceHandle, controlCode, record, recordSize, record, recordSize, &returned, NULL);
    if (!ok || returned != recordSize) {
        PrintDiagnostic("Error in DeviceIoControl : %d", (int)GetLastError());  // no line end
        return false;
    }
    return true;
}
