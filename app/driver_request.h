// The program's one way of sending a request record to the driver: the record
// is both input and output buffer, and the request counts as answered only when
// DeviceIoControl succeeds and transfers the record's whole size. A request
// that is not answered prints "Error in DeviceIoControl : %d".
#ifndef QUORVENAL_DRIVER_REQUEST_H
#define QUORVENAL_DRIVER_REQUEST_H

#include <windows.h>
#include <winioctl.h>
#include "../ioctl/sys/quorvenal_ioctl.h"

bool SendDriverRequest(DWORD controlCode, void* record, DWORD recordSize);

// Whether a function answered a standard read: any Result but "no bus" and
// "no function".
inline bool FunctionAnswered(const ConfigRequest& request) {
    return request.Result != kResultNoBus && request.Result != kResultNoFunction;
}

#endif
