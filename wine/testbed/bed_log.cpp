#include "bed_log.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>

#include "bed_files.h"

namespace {

void WriteLine(const char* prefix, const char* format, va_list arguments) {
    char line[512];
    int used = snprintf(line, sizeof line, "%s", prefix);
    vsnprintf(line + used, sizeof line - used - 2, format, arguments);
    size_t length = strlen(line);
    line[length++] = '\r';
    line[length++] = '\n';
    HANDLE file = CreateFileA(kBedLogFile, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, line, (DWORD)length, &written, NULL);
    CloseHandle(file);
}

}  // namespace

void BedLog(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    WriteLine("", format, arguments);
    va_end(arguments);
}

void BedStop(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    WriteLine("STOP: ", format, arguments);
    va_end(arguments);
    TerminateProcess(GetCurrentProcess(), 0xDEAD);
    for (;;) Sleep(INFINITE);
}
