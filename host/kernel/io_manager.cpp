// The stand-in I/O manager: driver images loaded from a file and their entry
// and unload routines run; files opened on devices by name; device-control
// requests sent as Windows sends METHOD_BUFFERED ones.
//
// A driver whose devices still have open files is not unloaded at once: its
// unload routine runs, and its image is released, when the last file closes.
//
// What a driver must undo itself is not cleaned up for it: a device or link
// left by a failed DriverEntry or by the unload routine, or an I/O-space
// mapping left by any of its routines, or a dispatch routine that returns
// holding a kernel mutex, ends the process with a driver fault, so that the
// test that caused it fails.
#include "kernel/io_manager.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <vector>

#include <ntddk.h>

#include "kernel/io_request.h"
#include "kernel/kernel_trace.h"
#include "kernel_rules/irql_rules.h"
#include "kernel_rules/security_rules.h"
#include "kernel/object_namespace.h"
#include "kernel/security.h"

namespace standin {

struct OpenFile {
    DeviceRecord* device = nullptr;
    FILE_OBJECT object;     // the file object every request on this open carries
    std::wstring fileName;  // what FileName points at
    ACCESS_MASK granted = 0;
};

namespace {

constexpr ULONG kDoDeviceInitializing = 0x00000080;
constexpr ULONG kMaxSystemBuffer = 64u << 20;

NTSTATUS NTAPI RefuseRequest(PDEVICE_OBJECT, PIRP irp) {
    irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
    irp->IoStatus.Information = 0;
    IofCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_INVALID_DEVICE_REQUEST;
}

std::map<std::wstring, LoadedDriver*>& LoadedByService() {
    static auto* drivers = new std::map<std::wstring, LoadedDriver*>;  // lives as long as the process
    return *drivers;
}

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

void InitString(UNICODE_STRING* target, const std::wstring& text) {
    target->Buffer = const_cast<PWSTR>(text.c_str());
    target->Length = static_cast<USHORT>(text.size() * sizeof(WCHAR));
    target->MaximumLength = static_cast<USHORT>(target->Length + sizeof(WCHAR));
}

[[noreturn]] void LeftBehind(const char* what) {
    TraceDriverFault(what);
    std::abort();
}

std::set<std::wstring> LinksAdded(const std::set<std::wstring>& before) {
    std::set<std::wstring> added;
    for (const std::wstring& name : LinkNames()) {
        if (!before.count(name)) added.insert(name);
    }
    return added;
}

bool HasOpenFiles(LoadedDriver* driver) {
    for (PDEVICE_OBJECT object = driver->object.DeviceObject; object != NULL; object = object->NextDevice) {
        DeviceRecord* record = FindDeviceRecord(object);
        if (record != nullptr && record->openFiles > 0) return true;
    }
    return false;
}

// Runs the unload routine and releases the image. The namespace lock is not
// held: the unload routine calls back into the kernel.
void FinishUnload(LoadedDriver* driver) {
    int64_t mappings = ThreadLiveMappings();
    if (driver->object.DriverUnload != NULL) driver->object.DriverUnload(&driver->object);
    if (ThreadLiveMappings() != mappings) LeftBehind("mapping left behind by the unload routine");
    {
        std::lock_guard<std::mutex> guard(NamespaceLock());
        if (driver->object.DeviceObject != NULL) {
            LeftBehind("device left behind by the unload routine");
        }
        for (const std::wstring& link : LinkNames()) {
            if (driver->links.count(link)) LeftBehind("link left behind by the unload routine");
        }
        LoadedByService().erase(NormaliseName(driver->service));
    }
    dlclose(driver->image);
    delete driver;
}

NTSTATUS SendRequest(DeviceRecord* device, PFILE_OBJECT file, UCHAR major, IoRequest* request) {
    PDEVICE_OBJECT object = device->object;
    request->stack.MajorFunction = major;
    request->stack.DeviceObject = object;
    request->stack.FileObject = file;
    request->irp.IoStatus.Status = STATUS_PENDING;
    PDRIVER_DISPATCH dispatch = object->DriverObject->MajorFunction[major];
    int64_t mappings = ThreadLiveMappings();
    int mutexes = ThreadHeldMutexes();
    NTSTATUS returned = dispatch(object, &request->irp);
    if (ThreadLiveMappings() != mappings) LeftBehind("mapping left behind by a dispatch routine");
    if (ThreadHeldMutexes() != mutexes) LeftBehind("dispatch routine returned holding a mutex");
    if (ThreadOwesAWait()) LeftBehind("dispatch routine returned after KeReleaseMutex(Wait TRUE)");
    kernel_rules::LeaveDriverRoutine("dispatch routine");
    if (!request->completed) {
        TraceDriverFault("dispatch routine returned without completing the request");
        return returned == STATUS_PENDING ? STATUS_UNSUCCESSFUL : returned;
    }
    // What the request was completed with counts, as on Windows, where the
    // packet belongs to the I/O manager again once it is completed.
    request->irp.IoStatus = request->completion;
    if (returned != request->irp.IoStatus.Status) {
        TraceDriverFault("dispatch routine returned a status other than the completion status");
    }
    return request->irp.IoStatus.Status;
}

// Drops one open file of the device; returns the driver to unload now, if any.
LoadedDriver* ReleaseFile(DeviceRecord* device) {
    std::lock_guard<std::mutex> guard(NamespaceLock());
    LoadedDriver* driver = device->driver;
    --device->openFiles;
    if (device->openFiles == 0 && device->deleted) FreeDevice(device);
    if (driver != nullptr && driver->unloadRequested && !HasOpenFiles(driver)) return driver;
    return nullptr;
}

}  // namespace

NTSTATUS LoadDriver(const std::string& linuxPath, const std::string& serviceName, LoadedDriver** driver) {
    *driver = nullptr;
    struct stat info;
    if (stat(linuxPath.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    std::wstring service = Widen(serviceName);
    {
        std::lock_guard<std::mutex> guard(NamespaceLock());
        if (LoadedByService().count(NormaliseName(service))) {
            return static_cast<NTSTATUS>(0xC000010EL);  // STATUS_IMAGE_ALREADY_LOADED
        }
    }
    void* image = dlopen(linuxPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (image == nullptr) return STATUS_INVALID_IMAGE_FORMAT;
    PDRIVER_INITIALIZE entry = reinterpret_cast<PDRIVER_INITIALIZE>(dlsym(image, "DriverEntry"));
    if (entry == nullptr) {
        dlclose(image);
        return STATUS_PROCEDURE_NOT_FOUND;
    }

    auto loaded = std::make_unique<LoadedDriver>();
    loaded->image = image;
    loaded->service = service;
    loaded->driverName = L"\\Driver\\" + service;
    loaded->registryPath = L"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\" + service;
    std::memset(&loaded->object, 0, sizeof loaded->object);
    loaded->object.Type = 4;  // IO_TYPE_DRIVER
    loaded->object.Size = sizeof(DRIVER_OBJECT);
    loaded->object.DriverInit = entry;
    InitString(&loaded->object.DriverName, loaded->driverName);
    for (PDRIVER_DISPATCH& dispatch : loaded->object.MajorFunction) dispatch = RefuseRequest;

    UNICODE_STRING registryPath;
    InitString(&registryPath, loaded->registryPath);
    std::set<std::wstring> linksBefore;
    {
        std::lock_guard<std::mutex> guard(NamespaceLock());
        linksBefore = LinkNames();
    }
    int64_t mappings = ThreadLiveMappings();
    NTSTATUS status = entry(&loaded->object, &registryPath);
    if (ThreadLiveMappings() != mappings) LeftBehind("mapping left behind by DriverEntry");

    std::lock_guard<std::mutex> guard(NamespaceLock());
    loaded->links = LinksAdded(linksBefore);
    if (!NT_SUCCESS(status)) {
        if (loaded->object.DeviceObject != NULL) {
            LeftBehind("device left behind by a failed DriverEntry");
        }
        if (!loaded->links.empty()) LeftBehind("link left behind by a failed DriverEntry");
        dlclose(image);
        return status;
    }
    for (PDEVICE_OBJECT object = loaded->object.DeviceObject; object != NULL; object = object->NextDevice) {
        object->Flags &= ~kDoDeviceInitializing;  // as the I/O manager does after DriverEntry
        DeviceRecord* record = FindDeviceRecord(object);
        if (record != nullptr) record->driver = loaded.get();
    }
    LoadedByService()[NormaliseName(service)] = loaded.get();
    *driver = loaded.release();
    return status;
}

void UnloadDriver(LoadedDriver* driver) {
    if (driver == nullptr) return;
    {
        std::lock_guard<std::mutex> guard(NamespaceLock());
        driver->unloadRequested = true;
        if (HasOpenFiles(driver)) return;  // runs when the last file closes
    }
    FinishUnload(driver);
}

namespace {

// The open's access checks as IopParseDevice makes them, for a caller in user
// mode: the device itself gets a full check; a name below it, or a relative
// open, gets one only when the device asks for secure opens (before that a
// name below it is checked for traverse, which every token here holds).
// What each check grants joins PreviouslyGrantedAccess and leaves
// RemainingDesiredAccess.
NTSTATUS CheckOpenAccess(const DeviceRecord* device, bool relative, bool below, ACCESS_STATE* state) {
    bool secureOpen = (device->object->Characteristics & FILE_DEVICE_SECURE_OPEN) != 0;
    bool fullCheck = (!relative && !below) || (secureOpen && (relative || below));
    if (!fullCheck) return STATUS_SUCCESS;
    ACCESS_MASK granted = 0;
    NTSTATUS status =
        CheckAccess(device->security, CurrentCallerToken(), state->RemainingDesiredAccess, &granted);
    if (!NT_SUCCESS(status)) return status;
    state->PreviouslyGrantedAccess |= granted;
    state->RemainingDesiredAccess &= ~(granted | static_cast<ACCESS_MASK>(MAXIMUM_ALLOWED));
    return STATUS_SUCCESS;
}

NTSTATUS OpenOn(DeviceRecord* device, const std::wstring& remaining, OpenFile* related,
                ACCESS_MASK desiredAccess, OpenFile** file) {
    ACCESS_STATE state;
    std::memset(&state, 0, sizeof state);
    state.OriginalDesiredAccess = kernel_rules::MapGenericForFiles(desiredAccess);
    state.RemainingDesiredAccess = state.OriginalDesiredAccess;
    const ACCESS_MASK asked = state.RemainingDesiredAccess;
    {
        std::lock_guard<std::mutex> guard(NamespaceLock());
        if (device->driver == nullptr || device->driver->unloadRequested) {
            return STATUS_DELETE_PENDING;
        }
        if (device->object->Exclusive && device->openFiles > 0 && related == nullptr) {
            return STATUS_ACCESS_DENIED;
        }
        NTSTATUS access = CheckOpenAccess(device, related != nullptr, !remaining.empty(), &state);
        if (!NT_SUCCESS(access)) return access;  // the driver never sees the open
        ++device->openFiles;
    }
    auto opened = std::make_unique<OpenFile>();
    opened->device = device;
    opened->fileName = remaining;
    opened->granted = state.PreviouslyGrantedAccess | state.RemainingDesiredAccess;
    std::memset(&opened->object, 0, sizeof opened->object);
    opened->object.Type = 5;  // IO_TYPE_FILE
    opened->object.Size = sizeof(FILE_OBJECT);
    opened->object.DeviceObject = device->object;
    opened->object.RelatedFileObject = related != nullptr ? &related->object : NULL;
    InitString(&opened->object.FileName, opened->fileName);

    IO_SECURITY_CONTEXT security;
    std::memset(&security, 0, sizeof security);
    security.AccessState = &state;
    security.DesiredAccess = asked;
    IoRequest request;
    request.stack.Parameters.Create.SecurityContext = &security;
    NTSTATUS status = SendRequest(device, &opened->object, IRP_MJ_CREATE, &request);
    if (!NT_SUCCESS(status)) {
        LoadedDriver* unload = ReleaseFile(device);
        if (unload != nullptr) FinishUnload(unload);
        return status;
    }
    *file = opened.release();
    return status;
}

}  // namespace

NTSTATUS OpenDevice(const std::wstring& objectName, ACCESS_MASK desiredAccess, OpenFile** file) {
    *file = nullptr;
    DeviceRecord* device = nullptr;
    std::wstring remaining;
    {
        std::lock_guard<std::mutex> guard(NamespaceLock());
        device = ResolveDevicePath(objectName, &remaining);
        if (device == nullptr) return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    return OpenOn(device, remaining, nullptr, desiredAccess, file);
}

NTSTATUS OpenRelative(OpenFile* related, const std::wstring& name, ACCESS_MASK desiredAccess,
                      OpenFile** file) {
    *file = nullptr;
    if (related == nullptr) return STATUS_INVALID_HANDLE;
    return OpenOn(related->device, name, related, desiredAccess, file);
}

ACCESS_MASK HandleGrantedAccess(const OpenFile* file) { return file == nullptr ? 0 : file->granted; }

NTSTATUS OpenDevice(const std::wstring& objectName, OpenFile** file) {
    return OpenDevice(objectName, FILE_GENERIC_READ | FILE_GENERIC_WRITE, file);
}

void CloseDevice(OpenFile* file) {
    if (file == nullptr) return;
    DeviceRecord* device = file->device;
    IoRequest cleanup;
    SendRequest(device, &file->object, IRP_MJ_CLEANUP, &cleanup);
    IoRequest close;
    SendRequest(device, &file->object, IRP_MJ_CLOSE, &close);
    delete file;
    LoadedDriver* unload = ReleaseFile(device);
    if (unload != nullptr) FinishUnload(unload);
}

NTSTATUS DeviceControl(OpenFile* file, ULONG code, const void* inBuffer, ULONG inLength, void* outBuffer,
                       ULONG outLength, ULONG* returned) {
    if (returned != nullptr) *returned = 0;
    if (file == nullptr) return STATUS_INVALID_HANDLE;
    // A code that names an access (not FILE_ANY_ACCESS) is checked against
    // what the handle was granted before the driver sees the request.
    ULONG needed = (code >> 14) & 3;
    if (((needed & FILE_READ_ACCESS) != 0 && (file->granted & FILE_READ_DATA) == 0) ||
        ((needed & FILE_WRITE_ACCESS) != 0 && (file->granted & FILE_WRITE_DATA) == 0)) {
        return STATUS_ACCESS_DENIED;
    }
    if ((inLength != 0 && inBuffer == nullptr) || (outLength != 0 && outBuffer == nullptr)) {
        return static_cast<NTSTATUS>(0xC00000E8L);  // STATUS_INVALID_USER_BUFFER
    }
    ULONG method = code & 3;
    // METHOD_BUFFERED: one system buffer of the larger length, the caller's
    // input copied in. The direct methods: a system buffer of the input
    // length, the output buffer left where it is (the stand-in has no MDLs).
    // METHOD_NEITHER: no system buffer, the caller's pointers as they are.
    // Each buffer has exactly the length asked, so that a driver reading or
    // writing one byte past it meets the sanitizers. Windows charges the
    // buffer to the caller's quota; a length no caller can have a buffer for
    // fails as the allocation would.
    ULONG systemLength = 0;
    if (method == METHOD_BUFFERED) systemLength = inLength > outLength ? inLength : outLength;
    if (method == METHOD_IN_DIRECT || method == METHOD_OUT_DIRECT) systemLength = inLength;
    if (systemLength > kMaxSystemBuffer) return STATUS_INSUFFICIENT_RESOURCES;
    std::unique_ptr<unsigned char[]> buffer;
    if (systemLength != 0) {
        buffer.reset(new (std::nothrow) unsigned char[systemLength]);
        if (!buffer) return STATUS_INSUFFICIENT_RESOURCES;
        if (inLength != 0) std::memcpy(buffer.get(), inBuffer, inLength);
        if (systemLength > inLength) std::memset(buffer.get() + inLength, 0, systemLength - inLength);
    }

    IoRequest request;
    request.irp.AssociatedIrp.SystemBuffer = buffer.get();
    request.irp.UserBuffer = outBuffer;
    request.stack.Parameters.DeviceIoControl.OutputBufferLength = outLength;
    request.stack.Parameters.DeviceIoControl.InputBufferLength = inLength;
    request.stack.Parameters.DeviceIoControl.IoControlCode = code;
    if (method == METHOD_NEITHER) {
        request.stack.Parameters.DeviceIoControl.Type3InputBuffer = const_cast<void*>(inBuffer);
    }
    NTSTATUS status = SendRequest(file->device, &file->object, IRP_MJ_DEVICE_CONTROL, &request);
    TraceDeviceControlResult(status, request.irp.IoStatus.Information);
    if (!NT_SUCCESS(status)) return status;  // nothing goes back on a failure status

    ULONG_PTR information = request.irp.IoStatus.Information;
    if (information > outLength) {
        TraceDriverFault("reply longer than the caller's output buffer");
        information = outLength;
    }
    if (method == METHOD_BUFFERED && information != 0) {
        std::memcpy(outBuffer, buffer.get(), information);
    }
    if (returned != nullptr) *returned = static_cast<ULONG>(information);
    return status;
}

DWORD NtStatusToWin32Error(NTSTATUS status) {
    switch (static_cast<uint32_t>(status)) {
        case 0x00000000: return 0;     // ERROR_SUCCESS
        case 0x00000103: return 997;   // ERROR_IO_PENDING
        case 0xC0000001: return 31;    // ERROR_GEN_FAILURE
        case 0xC0000002: return 1;     // ERROR_INVALID_FUNCTION
        case 0xC0000008: return 6;     // ERROR_INVALID_HANDLE
        case 0xC000000D: return 87;    // ERROR_INVALID_PARAMETER
        case 0xC000000E: return 2;     // ERROR_FILE_NOT_FOUND
        case 0xC0000010: return 1;     // ERROR_INVALID_FUNCTION
        case 0xC0000017: return 8;     // ERROR_NOT_ENOUGH_MEMORY
        case 0xC0000022: return 5;     // ERROR_ACCESS_DENIED
        case 0xC0000023: return 122;   // ERROR_INSUFFICIENT_BUFFER
        case 0xC0000033: return 123;   // ERROR_INVALID_NAME
        case 0xC0000034: return 2;     // ERROR_FILE_NOT_FOUND
        case 0xC0000035: return 183;   // ERROR_ALREADY_EXISTS
        case 0xC000003A: return 3;     // ERROR_PATH_NOT_FOUND
        case 0xC0000056: return 5;     // ERROR_ACCESS_DENIED
        case 0xC000007A: return 127;   // ERROR_PROC_NOT_FOUND
        case 0xC000007B: return 193;   // ERROR_BAD_EXE_FORMAT
        case 0xC000009A: return 1450;  // ERROR_NO_SYSTEM_RESOURCES
        case 0xC00000BB: return 50;    // ERROR_NOT_SUPPORTED
        case 0xC00000C0: return 433;   // ERROR_NO_SUCH_DEVICE
        case 0xC00000E8: return 1784;  // ERROR_INVALID_USER_BUFFER
        case 0xC000010E: return 1056;  // ERROR_SERVICE_ALREADY_RUNNING
        default: return 317;           // ERROR_MR_MID_NOT_FOUND, as Windows gives unknown codes
    }
}

}  // namespace standin
