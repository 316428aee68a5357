#include "service_steps.h"

#include <stdio.h>
#include <string.h>

namespace {

Outcome Succeeded() { return Outcome{TRUE, 0, 0}; }

Outcome Failed() { return Outcome{FALSE, GetLastError(), 0}; }

}  // namespace

bool DriverImagePath(const char* fileName, char* path, DWORD size) {
    DWORD length = GetCurrentDirectoryA(size, path);
    if (length == 0 || length + 1 + strlen(fileName) + 1 > size) {
        Note("image-path", "current directory cannot be used");
        return false;
    }
    path[length] = '\\';
    strcpy(path + length + 1, fileName);
    return true;
}

SC_HANDLE StepOpenManager(const char* step) {
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    Report(step, manager ? Succeeded() : Failed(), ExpectOk(), "");
    return manager;
}

Outcome StepCreateService(const char* step, SC_HANDLE manager, const char* name, const char* path,
                          const Expect& expect) {
    SC_HANDLE service =
        CreateServiceA(manager, name, name, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                       SERVICE_ERROR_NORMAL, path, NULL, NULL, NULL, NULL, NULL);
    Outcome outcome = service ? Succeeded() : Failed();
    if (service) {
        CloseServiceHandle(service);
    }
    Report(step, outcome, expect, "");
    return outcome;
}

Outcome StepOpenService(const char* step, SC_HANDLE manager, const char* name, const Expect& expect) {
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_ALL_ACCESS);
    Outcome outcome = service ? Succeeded() : Failed();
    if (service) {
        CloseServiceHandle(service);
    }
    Report(step, outcome, expect, "");
    return outcome;
}

Outcome StepStartService(const char* step, SC_HANDLE manager, const char* name, const Expect& expect) {
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_ALL_ACCESS);
    if (!service) {
        Outcome outcome = Failed();
        Report(step, outcome, expect, "(open)");
        return outcome;
    }
    Outcome outcome = StartServiceA(service, 0, NULL) ? Succeeded() : Failed();
    CloseServiceHandle(service);
    Report(step, outcome, expect, "");
    return outcome;
}

Outcome StepStopService(const char* step, SC_HANDLE manager, const char* name, const Expect& expect) {
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_ALL_ACCESS);
    if (!service) {
        Outcome outcome = Failed();
        Report(step, outcome, expect, "(open)");
        return outcome;
    }
    SERVICE_STATUS status;
    memset(&status, 0, sizeof status);
    Outcome outcome = ControlService(service, SERVICE_CONTROL_STOP, &status) ? Succeeded() : Failed();
    CloseServiceHandle(service);
    Report(step, outcome, expect, "");
    return outcome;
}

Outcome StepDeleteService(const char* step, SC_HANDLE manager, const char* name, const Expect& expect) {
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_ALL_ACCESS);
    if (!service) {
        Outcome outcome = Failed();
        Report(step, outcome, expect, "(open)");
        return outcome;
    }
    Outcome outcome = DeleteService(service) ? Succeeded() : Failed();
    CloseServiceHandle(service);
    Report(step, outcome, expect, "");
    return outcome;
}

void RemoveQuietly(SC_HANDLE manager, const char* name) {
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_ALL_ACCESS);
    if (!service) {
        return;
    }
    SERVICE_STATUS status;
    ControlService(service, SERVICE_CONTROL_STOP, &status);
    DeleteService(service);
    CloseServiceHandle(service);
}
