#include "port_handler.h"

#include <windows.h>

#include "bed_log.h"
#include "machine_bridge.h"
#include "port_decoder.h"

namespace {

const uint16_t kConfigAddressPort = 0xCF8;
const uint16_t kConfigDataPort = 0xCFC;

LONG CALLBACK OnException(EXCEPTION_POINTERS* exception) {
    const DWORD code = exception->ExceptionRecord->ExceptionCode;
    if (code != EXCEPTION_PRIV_INSTRUCTION && code != EXCEPTION_ACCESS_VIOLATION) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    CONTEXT* context = exception->ContextRecord;
    const uint8_t* instruction = reinterpret_cast<const uint8_t*>(context->Eip);
    uint8_t bytes[3] = {0, 0, 0};
    SIZE_T copied = 0;
    // The faulting address may itself be unreadable (a jump into nowhere).
    if (!ReadProcessMemory(GetCurrentProcess(), instruction, bytes, sizeof bytes, &copied)) {
        copied = 0;
        for (SIZE_T i = 0; i < sizeof bytes; ++i) {
            if (!ReadProcessMemory(GetCurrentProcess(), instruction + i, bytes + i, 1, NULL)) break;
            copied = i + 1;
        }
    }
    PortInstruction port;
    if (!DecodePortInstruction(bytes, copied, static_cast<uint16_t>(context->Edx), &port)) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    const bool served = port.size == 4 && (port.port == kConfigAddressPort || port.port == kConfigDataPort);
    if (!served) {
        BedLog("port %s of %u bytes at 0x%x (instruction at %p) is not served", port.write ? "write" : "read",
               port.size, port.port, instruction);
        return EXCEPTION_CONTINUE_SEARCH;
    }
    if (port.write) {
        BedPortWrite32(port.port, context->Eax);
    } else {
        context->Eax = MergeIntoEax(context->Eax, port.size, BedPortRead32(port.port));
    }
    context->Eip += port.length;
    return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

bool InstallPortHandler() { return AddVectoredExceptionHandler(1, OnException) != NULL; }
