// GetCurrentDirectoryA: the Linux working directory as the Windows path the
// process sees ("Z:\home\me\build"), with Windows' answer for a buffer that
// is too small: nothing written, the size needed (terminator included).
#include <windows.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "win32/path_mapping.h"

extern "C" DWORD WINAPI GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer) {
    std::string linuxPath;
    if (!standin::LinuxCurrentDirectory(&linuxPath)) {
        // A directory removed under the process reads as not found.
        SetLastError(errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
        return 0;
    }
    std::string windowsPath = standin::LinuxToWindowsPath(linuxPath);
    DWORD length = static_cast<DWORD>(windowsPath.size());
    if (nBufferLength <= length) return length + 1;
    if (lpBuffer == nullptr) {
        SetLastError(ERROR_NOACCESS);
        return 0;
    }
    memcpy(lpBuffer, windowsPath.c_str(), length + 1);
    return length;
}
