// The calling thread's last error, as kernel32 keeps it in the thread block.
#include <windows.h>

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}

extern "C" DWORD WINAPI GetLastError(void) { return lastError; }

extern "C" VOID WINAPI SetLastError(DWORD dwErrCode) { lastError = dwErrCode; }
