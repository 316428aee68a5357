// The processor's 32-bit port instructions, reaching the machine's ports.
#include <ntddk.h>

#include "kernel/kernel_trace.h"
#include "machine/machine.h"

extern "C" ULONG __indword(USHORT Port) {
    standin::RunAccessHook(standin::HookedAccess::PortRead, Port, 0);
    ULONG value = standin::CurrentMachine().PortRead32(Port);
    standin::TracePort(Port, false, value);
    return value;
}

extern "C" VOID __outdword(USHORT Port, ULONG Data) {
    standin::RunAccessHook(standin::HookedAccess::PortWrite, Port, Data);
    standin::TracePort(Port, true, Data);
    standin::CurrentMachine().PortWrite32(Port, Data);
}
