// Files: CreateFileA over the Linux file system with Windows' dispositions,
// sharing and error codes; CloseHandle, ReadFile and WriteFile; DeleteFileA
// and MoveFileA, which open the file for deletion first and so fail while a
// handle to it does not share deleting; and the sharing check of the
// kernel's image loader. Names of the form "\\.\Name" go to the device side
// (device_api.cpp).
#include <windows.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <string>

#include "win32/device_api.h"
#include "win32/file_sharing.h"
#include "win32/handle_table.h"
#include "win32/path_mapping.h"

namespace standin {
namespace {

struct FileObject : HandleObject {
    FileObject() : HandleObject(HandleKind::File) {}
    ~FileObject() override {
        if (fd >= 0) close(fd);
    }
    int fd = -1;
    dev_t deviceId = 0;
    ino_t inode = 0;
    bool canRead = false;
    bool canWrite = false;
    bool canDelete = false;
    DWORD share = 0;
};

// Serialises the sharing check with the entry of the new handle.
std::mutex& OpenLock() {
    static std::mutex lock;
    return lock;
}

bool WantsRead(DWORD access) { return (access & (GENERIC_READ | GENERIC_ALL | FILE_READ_DATA)) != 0; }
bool WantsWrite(DWORD access) {
    return (access & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0;
}

bool FolderExists(const std::string& linuxPath) {
    size_t slash = linuxPath.find_last_of('/');
    std::string folder = (slash == 0 || slash == std::string::npos) ? "/" : linuxPath.substr(0, slash);
    struct stat info;
    return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The error Windows gives for an open that failed with err on linuxPath.
DWORD OpenErrorToWin32(int err, const std::string& linuxPath) {
    switch (err) {
        case ENOENT: return FolderExists(linuxPath) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
        case ENOTDIR:
        case ELOOP: return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EISDIR:
        case EROFS:
        case ETXTBSY: return ERROR_ACCESS_DENIED;
        case EEXIST: return ERROR_FILE_EXISTS;
        case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
        case EMFILE:
        case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
        case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
        default: return ERROR_GEN_FAILURE;
    }
}

// Two opens of one file conflict when either wants what the other does not share.
bool SharingConflicts(const FileObject& open, bool read, bool write, bool remove, DWORD share) {
    if (read && !(open.share & FILE_SHARE_READ)) return true;
    if (write && !(open.share & FILE_SHARE_WRITE)) return true;
    if (remove && !(open.share & FILE_SHARE_DELETE)) return true;
    if (open.canRead && !(share & FILE_SHARE_READ)) return true;
    if (open.canWrite && !(share & FILE_SHARE_WRITE)) return true;
    if (open.canDelete && !(share & FILE_SHARE_DELETE)) return true;
    return false;
}

// Whether an open of the existing file at linuxPath for the access given
// conflicts with a handle already open on it. Called with OpenLock held.
bool ConflictsWithOpenHandles(const struct stat& file, bool read, bool write, bool remove, DWORD share) {
    bool conflict = false;
    ForEachHandle([&](HandleObject& object) {
        if (object.kind != HandleKind::File) return;
        auto& open = static_cast<FileObject&>(object);
        if (open.deviceId == file.st_dev && open.inode == file.st_ino &&
            SharingConflicts(open, read, write, remove, share)) {
            conflict = true;
        }
    });
    return conflict;
}

bool WantsDelete(DWORD access) { return (access & (DELETE | GENERIC_ALL)) != 0; }

HANDLE Fail(DWORD error) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

HANDLE OpenFileHandle(LPCSTR name, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    std::string linuxPath;
    DWORD error = WindowsToLinuxPath(name, &linuxPath);
    if (error != ERROR_SUCCESS) return Fail(error);
    linuxPath = MatchCaseInsensitively(linuxPath);

    bool read = WantsRead(access);
    bool write = WantsWrite(access);
    if (disposition == TRUNCATE_EXISTING && !write) return Fail(ERROR_INVALID_PARAMETER);

    int openFlags = O_CLOEXEC;
    switch (disposition) {
        case CREATE_NEW: openFlags |= O_CREAT | O_EXCL; break;
        case CREATE_ALWAYS: openFlags |= O_CREAT | O_TRUNC; break;
        case OPEN_ALWAYS: openFlags |= O_CREAT; break;
        case TRUNCATE_EXISTING: openFlags |= O_TRUNC; break;
        default: break;
    }
    bool changes = (openFlags & (O_CREAT | O_TRUNC)) != 0;
    if (read && (write || changes)) {
        openFlags |= O_RDWR;
    } else if (write || changes) {
        openFlags |= O_WRONLY;
    } else if (read) {
        openFlags |= O_RDONLY;
    } else {
        openFlags |= O_PATH;  // attributes only
    }
    mode_t mode = (flags & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;

    std::lock_guard<std::mutex> guard(OpenLock());
    struct stat before;
    bool existed = stat(linuxPath.c_str(), &before) == 0;
    if (existed && S_ISDIR(before.st_mode) && !(flags & FILE_FLAG_BACKUP_SEMANTICS)) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    if (existed && !S_ISDIR(before.st_mode) &&
        ConflictsWithOpenHandles(before, read, write || changes, WantsDelete(access), share)) {
        return Fail(ERROR_SHARING_VIOLATION);
    }

    int fd = open(linuxPath.c_str(), openFlags, mode);
    if (fd < 0) return Fail(OpenErrorToWin32(errno, linuxPath));
    auto file = std::make_shared<FileObject>();
    file->fd = fd;
    struct stat info;
    if (fstat(fd, &info) == 0) {
        file->deviceId = info.st_dev;
        file->inode = info.st_ino;
    }
    file->canRead = read;
    file->canWrite = write;
    file->canDelete = WantsDelete(access);
    file->share = share;
    HANDLE handle = InsertHandle(std::move(file));
    bool reportsExisting = disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
    SetLastError(existed && reportsExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

// The existing regular file a Windows path names, for DeleteFileA and
// MoveFileA; the error Windows gives otherwise.
DWORD ExistingFile(LPCSTR name, std::string* linuxPath, struct stat* info) {
    if (name == nullptr) return ERROR_INVALID_PARAMETER;
    DWORD error = WindowsToLinuxPath(name, linuxPath);
    if (error != ERROR_SUCCESS) return error;
    *linuxPath = MatchCaseInsensitively(*linuxPath);
    if (stat(linuxPath->c_str(), info) != 0) return OpenErrorToWin32(errno, *linuxPath);
    if (S_ISDIR(info->st_mode)) return ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
}

}  // namespace

DWORD CheckImageLoadSharing(const std::string& linuxPath) {
    std::lock_guard<std::mutex> guard(OpenLock());
    struct stat info;
    if (stat(linuxPath.c_str(), &info) != 0) return ERROR_FILE_NOT_FOUND;
    // The loader reads (FILE_EXECUTE counts as reading) and shares reading
    // and deleting, not writing.
    if (ConflictsWithOpenHandles(info, true, false, false, FILE_SHARE_READ | FILE_SHARE_DELETE)) {
        return ERROR_SHARING_VIOLATION;
    }
    return ERROR_SUCCESS;
}

}  // namespace standin

using namespace standin;

extern "C" BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
    std::string linuxPath;
    struct stat info;
    std::lock_guard<std::mutex> guard(OpenLock());
    DWORD error = ExistingFile(lpFileName, &linuxPath, &info);
    if (error == ERROR_SUCCESS && ConflictsWithOpenHandles(info, false, false, true, 0)) {
        error = ERROR_SHARING_VIOLATION;
    }
    if (error == ERROR_SUCCESS && unlink(linuxPath.c_str()) != 0) error = OpenErrorToWin32(errno, linuxPath);
    SetLastError(error);
    return error == ERROR_SUCCESS;
}

extern "C" BOOL WINAPI MoveFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName) {
    std::string from;
    struct stat info;
    std::lock_guard<std::mutex> guard(OpenLock());
    DWORD error = ExistingFile(lpExistingFileName, &from, &info);
    std::string to;
    if (error == ERROR_SUCCESS) {
        error = lpNewFileName == nullptr ? ERROR_INVALID_PARAMETER : WindowsToLinuxPath(lpNewFileName, &to);
    }
    struct stat target;
    if (error == ERROR_SUCCESS && stat(to.c_str(), &target) == 0) error = ERROR_ALREADY_EXISTS;
    if (error == ERROR_SUCCESS && ConflictsWithOpenHandles(info, false, false, true, 0)) {
        error = ERROR_SHARING_VIOLATION;
    }
    if (error == ERROR_SUCCESS && rename(from.c_str(), to.c_str()) != 0) error = OpenErrorToWin32(errno, to);
    SetLastError(error);
    return error == ERROR_SUCCESS;
}

extern "C" HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                     LPSECURITY_ATTRIBUTES, DWORD dwCreationDisposition,
                                     DWORD dwFlagsAndAttributes, HANDLE) {
    if (lpFileName == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (dwCreationDisposition < CREATE_NEW || dwCreationDisposition > TRUNCATE_EXISTING) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (IsDeviceName(lpFileName)) {
        return OpenDeviceHandle(lpFileName, dwDesiredAccess, dwCreationDisposition);
    }
    return OpenFileHandle(lpFileName, dwDesiredAccess, dwShareMode, dwCreationDisposition,
                          dwFlagsAndAttributes);
}

extern "C" BOOL WINAPI CloseHandle(HANDLE hObject) {
    if (RemoveHandle(hObject, HandleKind::File) != nullptr) return TRUE;
    if (CloseDeviceHandle(hObject)) return TRUE;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

extern "C" BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                                LPDWORD lpNumberOfBytesRead, LPOVERLAPPED) {
    if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = 0;
    if (LookupHandle(hFile, HandleKind::Device) != nullptr) {
        SetLastError(ERROR_INVALID_FUNCTION);  // the driver serves no reads
        return FALSE;
    }
    auto file = LookupHandleAs<FileObject>(hFile, HandleKind::File);
    if (file == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (lpNumberOfBytesRead == nullptr || (lpBuffer == nullptr && nNumberOfBytesToRead != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!file->canRead) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    DWORD done = 0;
    while (done < nNumberOfBytesToRead) {
        ssize_t got = read(file->fd, static_cast<char*>(lpBuffer) + done, nNumberOfBytesToRead - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            SetLastError(ERROR_GEN_FAILURE);
            return FALSE;
        }
        if (got == 0) break;
        done += static_cast<DWORD>(got);
    }
    *lpNumberOfBytesRead = done;
    return TRUE;
}

extern "C" BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                                 LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED) {
    if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = 0;
    if (LookupHandle(hFile, HandleKind::Device) != nullptr) {
        SetLastError(ERROR_INVALID_FUNCTION);  // the driver serves no writes
        return FALSE;
    }
    auto file = LookupHandleAs<FileObject>(hFile, HandleKind::File);
    if (file == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (lpNumberOfBytesWritten == nullptr || (lpBuffer == nullptr && nNumberOfBytesToWrite != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!file->canWrite) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    DWORD done = 0;
    while (done < nNumberOfBytesToWrite) {
        ssize_t put =
            write(file->fd, static_cast<const char*>(lpBuffer) + done, nNumberOfBytesToWrite - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            SetLastError(ERROR_GEN_FAILURE);
            return FALSE;
        }
        done += static_cast<DWORD>(put);
    }
    *lpNumberOfBytesWritten = done;
    return TRUE;
}
