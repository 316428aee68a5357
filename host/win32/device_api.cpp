// Devices: "\\.\Name" is the object-manager name "\??\Name". Opening sends
// the create request through the stand-in I/O manager; DeviceIoControl sends
// the buffered control request and turns its NT status into the Win32 error.
#include "win32/device_api.h"

#include <atomic>
#include <mutex>
#include <string>

#include "win32/handle_table.h"
#include "win32/process_options.h"
#include "win32/service_database.h"

namespace standin {
namespace {

std::atomic<int> liveDevices{0};

constexpr NTSTATUS kHookPasses = 0;  // STATUS_SUCCESS: the request goes on to the driver

std::mutex hookLock;
std::function<NTSTATUS(DWORD)> controlHook;

NTSTATUS CallControlHook(DWORD code) {
    std::function<NTSTATUS(DWORD)> hook;
    {
        std::lock_guard<std::mutex> guard(hookLock);
        hook = controlHook;
    }
    return hook ? hook(code) : kHookPasses;
}

struct DeviceObject : HandleObject {
    explicit DeviceObject(OpenFile* f) : HandleObject(HandleKind::Device), file(f) { ++liveDevices; }
    ~DeviceObject() override {
        CloseDevice(file);
        if (--liveDevices == 0) CompletePendingStops();
    }
    OpenFile* const file;
};

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

bool IsDeviceName(LPCSTR name) {
    return IsSeparator(name[0]) && IsSeparator(name[1]) && name[2] == '.' && IsSeparator(name[3]);
}

HANDLE OpenDeviceHandle(LPCSTR name, DWORD access, DWORD) {
    std::string rest = name + 4;
    if (rest.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::wstring objectName = L"\\??\\";
    for (char c : rest) objectName += static_cast<wchar_t>(static_cast<unsigned char>(c));

    // CreateFile asks for these two rights with whatever the caller asked for.
    const DWORD kAlwaysAsked = SYNCHRONIZE | 0x0080;  // FILE_READ_ATTRIBUTES
    OpenFile* file = nullptr;
    NTSTATUS status = OpenDevice(objectName, access | kAlwaysAsked, &file);
    if (status < 0) {
        SetLastError(NtStatusToWin32Error(status));
        return INVALID_HANDLE_VALUE;
    }
    auto device = std::make_shared<DeviceObject>(file);
    HANDLE handle = InsertHandle(std::move(device));
    SetLastError(ERROR_SUCCESS);
    return handle;
}

bool CloseDeviceHandle(HANDLE handle) {
    std::shared_ptr<HandleObject> device = RemoveHandle(handle, HandleKind::Device);
    return device != nullptr;  // closed when the last user lets go
}

bool AnyDeviceHandleOpen() { return liveDevices.load() != 0; }

void SetDeviceControlHook(std::function<NTSTATUS(DWORD code)> hook) {
    std::lock_guard<std::mutex> guard(hookLock);
    controlHook = std::move(hook);
}

void CloseAllDeviceHandles() {
    std::vector<std::shared_ptr<HandleObject>> devices = RemoveAllHandles(HandleKind::Device);
    devices.clear();
}

}  // namespace standin

using namespace standin;

extern "C" BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer,
                                       DWORD nInBufferSize, LPVOID lpOutBuffer, DWORD nOutBufferSize,
                                       LPDWORD lpBytesReturned, LPOVERLAPPED) {
    auto device = LookupHandleAs<DeviceObject>(hDevice, HandleKind::Device);
    if (device == nullptr) {
        bool isFile = LookupHandle(hDevice, HandleKind::File) != nullptr;
        SetLastError(isFile ? ERROR_INVALID_FUNCTION : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (lpBytesReturned == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *lpBytesReturned = 0;
    if ((lpInBuffer == nullptr && nInBufferSize != 0) || (lpOutBuffer == nullptr && nOutBufferSize != 0)) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    ULONG returned = 0;
    NTSTATUS status = CallControlHook(dwIoControlCode);
    if (status == kHookPasses) {
        status = DeviceControl(device->file, dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer,
                               nOutBufferSize, &returned);
    }
    // Error statuses bring nothing back; warnings bring their data and fail.
    bool isError = (static_cast<ULONG>(status) >> 30) == 3;
    *lpBytesReturned = isError ? 0 : returned;
    if (status < 0) {
        SetLastError(NtStatusToWin32Error(status));
        return FALSE;
    }
    return TRUE;
}
