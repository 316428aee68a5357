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
// characters) and checks that the file can be opened for reading.
bool LocateDriverFile(char* pathBuffer);

#endif
