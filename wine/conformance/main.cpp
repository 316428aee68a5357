// qvconform: drives the service control manager and QUORVENAL.sys as any
// client would, and prints one transcript line per step. Run it in the folder
// that holds QUORVENAL.sys. The transcript is the same wherever the system
// behaves as Windows does; a line marked UNEXPECTED breaks a rule of the
// driver or the service manager, and the exit code is then 1.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "quorvenal_ioctl.h"

#include "access_steps.h"
#include "request_steps.h"
#include "service_steps.h"
#include "transcript.h"

namespace {

const char kService[] = "QUORVENAL";
const char kMissingService[] = "QVCONFORMMISSING";

const DWORD kErrorFileNotFound = 2;
const DWORD kErrorServiceAlreadyRunning = 1056;
const DWORD kErrorServiceDoesNotExist = 1060;
const DWORD kErrorServiceNotActive = 1062;
const DWORD kErrorServiceExists = 1073;

ScanFindings findings;

// The device goes away once the driver has unloaded. A stop request may
// return a moment before that, so the open is retried a bounded number of
// times (each attempt is a round trip to the device manager).
void StepDeviceGone(const char* step) {
    for (int attempt = 0; attempt < 5000; ++attempt) {
        HANDLE device = CreateFileA(QUORVENAL_USER_DEVICE, GENERIC_READ | GENERIC_WRITE, 0, NULL,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
        if (device == INVALID_HANDLE_VALUE) {
            break;
        }
        CloseHandle(device);
    }
    HANDLE device = StepOpenDevice(step, OPEN_EXISTING, ExpectError(kErrorFileNotFound));
    if (device != INVALID_HANDLE_VALUE) {
        CloseHandle(device);
    }
}

void DriverSession(HANDLE device) {
    // The base is unknown until a present function has been read.
    StepExtendedReadOnce("extended read before the base is known", device, 1);
    StepLengthRules(device);
    StepScan(device, &findings);
    StepExtendedReadOnce("extended read once the base is known", device, 0);
    StepAddressMasking(device, findings);
    if (findings.presentCount > 0) {
        StepRanges(device, findings.present[0]);
    }
    StepHeaderWrites(device, findings);
    StepExtended(device, findings);
}

}  // namespace

int main() {
    char imagePath[MAX_PATH];
    char missingPath[MAX_PATH];
    if (!DriverImagePath("QUORVENAL.sys", imagePath, sizeof imagePath) ||
        !DriverImagePath("QVMISSING.sys", missingPath, sizeof missingPath)) {
        return 2;
    }
    SC_HANDLE manager = StepOpenManager("open service manager");
    if (!manager) {
        return 2;
    }
    RemoveQuietly(manager, kService);
    RemoveQuietly(manager, kMissingService);

    StepOpenService("open absent service", manager, kService, ExpectError(kErrorServiceDoesNotExist));
    StepStopService("stop absent service", manager, kService, ExpectError(kErrorServiceDoesNotExist));
    StepDeleteService("delete absent service", manager, kService, ExpectError(kErrorServiceDoesNotExist));
    HANDLE none =
        StepOpenDevice("open device before install", CREATE_ALWAYS, ExpectError(kErrorFileNotFound));
    if (none != INVALID_HANDLE_VALUE) {
        CloseHandle(none);
    }

    StepCreateService("create service", manager, kService, imagePath, ExpectOk());
    StepCreateService("create service again", manager, kService, imagePath, ExpectError(kErrorServiceExists));
    StepStopService("stop service not started", manager, kService, ExpectError(kErrorServiceNotActive));
    StepStartService("start service", manager, kService, ExpectOk());
    StepStartService("start service again", manager, kService, ExpectError(kErrorServiceAlreadyRunning));

    HANDLE device = StepOpenDevice("open device", CREATE_ALWAYS, ExpectOk());
    if (device != INVALID_HANDLE_VALUE) {
        DriverSession(device);
        StepHandleAccess(findings);
        StepManyHandles(8);
        StepCloseDevice("close device", device);
    }

    StepStopService("stop service", manager, kService, ExpectOk());
    StepDeviceGone("open device after stop");
    StepStopService("stop service again", manager, kService, ExpectError(kErrorServiceNotActive));
    StepDeleteService("delete service", manager, kService, ExpectOk());
    StepOpenService("open deleted service", manager, kService, ExpectError(kErrorServiceDoesNotExist));

    // A fresh load starts without a base: the search runs again.
    StepCreateService("create service for a second load", manager, kService, imagePath, ExpectOk());
    StepStartService("start service for a second load", manager, kService, ExpectOk());
    device = StepOpenDevice("open device of the second load", OPEN_EXISTING, ExpectOk());
    if (device != INVALID_HANDLE_VALUE) {
        StepExtendedReadOnce("second load: extended read before the base is known", device, 1);
        if (findings.presentCount > 0) {
            const FunctionRef& f = findings.present[0];
            ConfigRequest request;
            memset(&request, 0, sizeof request);
            request.Bus = f.bus;
            request.Device = f.device;
            request.Function = f.function;
            DWORD returned = 0;
            BOOL ok = DeviceIoControl(device, IOCTL_READ_CONFIG, &request, sizeof request, &request,
                                      sizeof request, &returned, NULL);
            Outcome outcome = {ok, ok ? 0 : GetLastError(), returned};
            char detail[64];
            snprintf(detail, sizeof detail, "bytes=%lu result=%lu", (unsigned long)returned,
                     (unsigned long)request.Result);
            Report("second load: read first function", outcome, ExpectOk(), ok ? detail : "");
        }
        StepExtendedReadOnce("second load: extended read once the base is known", device, 0);
        StepCloseDevice("close device of the second load", device);
    }
    StepStopService("stop service of the second load", manager, kService, ExpectOk());
    StepDeviceGone("open device after the second stop");
    StepDeleteService("delete service of the second load", manager, kService, ExpectOk());

    // A service whose image file does not exist cannot start. Windows reports
    // ERROR_FILE_NOT_FOUND; Wine reports ERROR_DLL_INIT_FAILED, so only the
    // failure itself is part of the transcript.
    StepCreateService("create service with a missing image", manager, kMissingService, missingPath,
                      ExpectOk());
    SC_HANDLE missing = OpenServiceA(manager, kMissingService, SERVICE_ALL_ACCESS);
    if (missing && StartServiceA(missing, 0, NULL)) {
        Violation("start service with a missing image", "the service started");
    } else {
        Note("start service with a missing image", missing ? "failed" : "cannot open the service");
    }
    if (missing) {
        CloseServiceHandle(missing);
    }
    StepDeleteService("delete service with a missing image", manager, kMissingService, ExpectOk());

    CloseServiceHandle(manager);
    char summary[64];
    snprintf(summary, sizeof summary, "unexpected=%d", ViolationCount());
    Note("end", summary);
    return ViolationCount() == 0 ? 0 : 1;
}
