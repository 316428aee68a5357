// The registers of an exception's CONTEXT that the driver host's handler
// reads and writes, by the architecture it is built for.
#ifndef QUORVENAL_TESTBED_CONTEXT_REGISTERS_H
#define QUORVENAL_TESTBED_CONTEXT_REGISTERS_H

#include <windows.h>

#if defined(_WIN64)
typedef DWORD64 RegisterValue;
inline RegisterValue& ProgramCounter(CONTEXT* context) { return context->Rip; }
inline RegisterValue& Accumulator(CONTEXT* context) { return context->Rax; }
inline RegisterValue& DataRegister(CONTEXT* context) { return context->Rdx; }
// By the instruction set's number: RAX, RCX, RDX, RBX, RSP, RBP, RSI, RDI,
// R8 .. R15, which CONTEXT holds in that order.
inline RegisterValue& GeneralRegister(CONTEXT* context, unsigned number) {
    return (&context->Rax)[number & 15];
}
#else
typedef DWORD RegisterValue;
inline RegisterValue& ProgramCounter(CONTEXT* context) { return context->Eip; }
inline RegisterValue& Accumulator(CONTEXT* context) { return context->Eax; }
inline RegisterValue& DataRegister(CONTEXT* context) { return context->Edx; }
#endif

#endif
