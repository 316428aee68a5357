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

// Result of a standard read: 0 (no bus) or 2 (no function) mean nobody answered.
inline bool FunctionAnswered(const ConfigRequest& request) {
    return request.Result != 0 && request.Result != 2;
}

inline BusDevFn PackBusDevFn(QvU32 bus, QvU32 device, QvU32 function) {
    return (bus << 16) | (device << 8) | function;
}
inline QvU32 BusOf(BusDevFn value) { return value >> 16; }
inline QvU32 DeviceOf(BusDevFn value) { return (value >> 8) & 0xFF; }
inline QvU32 FunctionOf(BusDevFn value) { return value & 0xFF; }

#endif
