// The device channel: DeviceHandle, opened once at start-up. When the driver
// is not loaded yet, it is installed from the current directory and started
// as the "QUORVENAL" service, and the device opened again. The driver file
// is held open from the moment it is found until the service has started,
// so that the file the kernel loads is the file that was found.
#include "device_channel.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <winioctl.h>

#include "../ioctl/sys/quorvenal_ioctl.h"
#include "diagnostics.h"
#include "service_control.h"

HANDLE DeviceHandle = 0;

namespace {

const char kDriverFileName[] = "\\" QUORVENAL_DRIVER_NAME ".sys";
// The longest current directory that leaves room for the file name and the
// terminator in a MAX_PATH buffer.
const DWORD kMaxDriverDirectory = MAX_PATH - (sizeof(kDriverFileName) - 1) - 1;

HANDLE OpenDriverDevice() {
    return CreateFileA(QUORVENAL_USER_DEVICE, GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, NULL);
}

void ReportDriverMissing(const char* directory) {
    PrintDiagnostic("Driver: %s.SYS is not in the %s directory. \n", QUORVENAL_DRIVER_NAME, directory);
}

// A directory too long for the driver path is refused as a missing driver.
// When even the path buffer could not take it, it is read once more into a
// buffer of its own size for the message.
void ReportDirectoryTooLong(const char* pathBuffer, DWORD length) {
    if (length < MAX_PATH) {
        ReportDriverMissing(pathBuffer);
        return;
    }
    char* directory = static_cast<char*>(malloc(length));
    DWORD read = directory != NULL ? GetCurrentDirectoryA(length, directory) : 0;
    ReportDriverMissing(read != 0 && read < length ? directory : "");
    free(directory);
}

}  // namespace

bool LocateDriverFile(char* pathBuffer, HANDLE* held) {
    *held = INVALID_HANDLE_VALUE;
    DWORD length = GetCurrentDirectoryA(MAX_PATH, pathBuffer);
    if (length == 0) {
        PrintDiagnostic("GetCurrentDirectory failed!  Error = %d \n", (int)GetLastError());
        return false;
    }
    if (length > kMaxDriverDirectory) {
        ReportDirectoryTooLong(pathBuffer, length);
        return false;
    }
    strcat(pathBuffer, kDriverFileName);
    HANDLE file = CreateFileA(pathBuffer, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        pathBuffer[length] = '\0';
        ReportDriverMissing(pathBuffer);
        pathBuffer[length] = '\\';
        return false;
    }
    *held = file;
    return true;
}

int OpenDeviceChannel(char* pathBuffer) {
    DeviceHandle = OpenDriverDevice();
    if (DeviceHandle != INVALID_HANDLE_VALUE) return kChannelOpen;  // the driver was already loaded

    DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) {
        PrintDiagnostic("CreateFile failed!  ERROR_FILE_NOT_FOUND = %d\n", (int)error);
        return kChannelFailed;
    }
    HANDLE driverFile = INVALID_HANDLE_VALUE;
    if (!LocateDriverFile(pathBuffer, &driverFile)) return kChannelFailed;

    bool installed = ManageDriver(DRIVER_SERVICE_NAME, pathBuffer, kInstallDriver);
    CloseHandle(driverFile);  // loaded (or not): the file may change now
    if (!installed) {
        PrintDiagnostic("Unable to install driver.\n");
        ManageDriver(DRIVER_SERVICE_NAME, pathBuffer, kRemoveDriver);
        return kChannelFailed;
    }
    DeviceHandle = OpenDriverDevice();
    if (DeviceHandle != INVALID_HANDLE_VALUE) return kChannelOpen;
    PrintDiagnostic("Error: CreatFile Failed : %d\n", (int)GetLastError());
    return kChannelFailed;  // the service stays; the caller's failure path removes it
}
