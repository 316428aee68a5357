// Device handles: "\\.\Name" opened through the stand-in I/O manager.
#ifndef STANDIN_WIN32_DEVICE_API_H
#define STANDIN_WIN32_DEVICE_API_H

#include <windows.h>

#include <functional>

#include "kernel/io_manager.h"

namespace standin {

// True when name has the device prefix "\\.\" (either separator).
bool IsDeviceName(LPCSTR name);

// CreateFileA for a device name: opens "\??\<rest of name>". Sets the last
// error and returns INVALID_HANDLE_VALUE on failure.
HANDLE OpenDeviceHandle(LPCSTR name, DWORD access, DWORD disposition);

// CloseHandle for a device handle; false when handle is not one.
bool CloseDeviceHandle(HANDLE handle);

// Whether the process still holds a device handle (counting handles being
// closed by a call still in progress).
bool AnyDeviceHandleOpen();

// Closes every device handle the process holds (as the end of a process does).
void CloseAllDeviceHandles();

// For tests: hook is called with the control code before each DeviceIoControl
// reaches the driver, outside every lock of the stand-in (it may change the
// machine). A status other than STATUS_SUCCESS ends that request with it and
// 0 bytes, without the driver, as a device the driver lost or a request the
// I/O manager could not send would (an error or warning fails the call; a
// success status answers it with nothing). An empty hook removes it.
void SetDeviceControlHook(std::function<NTSTATUS(DWORD code)> hook);

}  // namespace standin

#endif
