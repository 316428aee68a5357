// The one handle through which the program talks to its driver.
#ifndef QUORVENAL_DEVICE_CHANNEL_H
#define QUORVENAL_DEVICE_CHANNEL_H

#include <windows.h>

// 0 until the first open attempt; INVALID_HANDLE_VALUE after a failed one.
extern HANDLE DeviceHandle;

enum { kChannelFailed = 0, kChannelOpen = 1 };

// Opens DeviceHandle, installing and starting the driver from the current
// directory when the device is absent. pathBuffer holds MAX_PATH characters.
// Returns kChannelOpen when DeviceHandle is open, kChannelFailed otherwise.
int OpenDeviceChannel(char* pathBuffer);

// Builds "<current directory>\QUORVENAL.sys" in pathBuffer (MAX_PATH
// characters) and opens the file for reading, sharing reading only: while
// *held is open nobody can write, delete or rename it, and the kernel's
// loader (which reads it) still can. The caller closes *held once the
// service has started. False (and *held INVALID_HANDLE_VALUE) when the file
// cannot be opened so.
bool LocateDriverFile(char* pathBuffer, HANDLE* held);

#endif
