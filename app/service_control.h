// Creating, starting, stopping and deleting the driver's kernel service.
#ifndef QUORVENAL_SERVICE_CONTROL_H
#define QUORVENAL_SERVICE_CONTROL_H

#include <windows.h>
#include <winsvc.h>

#include "../ioctl/sys/quorvenal_ioctl.h"

#define DRIVER_SERVICE_NAME QUORVENAL_DRIVER_NAME

enum ManageDriverCode : USHORT {
    kInstallDriver = 1,  // create, then start
    kRemoveDriver = 2,   // stop, then delete
};

bool CreateDriverService(SC_HANDLE manager, LPCSTR serviceName, LPCSTR imagePath);
bool StartDriverService(SC_HANDLE manager, LPCSTR serviceName);
bool StopDriverService(SC_HANDLE manager, LPCSTR serviceName);
bool DeleteDriverService(SC_HANDLE manager, LPCSTR serviceName);
bool ManageDriver(LPCSTR serviceName, LPCSTR imagePath, USHORT function);
bool UninstallDriverService();

#endif
