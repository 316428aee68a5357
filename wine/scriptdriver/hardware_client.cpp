#include "hardware_client.h"

#include <windows.h>

#include <cstdio>

#include "hardware_control.h"

bool SendHardwareAction(const standin::ui::ScriptAction& a, std::string* why) {
    using standin::ui::ScriptAction;
    char where[16];
    snprintf(where, sizeof where, "%02x:%02x.%x", a.address.bus, a.address.device, a.address.function);
    char request[128];
    const char* failure = "the machine has no such function";
    switch (a.kind) {
        case ScriptAction::HwReset: snprintf(request, sizeof request, "reset %s", where); break;
        case ScriptAction::HwRemove:
            snprintf(request, sizeof request, "remove %s", where);
            failure = "the function is not on the bus";
            break;
        case ScriptAction::HwRestore: snprintf(request, sizeof request, "restore %s", where); break;
        case ScriptAction::HwWrite:
            snprintf(request, sizeof request, "write %s %x %x %x", where, a.offset, a.size,
                     (unsigned)a.value);
            failure = "the function is not there to be written";
            break;
        default: *why = "not a hardware action"; return false;
    }
    char answer[16] = "";
    DWORD length = 0;
    // The pipe serves one request at a time; wait for it if it is busy.
    if (!WaitNamedPipeA(kHardwarePipeName, 5000) ||
        !CallNamedPipeA(kHardwarePipeName, request, (DWORD)strlen(request), answer, sizeof answer - 1,
                        &length, 5000)) {
        *why = "the simulated hardware cannot be reached (is the driver loaded?)";
        return false;
    }
    answer[length] = '\0';
    if (strcmp(answer, "ok") != 0) {
        *why = failure;
        return false;
    }
    return true;
}
