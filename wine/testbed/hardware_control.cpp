// The script driver's way to the simulated hardware under Wine. The machine
// lives in the driver host (winedevice.exe), in the test-bed hal.dll that the
// shipped driver loads; the program's script actions "hw reset", "hw
// write", "hw remove" and "hw restore" reach it through this named pipe.
// One request a connection: a line "reset|remove|restore B:D.F",
// "write B:D.F OFFSET SIZE VALUE" or, from a client about to open a device,
// "open PID ACCESS", and "withdraw PID" when that open failed (open_access.h;
// numbers hexadecimal); the answer is "ok" or "fail".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "machine/machine.h"
#include "hardware_control.h"
#include "open_access.h"

namespace {

// Carries out one request line; true when the machine did it.
bool Perform(const std::string& line) {
    char verb[16] = "";
    char where[32] = "";
    unsigned offset = 0;
    unsigned size = 0;
    unsigned value = 0;
    int fields = sscanf(line.c_str(), "%15s %31s %x %x %x", verb, where, &offset, &size, &value);
    unsigned pid = 0;
    unsigned access = 0;
    if (sscanf(line.c_str(), "open %x %x", &pid, &access) == 2) {
        AnnounceOpen(pid, access);
        return true;
    }
    if (sscanf(line.c_str(), "withdraw %x", &pid) == 1) {
        WithdrawOpen(pid);
        return true;
    }
    standin::FunctionAddress address;
    if (fields < 2 || !standin::ParseFunctionAddress(where, &address)) {
        return false;
    }
    standin::Machine& machine = standin::CurrentMachine();
    std::string command = verb;
    if (command == "reset" && fields == 2) return machine.ResetFunction(address);
    if (command == "remove" && fields == 2) return machine.RemoveFunction(address);
    if (command == "restore" && fields == 2) return machine.RestoreFunction(address);
    if (command == "write" && fields == 5) return machine.HardwareWrite(address, offset, size, value);
    return false;
}

// One instance of the pipe, kept for the life of the driver host: between
// two requests a client finds it busy and waits for it, where a pipe made
// anew for each request would, for a moment, not be there at all (and a
// client's announced open would be lost).
DWORD WINAPI Serve(LPVOID) {
    HANDLE pipe =
        CreateNamedPipeA(kHardwarePipeName, PIPE_ACCESS_DUPLEX,
                         PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 512, 512, 0, NULL);
    if (pipe == INVALID_HANDLE_VALUE) {
        return 1;
    }
    for (;;) {
        if (ConnectNamedPipe(pipe, NULL) || GetLastError() == ERROR_PIPE_CONNECTED) {
            char request[256];
            DWORD length = 0;
            if (ReadFile(pipe, request, sizeof request - 1, &length, NULL)) {
                request[length] = '\0';
                const char* answer = Perform(request) ? "ok" : "fail";
                DWORD written = 0;
                WriteFile(pipe, answer, (DWORD)strlen(answer), &written, NULL);
                FlushFileBuffers(pipe);
            }
        }
        DisconnectNamedPipe(pipe);
    }
}

}  // namespace

bool StartHardwareControl() {
    // Not waited for: the loader lock is held while the DLL starts.
    HANDLE thread = CreateThread(NULL, 0, Serve, NULL, 0, NULL);
    if (thread == NULL) return false;
    CloseHandle(thread);
    return true;
}
