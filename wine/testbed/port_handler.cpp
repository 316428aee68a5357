#include "port_handler.h"

#include <windows.h>

#include "bed_log.h"
#include "context_registers.h"
#include "irql.h"
#include "machine_bridge.h"
#include "port_decoder.h"

namespace {

const uint16_t kConfigAddressPort = 0xCF8;
const uint16_t kConfigDataPort = 0xCFC;
const size_t kLongestDecoded = 4;  // a REX prefix and a three-byte control register move

LONG ServePort(CONTEXT* context, const PortInstruction& port, const uint8_t* instruction) {
    const bool served = port.size == 4 && (port.port == kConfigAddressPort || port.port == kConfigDataPort);
    if (!served) {
        BedLog("port %s of %u bytes at 0x%x (instruction at %p) is not served", port.write ? "write" : "read",
               port.size, port.port, instruction);
        return EXCEPTION_CONTINUE_SEARCH;
    }
    if (port.write) {
        BedPortWrite32(port.port, static_cast<uint32_t>(Accumulator(context)));
    } else {
        Accumulator(context) = static_cast<RegisterValue>(
            MergeIntoAccumulator(Accumulator(context), port.size, BedPortRead32(port.port)));
    }
    ProgramCounter(context) += port.length;
    return EXCEPTION_CONTINUE_EXECUTION;
}

#if defined(_WIN64)
const unsigned kIrqlRegister = 8;

// CR8 holds the level in its low four bits; setting any other bit is a
// general-protection fault on the processor.
LONG ServeIrqlRegister(CONTEXT* context, const ControlRegisterMove& move, const uint8_t* instruction) {
    if (move.control != kIrqlRegister) {
        BedLog("move %s CR%u (instruction at %p) is not served", move.write ? "to" : "from", move.control,
               instruction);
        return EXCEPTION_CONTINUE_SEARCH;
    }
    RegisterValue& general = GeneralRegister(context, move.general);
    if (move.write) {
        if (general > 15)
            BedStop("mov to CR8 of 0x%llx: reserved bits set", static_cast<unsigned long long>(general));
        SetIrql(static_cast<BedIrql>(general));
    } else {
        general = CurrentIrql();
    }
    ProgramCounter(context) += move.length;
    return EXCEPTION_CONTINUE_EXECUTION;
}
#endif

LONG CALLBACK OnException(EXCEPTION_POINTERS* exception) {
    const DWORD code = exception->ExceptionRecord->ExceptionCode;
    if (code != EXCEPTION_PRIV_INSTRUCTION && code != EXCEPTION_ACCESS_VIOLATION) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    CONTEXT* context = exception->ContextRecord;
    const uint8_t* instruction = reinterpret_cast<const uint8_t*>(ProgramCounter(context));
    uint8_t bytes[kLongestDecoded] = {};
    SIZE_T copied = 0;
    // The faulting address may itself be unreadable (a jump into nowhere),
    // or the instruction may end just before an unreadable page.
    if (!ReadProcessMemory(GetCurrentProcess(), instruction, bytes, sizeof bytes, &copied)) {
        copied = 0;
        for (SIZE_T i = 0; i < sizeof bytes; ++i) {
            if (!ReadProcessMemory(GetCurrentProcess(), instruction + i, bytes + i, 1, NULL)) break;
            copied = i + 1;
        }
    }
    PortInstruction port;
    if (DecodePortInstruction(bytes, copied, static_cast<uint16_t>(DataRegister(context)), &port)) {
        return ServePort(context, port, instruction);
    }
#if defined(_WIN64)
    ControlRegisterMove move;
    if (DecodeControlRegisterMove(bytes, copied, &move)) return ServeIrqlRegister(context, move, instruction);
#endif
    return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

bool InstallPortHandler() { return AddVectoredExceptionHandler(1, OnException) != NULL; }
