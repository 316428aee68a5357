// The driver's kernel service: four primitive operations on the service
// control manager, the install/remove dispatcher and the start-up/exit
// shorthand. Every handle opened here is closed before its operation returns.
#include "service_control.h"

#include "diagnostics.h"

bool CreateDriverService(SC_HANDLE manager, LPCSTR serviceName, LPCSTR imagePath) {
    SC_HANDLE service =
        CreateServiceA(manager, serviceName, serviceName, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                       SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, imagePath, NULL, NULL, NULL, NULL, NULL);
    if (service != NULL) {
        CloseServiceHandle(service);
        return true;
    }
    DWORD error = GetLastError();
    if (error == ERROR_SERVICE_EXISTS) return true;  // the registration is left as it is
    PrintDiagnostic("CreateService failed!  Error = %d \n", (int)error);
    return false;
}

// Opens the service for full access, printing the open failure.
static SC_HANDLE OpenDriverService(SC_HANDLE manager, LPCSTR serviceName) {
    SC_HANDLE service = OpenServiceA(manager, serviceName, SERVICE_ALL_ACCESS);
    if (service == NULL) PrintDiagnostic("OpenService failed!  Error = %d \n", (int)GetLastError());
    return service;
}

bool StartDriverService(SC_HANDLE manager, LPCSTR serviceName) {
    SC_HANDLE service = OpenDriverService(manager, serviceName);
    if (service == NULL) return false;
    bool started = true;
    if (!StartServiceA(service, 0, NULL)) {
        DWORD error = GetLastError();
        if (error != ERROR_SERVICE_ALREADY_RUNNING) {
            PrintDiagnostic("StartService failure! Error = %d \n", (int)error);
            started = false;
        }
    }
    CloseServiceHandle(service);
    return started;
}

bool StopDriverService(SC_HANDLE manager, LPCSTR serviceName) {
    SC_HANDLE service = OpenDriverService(manager, serviceName);
    if (service == NULL) return false;
    SERVICE_STATUS status;
    bool stopped = true;
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) {
        PrintDiagnostic("ControlService failed!  Error = %d \n", (int)GetLastError());
        stopped = false;
    }
    CloseServiceHandle(service);
    return stopped;
}

bool DeleteDriverService(SC_HANDLE manager, LPCSTR serviceName) {
    SC_HANDLE service = OpenDriverService(manager, serviceName);
    if (service == NULL) return false;
    bool deleted = true;
    if (!DeleteService(service)) {
        PrintDiagnostic("DeleteService failed!  Error = %d \n", (int)GetLastError());
        deleted = false;
    }
    CloseServiceHandle(service);
    return deleted;
}

bool ManageDriver(LPCSTR serviceName, LPCSTR imagePath, USHORT function) {
    if (serviceName == NULL || (imagePath == NULL && function != kRemoveDriver)) {
        PrintDiagnostic("Invalid Driver or Service provided to ManageDriver() \n");
        return false;
    }
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (manager == NULL) {
        PrintDiagnostic("Open SC Manager failed! Error = %d \n", (int)GetLastError());
        return false;
    }
    bool result;
    switch (function) {
        case kInstallDriver:
            // A created service that fails to start is left for the caller to remove.
            result = CreateDriverService(manager, serviceName, imagePath) &&
                     StartDriverService(manager, serviceName);
            break;
        case kRemoveDriver:
            // Both steps run whatever the stop does; a removal always succeeds.
            StopDriverService(manager, serviceName);
            DeleteDriverService(manager, serviceName);
            result = true;
            break;
        default:
            PrintDiagnostic("Unknown ManageDriver() function. \n");
            result = false;
            break;
    }
    CloseServiceHandle(manager);
    return result;
}

bool UninstallDriverService() { return ManageDriver(DRIVER_SERVICE_NAME, NULL, kRemoveDriver); }
