// qvaccess.dll: the test bed's part in a client of the driver, loaded into
// it by qvlaunch.exe --inject. The client's calls of CreateFileA and
// CreateFileW reach this DLL first (their entries in the program's import
// address table are pointed here in memory): before a device is opened
// ("\\.\NAME", not a pipe), the access asked for is announced to the driver
// host through the hardware pipe, which gives it to the driver with the
// create request (open_access.h); an open that fails takes its announcement
// back. Where no driver host serves the pipe the open goes ahead unannounced.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "hardware_control.h"
#include "import_patch.h"

namespace {

bool IsDevicePath(const char* name) {
    return name != NULL && strncmp(name, "\\\\.\\", 4) == 0 && _strnicmp(name + 4, "pipe\\", 5) != 0;
}

bool IsDevicePath(const wchar_t* name) {
    return name != NULL && wcsncmp(name, L"\\\\.\\", 4) == 0 && _wcsnicmp(name + 4, L"pipe\\", 5) != 0;
}

// The pipe serves one request at a time: a busy pipe is waited for (two
// seconds at most); a pipe that is not there has no driver host behind it.
void Tell(const char* request) {
    char answer[16];
    DWORD length = 0;
    const DWORD started = GetTickCount();
    while (!CallNamedPipeA(kHardwarePipeName, const_cast<char*>(request), (DWORD)strlen(request), answer,
                           sizeof answer, &length, 2000) &&
           GetLastError() == ERROR_PIPE_BUSY && GetTickCount() - started < 2000) {
        Sleep(5);
    }
}

void Announce(DWORD access) {
    char request[64];
    snprintf(request, sizeof request, "open %lx %lx", GetCurrentProcessId(), access);
    Tell(request);
}

// After the open: a failed one takes its announcement back, leaving the
// caller's last error as the open left it.
HANDLE Opened(HANDLE handle) {
    if (handle != INVALID_HANDLE_VALUE) return handle;
    DWORD error = GetLastError();
    char request[64];
    snprintf(request, sizeof request, "withdraw %lx", GetCurrentProcessId());
    Tell(request);
    SetLastError(error);
    return handle;
}

HANDLE WINAPI AnnouncingCreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                    DWORD disposition, DWORD flags, HANDLE templateFile) {
    if (!IsDevicePath(name))
        return CreateFileA(name, access, share, security, disposition, flags, templateFile);
    Announce(access);
    return Opened(CreateFileA(name, access, share, security, disposition, flags, templateFile));
}

HANDLE WINAPI AnnouncingCreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                    DWORD disposition, DWORD flags, HANDLE templateFile) {
    if (!IsDevicePath(name))
        return CreateFileW(name, access, share, security, disposition, flags, templateFile);
    Announce(access);
    return Opened(CreateFileW(name, access, share, security, disposition, flags, templateFile));
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        const ServedImport served[] = {
            {"kernel32.dll", "CreateFileA", reinterpret_cast<void*>(&AnnouncingCreateFileA)},
            {"kernel32.dll", "CreateFileW", reinterpret_cast<void*>(&AnnouncingCreateFileW)},
        };
        PatchImports(GetModuleHandleA(NULL), served, 2);
    }
    return TRUE;
}
