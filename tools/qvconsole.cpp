// qvconsole: installs the driver from the current folder, opens its device,
// reads the configuration header of one function (bus 0, device 0, function
// 0 unless given as "B D F" in decimal), prints it and removes the service.
// Exit code 0 when the header was read, 1 otherwise.
#include <windows.h>
#include <winioctl.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "device_channel.h"
#include "driver_request.h"
#include "service_control.h"

static void PrintHeader(const ConfigRequest& request) {
    printf("%02X:%02X.%X result %u\n", request.Bus, request.Device, request.Function, request.Result);
    for (int row = 0; row < kConfigHeaderBytes; row += 16) {
        printf("%02x:", row);
        for (int column = 0; column < 16; ++column) printf(" %02x", request.Data[row + column]);
        printf("\n");
    }
}

static bool ParseNumber(const char* text, unsigned limit, QvU32* value) {
    char* end = NULL;
    unsigned long number = strtoul(text, &end, 10);
    if (end == text || *end != '\0' || number > limit) return false;
    *value = (QvU32)number;
    return true;
}

int main(int argc, char** argv) {
    ConfigRequest request;
    memset(&request, 0, sizeof(request));
    if (argc == 4) {
        if (!ParseNumber(argv[1], 255, &request.Bus) || !ParseNumber(argv[2], 31, &request.Device) ||
            !ParseNumber(argv[3], 7, &request.Function)) {
            printf("usage: qvconsole [bus device function]\n");
            return 2;
        }
    } else if (argc != 1) {
        printf("usage: qvconsole [bus device function]\n");
        return 2;
    }

    UninstallDriverService();  // whatever an earlier run left behind
    char driverPath[MAX_PATH];
    if (OpenDeviceChannel(driverPath) != kChannelOpen) {
        printf("The driver could not be opened.\n");
        UninstallDriverService();
        return 1;
    }
    bool read = SendDriverRequest(IOCTL_READ_CONFIG, &request, sizeof(request));
    if (read) PrintHeader(request);
    else printf("\n");

    CloseHandle(DeviceHandle);  // lets the stop below unload the driver at once
    DeviceHandle = INVALID_HANDLE_VALUE;
    UninstallDriverService();
    return read ? 0 : 1;
}
