// The service control manager: a database of kernel-driver services, the
// manager and service handles, and the start and stop of a driver through
// the stand-in kernel. Errors are Windows' own: 1073 exists, 1056 already
// running, 1060 does not exist, 1072 marked for deletion, 1062 not started,
// 5 for a right the handle or the process lacks, 6 for a bad handle.
//
// A deleted service stays in the database, marked, while a handle is open on
// it or it is not stopped; it goes when the last of these goes.
//
// A stop while device handles are open is accepted and the service shows
// SERVICE_STOP_PENDING: the kernel refuses new opens of the driver's devices,
// keeps the driver loaded for the files already open and unloads it when the
// last of them closes. The service shows stopped once the process holds no
// device handle any more.
#include <windows.h>
#include <winsvc.h>

#include <string.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "kernel/io_manager.h"
#include "win32/device_api.h"
#include "win32/file_sharing.h"
#include "win32/handle_table.h"
#include "win32/path_mapping.h"
#include "win32/process_options.h"
#include "win32/service_database.h"

namespace standin {
namespace {

constexpr size_t kMaxServiceName = 256;

struct ServiceRecord {
    std::string name;
    std::string displayName;
    std::string imagePath;
    DWORD type = SERVICE_KERNEL_DRIVER;
    DWORD startType = SERVICE_DEMAND_START;
    DWORD errorControl = SERVICE_ERROR_NORMAL;
    DWORD state = SERVICE_STOPPED;
    DWORD exitCode = ERROR_SUCCESS;
    bool markedForDelete = false;
    int openHandles = 0;
    LoadedDriver* driver = nullptr;
};

struct ManagerObject : HandleObject {
    explicit ManagerObject(DWORD a) : HandleObject(HandleKind::ServiceManager), access(a) {}
    const DWORD access;
};

struct ServiceObject : HandleObject {
    ServiceObject(std::shared_ptr<ServiceRecord> r, DWORD a)
        : HandleObject(HandleKind::Service), record(std::move(r)), access(a) {}
    const std::shared_ptr<ServiceRecord> record;
    const DWORD access;
};

struct Database {
    std::mutex lock;
    std::vector<std::shared_ptr<ServiceRecord>> services;
};

// Never destroyed, like the handle table: services still running when the
// process ends keep their drivers.
Database& TheDatabase() {
    static Database* database = new Database;
    return *database;
}

// Rights a process without administrator rights is granted.
constexpr DWORD kUserManagerRights =
    SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_QUERY_LOCK_STATUS | READ_CONTROL;
constexpr DWORD kUserServiceRights = SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS |
                                     SERVICE_ENUMERATE_DEPENDENTS | SERVICE_INTERROGATE |
                                     SERVICE_USER_DEFINED_CONTROL | READ_CONTROL;

DWORD MapManagerRights(DWORD access) {
    if (access & GENERIC_READ)
        access |= READ_CONTROL | SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_QUERY_LOCK_STATUS;
    if (access & GENERIC_WRITE) access |= SC_MANAGER_CREATE_SERVICE | SC_MANAGER_MODIFY_BOOT_CONFIG;
    if (access & GENERIC_EXECUTE) access |= SC_MANAGER_CONNECT | SC_MANAGER_LOCK;
    if (access & GENERIC_ALL) access |= SC_MANAGER_ALL_ACCESS;
    return (access & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL)) | SC_MANAGER_CONNECT;
}

DWORD MapServiceRights(DWORD access) {
    if (access & GENERIC_READ) {
        access |= READ_CONTROL | SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_INTERROGATE |
                  SERVICE_ENUMERATE_DEPENDENTS;
    }
    if (access & GENERIC_WRITE) access |= READ_CONTROL | SERVICE_CHANGE_CONFIG;
    if (access & GENERIC_EXECUTE) {
        access |= READ_CONTROL | SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE |
                  SERVICE_USER_DEFINED_CONTROL;
    }
    if (access & GENERIC_ALL) access |= SERVICE_ALL_ACCESS;
    return access & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
}

bool ValidServiceName(LPCSTR name) {
    if (name == nullptr || name[0] == '\0') return false;
    size_t length = strnlen(name, kMaxServiceName + 1);
    if (length > kMaxServiceName) return false;
    return std::none_of(name, name + length, [](char c) { return c == '/' || c == '\\'; });
}

bool SameName(const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) == 0; }

std::shared_ptr<ServiceRecord> FindService(Database& db, const std::string& name) {
    for (auto& record : db.services) {
        if (SameName(record->name, name)) return record;
    }
    return nullptr;
}

bool DisplayNameTaken(Database& db, const std::string& displayName, const std::string& ownName) {
    for (auto& record : db.services) {
        if (SameName(record->name, ownName)) continue;
        if (SameName(record->name, displayName) || SameName(record->displayName, displayName)) return true;
    }
    return false;
}

// A marked service leaves the database once nothing holds it any more.
void RemoveIfDone(Database& db, const std::shared_ptr<ServiceRecord>& record) {
    if (!record->markedForDelete || record->openHandles != 0 || record->state != SERVICE_STOPPED) return;
    db.services.erase(std::remove(db.services.begin(), db.services.end(), record), db.services.end());
}

SC_HANDLE NewServiceHandle(const std::shared_ptr<ServiceRecord>& record, DWORD access) {
    ++record->openHandles;
    return reinterpret_cast<SC_HANDLE>(InsertHandle(std::make_shared<ServiceObject>(record, access)));
}

void FillStatus(const ServiceRecord& record, LPSERVICE_STATUS status) {
    status->dwServiceType = record.type;
    status->dwCurrentState = record.state;
    status->dwControlsAccepted = record.state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    status->dwWin32ExitCode = record.exitCode;
    status->dwServiceSpecificExitCode = 0;
    status->dwCheckPoint = 0;
    status->dwWaitHint = 0;
}

// The Linux file of a driver image path. Image paths are absolute Windows
// paths ("Z:\...", optionally behind "\??\"); the stand-in has no system root
// to resolve a relative one against.
DWORD ImageFile(const std::string& imagePath, std::string* linuxPath) {
    std::string path = imagePath;
    if (path.rfind("\\??\\", 0) == 0) path = path.substr(4);
    bool absolute = path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
    if (!absolute) return ERROR_PATH_NOT_FOUND;
    DWORD error = WindowsToLinuxPath(path, linuxPath);
    if (error != ERROR_SUCCESS) return error;
    *linuxPath = MatchCaseInsensitively(*linuxPath);
    struct stat info;
    if (stat(linuxPath->c_str(), &info) != 0) {
        size_t slash = linuxPath->find_last_of('/');
        std::string folder = slash == 0 ? "/" : linuxPath->substr(0, slash);
        return stat(folder.c_str(), &info) == 0 ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    }
    if (S_ISDIR(info.st_mode)) return ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
}

std::mutex& BeforeImageLoadLock() {
    static auto* lock = new std::mutex;  // lives as long as the process
    return *lock;
}

std::function<void(const std::string&)>& BeforeImageLoad() {
    static auto* hook = new std::function<void(const std::string&)>;
    return *hook;
}

void RunBeforeImageLoad(const std::string& linuxPath) {
    std::function<void(const std::string&)> hook;
    {
        std::lock_guard<std::mutex> guard(BeforeImageLoadLock());
        hook = BeforeImageLoad();
    }
    if (hook) hook(linuxPath);
}

// Loads the service's driver; the caller holds the database lock. The
// kernel's loader opens the file for execution, sharing reading and
// deleting: a handle open on it for writing, or one that does not share
// reading, makes the start fail with ERROR_SHARING_VIOLATION.
DWORD StartLocked(ServiceRecord& record) {
    if (record.markedForDelete) return ERROR_SERVICE_MARKED_FOR_DELETE;
    if (record.startType == SERVICE_DISABLED) return ERROR_SERVICE_DISABLED;
    if (record.state != SERVICE_STOPPED) return ERROR_SERVICE_ALREADY_RUNNING;
    std::string linuxPath;
    DWORD error = ImageFile(record.imagePath, &linuxPath);
    if (error == ERROR_SUCCESS) {
        RunBeforeImageLoad(linuxPath);
        error = CheckImageLoadSharing(linuxPath);
    }
    if (error == ERROR_SUCCESS) {
        LoadedDriver* driver = nullptr;
        NTSTATUS status = LoadDriver(linuxPath, record.name, &driver);
        if (status >= 0 && driver != nullptr) {
            record.driver = driver;
            record.state = SERVICE_RUNNING;
            record.exitCode = ERROR_SUCCESS;
            return ERROR_SUCCESS;
        }
        error = status >= 0 ? ERROR_GEN_FAILURE : NtStatusToWin32Error(status);
    }
    record.exitCode = error;
    return error;
}

// Hands the driver to the kernel for unloading; it is no longer ours to use.
void StopLocked(ServiceRecord& record) {
    UnloadDriver(record.driver);
    record.driver = nullptr;
    record.state = AnyDeviceHandleOpen() ? SERVICE_STOP_PENDING : SERVICE_STOPPED;
}

DWORD CreateLocked(Database& db, const std::string& name, const std::string& displayName, DWORD type,
                   DWORD startType, DWORD errorControl, const std::string& imagePath,
                   std::shared_ptr<ServiceRecord>* created) {
    if (auto existing = FindService(db, name)) {
        return existing->markedForDelete ? ERROR_SERVICE_MARKED_FOR_DELETE : ERROR_SERVICE_EXISTS;
    }
    if (DisplayNameTaken(db, displayName, name)) return ERROR_DUPLICATE_SERVICE_NAME;
    auto record = std::make_shared<ServiceRecord>();
    record->name = name;
    record->displayName = displayName;
    record->imagePath = imagePath;
    record->type = type;
    record->startType = startType;
    record->errorControl = errorControl;
    db.services.push_back(record);
    *created = record;
    return ERROR_SUCCESS;
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

SC_HANDLE FailHandle(DWORD error) {
    SetLastError(error);
    return nullptr;
}

}  // namespace

void CompletePendingStops() {
    Database& db = TheDatabase();
    std::lock_guard<std::mutex> guard(db.lock);
    if (AnyDeviceHandleOpen()) return;
    std::vector<std::shared_ptr<ServiceRecord>> finished;
    for (auto& record : db.services) {
        if (record->state == SERVICE_STOP_PENDING) {
            record->state = SERVICE_STOPPED;
            finished.push_back(record);
        }
    }
    for (auto& record : finished) RemoveIfDone(db, record);
}

DWORD RegisterRunningService(const std::string& name, const std::string& imagePath) {
    if (!ValidServiceName(name.c_str())) return ERROR_INVALID_NAME;
    Database& db = TheDatabase();
    std::lock_guard<std::mutex> guard(db.lock);
    std::shared_ptr<ServiceRecord> record;
    DWORD error = CreateLocked(db, name, name, SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                               SERVICE_ERROR_NORMAL, imagePath, &record);
    if (error != ERROR_SUCCESS) return error;
    return StartLocked(*record);
}

void SetBeforeImageLoad(std::function<void(const std::string& linuxPath)> hook) {
    std::lock_guard<std::mutex> guard(BeforeImageLoadLock());
    BeforeImageLoad() = std::move(hook);
}

void ResetServiceDatabase() {
    CloseAllDeviceHandles();  // the kernel finishes the unloads that waited for them
    RemoveAllHandles(HandleKind::Service);
    RemoveAllHandles(HandleKind::ServiceManager);
    Database& db = TheDatabase();
    std::lock_guard<std::mutex> guard(db.lock);
    for (auto& record : db.services) {
        if (record->driver != nullptr) StopLocked(*record);
    }
    db.services.clear();
}

}  // namespace standin

using namespace standin;

extern "C" SC_HANDLE WINAPI OpenSCManagerA(LPCSTR lpMachineName, LPCSTR lpDatabaseName,
                                           DWORD dwDesiredAccess) {
    if (lpMachineName != nullptr && lpMachineName[0] != '\0') return FailHandle(RPC_S_SERVER_UNAVAILABLE);
    if (lpDatabaseName != nullptr && strcasecmp(lpDatabaseName, SERVICES_ACTIVE_DATABASEA) != 0) {
        return FailHandle(ERROR_DATABASE_DOES_NOT_EXIST);
    }
    DWORD access = MapManagerRights(dwDesiredAccess);
    if (!IsAdministrator() && (access & ~kUserManagerRights) != 0) return FailHandle(ERROR_ACCESS_DENIED);
    return reinterpret_cast<SC_HANDLE>(InsertHandle(std::make_shared<ManagerObject>(access)));
}

extern "C" SC_HANDLE WINAPI CreateServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, LPCSTR lpDisplayName,
                                           DWORD dwDesiredAccess, DWORD dwServiceType, DWORD dwStartType,
                                           DWORD dwErrorControl, LPCSTR lpBinaryPathName, LPCSTR, LPDWORD,
                                           LPCSTR, LPCSTR, LPCSTR) {
    auto manager = LookupHandleAs<ManagerObject>(hSCManager, HandleKind::ServiceManager);
    if (manager == nullptr) return FailHandle(ERROR_INVALID_HANDLE);
    if (!(manager->access & SC_MANAGER_CREATE_SERVICE)) return FailHandle(ERROR_ACCESS_DENIED);
    if (!ValidServiceName(lpServiceName)) return FailHandle(ERROR_INVALID_NAME);
    std::string displayName =
        lpDisplayName != nullptr && lpDisplayName[0] != '\0' ? lpDisplayName : lpServiceName;
    if (displayName.size() > kMaxServiceName) return FailHandle(ERROR_INVALID_NAME);
    // Only driver services can run here: the stand-in has no service processes.
    bool driverType = dwServiceType == SERVICE_KERNEL_DRIVER || dwServiceType == SERVICE_FILE_SYSTEM_DRIVER;
    if (!driverType || dwStartType > SERVICE_DISABLED || dwErrorControl > SERVICE_ERROR_CRITICAL ||
        lpBinaryPathName == nullptr || lpBinaryPathName[0] == '\0') {
        return FailHandle(ERROR_INVALID_PARAMETER);
    }
    Database& db = TheDatabase();
    std::lock_guard<std::mutex> guard(db.lock);
    std::shared_ptr<ServiceRecord> record;
    DWORD error = CreateLocked(db, lpServiceName, displayName, dwServiceType, dwStartType, dwErrorControl,
                               lpBinaryPathName, &record);
    if (error != ERROR_SUCCESS) return FailHandle(error);
    return NewServiceHandle(record, MapServiceRights(dwDesiredAccess));
}

extern "C" SC_HANDLE WINAPI OpenServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, DWORD dwDesiredAccess) {
    auto manager = LookupHandleAs<ManagerObject>(hSCManager, HandleKind::ServiceManager);
    if (manager == nullptr) return FailHandle(ERROR_INVALID_HANDLE);
    if (!ValidServiceName(lpServiceName)) return FailHandle(ERROR_INVALID_NAME);
    DWORD access = MapServiceRights(dwDesiredAccess);
    Database& db = TheDatabase();
    std::lock_guard<std::mutex> guard(db.lock);
    std::shared_ptr<ServiceRecord> record = FindService(db, lpServiceName);
    if (record == nullptr) return FailHandle(ERROR_SERVICE_DOES_NOT_EXIST);
    if (!IsAdministrator() && (access & ~kUserServiceRights) != 0) return FailHandle(ERROR_ACCESS_DENIED);
    return NewServiceHandle(record, access);
}

extern "C" BOOL WINAPI StartServiceA(SC_HANDLE hService, DWORD, LPCSTR*) {
    auto service = LookupHandleAs<ServiceObject>(hService, HandleKind::Service);
    if (service == nullptr) return Fail(ERROR_INVALID_HANDLE);
    if (!(service->access & SERVICE_START)) return Fail(ERROR_ACCESS_DENIED);
    Database& db = TheDatabase();
    std::lock_guard<std::mutex> guard(db.lock);
    DWORD error = StartLocked(*service->record);
    return error == ERROR_SUCCESS ? TRUE : Fail(error);
}

extern "C" BOOL WINAPI ControlService(SC_HANDLE hService, DWORD dwControl, LPSERVICE_STATUS lpServiceStatus) {
    auto service = LookupHandleAs<ServiceObject>(hService, HandleKind::Service);
    if (service == nullptr) return Fail(ERROR_INVALID_HANDLE);
    if (lpServiceStatus == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    DWORD needed = 0;
    if (dwControl == SERVICE_CONTROL_STOP) {
        needed = SERVICE_STOP;
    } else if (dwControl == SERVICE_CONTROL_INTERROGATE) {
        needed = SERVICE_INTERROGATE;
    } else if (dwControl == SERVICE_CONTROL_PAUSE || dwControl == SERVICE_CONTROL_CONTINUE) {
        needed = SERVICE_PAUSE_CONTINUE;
    } else if (dwControl >= 128 && dwControl <= 255) {
        needed = SERVICE_USER_DEFINED_CONTROL;
    } else {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (!(service->access & needed)) return Fail(ERROR_ACCESS_DENIED);

    Database& db = TheDatabase();
    std::lock_guard<std::mutex> guard(db.lock);
    ServiceRecord& record = *service->record;
    DWORD error = ERROR_SUCCESS;
    if (record.state == SERVICE_STOPPED) {
        error = ERROR_SERVICE_NOT_ACTIVE;
    } else if (record.state == SERVICE_STOP_PENDING && dwControl != SERVICE_CONTROL_INTERROGATE) {
        error = ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    } else if (dwControl == SERVICE_CONTROL_STOP) {
        StopLocked(record);
    } else if (dwControl != SERVICE_CONTROL_INTERROGATE) {
        error = ERROR_INVALID_SERVICE_CONTROL;  // drivers take stop and interrogate only
    }
    FillStatus(record, lpServiceStatus);
    return error == ERROR_SUCCESS ? TRUE : Fail(error);
}

extern "C" BOOL WINAPI QueryServiceStatus(SC_HANDLE hService, LPSERVICE_STATUS lpServiceStatus) {
    auto service = LookupHandleAs<ServiceObject>(hService, HandleKind::Service);
    if (service == nullptr) return Fail(ERROR_INVALID_HANDLE);
    if (lpServiceStatus == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (!(service->access & SERVICE_QUERY_STATUS)) return Fail(ERROR_ACCESS_DENIED);
    Database& db = TheDatabase();
    std::lock_guard<std::mutex> guard(db.lock);
    FillStatus(*service->record, lpServiceStatus);
    return TRUE;
}

// The registration as CreateServiceA made it: the record, then its strings
// (image path, display name, and empty group, dependencies and account).
extern "C" BOOL WINAPI QueryServiceConfigA(SC_HANDLE hService, LPQUERY_SERVICE_CONFIGA lpServiceConfig,
                                           DWORD cbBufSize, LPDWORD pcbBytesNeeded) {
    auto service = LookupHandleAs<ServiceObject>(hService, HandleKind::Service);
    if (service == nullptr) return Fail(ERROR_INVALID_HANDLE);
    if (pcbBytesNeeded == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (!(service->access & SERVICE_QUERY_CONFIG)) return Fail(ERROR_ACCESS_DENIED);
    Database& db = TheDatabase();
    std::lock_guard<std::mutex> guard(db.lock);
    const ServiceRecord& record = *service->record;
    size_t needed =
        sizeof(QUERY_SERVICE_CONFIGA) + record.imagePath.size() + 1 + record.displayName.size() + 1 + 4;
    *pcbBytesNeeded = static_cast<DWORD>(needed);
    if (lpServiceConfig == nullptr || cbBufSize < needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
    char* strings = reinterpret_cast<char*>(lpServiceConfig + 1);
    auto put = [&strings](const std::string& text) {
        char* at = strings;
        memcpy(at, text.c_str(), text.size() + 1);
        strings += text.size() + 1;
        return at;
    };
    lpServiceConfig->dwServiceType = record.type;
    lpServiceConfig->dwStartType = record.startType;
    lpServiceConfig->dwErrorControl = record.errorControl;
    lpServiceConfig->dwTagId = 0;
    lpServiceConfig->lpBinaryPathName = put(record.imagePath);
    lpServiceConfig->lpDisplayName = put(record.displayName);
    lpServiceConfig->lpLoadOrderGroup = put("");
    lpServiceConfig->lpDependencies = strings;  // an empty double-terminated list
    *strings++ = '\0';
    *strings++ = '\0';
    lpServiceConfig->lpServiceStartName = put("");
    return TRUE;
}

extern "C" BOOL WINAPI DeleteService(SC_HANDLE hService) {
    auto service = LookupHandleAs<ServiceObject>(hService, HandleKind::Service);
    if (service == nullptr) return Fail(ERROR_INVALID_HANDLE);
    if (!(service->access & DELETE)) return Fail(ERROR_ACCESS_DENIED);
    Database& db = TheDatabase();
    std::lock_guard<std::mutex> guard(db.lock);
    if (service->record->markedForDelete) return Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
    service->record->markedForDelete = true;
    return TRUE;
}

extern "C" BOOL WINAPI CloseServiceHandle(SC_HANDLE hSCObject) {
    HANDLE handle = reinterpret_cast<HANDLE>(hSCObject);
    if (RemoveHandle(handle, HandleKind::ServiceManager) != nullptr) return TRUE;
    auto service = std::static_pointer_cast<ServiceObject>(RemoveHandle(handle, HandleKind::Service));
    if (service == nullptr) return Fail(ERROR_INVALID_HANDLE);
    Database& db = TheDatabase();
    std::lock_guard<std::mutex> guard(db.lock);
    --service->record->openHandles;
    RemoveIfDone(db, service->record);
    return TRUE;
}
