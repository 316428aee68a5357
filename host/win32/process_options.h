// How the stand-in process runs, for the launcher and the tests: with or
// without administrator rights, and with services left from an earlier run.
#ifndef STANDIN_WIN32_PROCESS_OPTIONS_H
#define STANDIN_WIN32_PROCESS_OPTIONS_H

#include <windows.h>

#include <functional>
#include <string>

namespace standin {

// An administrator (the default) may manage services. Without it, opening the
// service manager for anything but reading fails with ERROR_ACCESS_DENIED.
// The process's token follows (an administrator's or an ordinary user's):
// what devices it may open is the kernel's access check against each
// device's security.
void SetAdministrator(bool administrator);
bool IsAdministrator();

// Registers a demand-start kernel-driver service called name, as an earlier
// run of a program would have left it, and starts it: its driver is loaded
// from imagePath (a Windows path, e.g. "Z:\home\me\build\QUORVENAL.sys").
// Works whatever the rights of the process. Returns ERROR_SUCCESS or the
// error of the create or of the start (a failed start leaves the service
// registered and stopped).
DWORD RegisterRunningService(const std::string& name, const std::string& imagePath);

// A function a test runs each time a service start is about to hand the
// driver file (its Linux path) to the kernel's loader, in the starting
// thread: whatever it does to the file in between (through the Win32 file
// routines) is what the loader then meets. Empty: none.
void SetBeforeImageLoad(std::function<void(const std::string& linuxPath)> hook);

// Back to a fresh machine: every device handle and service-manager handle of
// the process is closed, every driver that a service loaded is unloaded and
// every service forgotten.
void ResetServiceDatabase();

// How many handles the process holds: files, devices and the service
// manager's handles together.
size_t OpenHandleCount();

// The Windows path the process sees for an absolute Linux path.
std::string WindowsPathOf(const std::string& linuxPath);

}  // namespace standin

#endif
