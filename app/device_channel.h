// The one handle through which the program talks to its driver.
#ifndef QUORVENAL_DEVICE_CHANNEL_H
#define QUORVENAL_DEVICE_CHANNEL_H

#include <windows.h>

// 0 until the first open attempt; INVALID_HANDLE_VALUE after a failed one.
extern HANDLE DeviceHandle;

// Opens DeviceHandle, installing and starting the driver from the current
// directory when the device is absent. pathBuffer holds MAX_PATH characters.
// Returns 1 when DeviceHandle is open, 0 otherwise.
int OpenDeviceChannel(char* pathBuffer);

// Builds "<current directory>\QUORVENAL.sys" in pathBuffer (MAX_PATH
// characters) and checks that the file can be opened for reading.
bool LocateDriverFile(char* pathBuffer);

#endif
