// Decodes the privileged instructions of the driver that the driver host's
// exception handler carries out itself: the processor's port instructions
// (in/out, with the port in DX or as an 8-bit immediate, of 1, 2 or 4 bytes)
// on the simulated machine, and on x64 the moves to and from CR8, the
// interrupt request level, which the x64 kernel's KeGetCurrentIrql,
// KeRaiseIrql and KeLowerIrql compile to. Plain C++: no Windows headers, so it
// is unit-tested on Linux as well.
#ifndef QUORVENAL_TESTBED_PORT_DECODER_H
#define QUORVENAL_TESTBED_PORT_DECODER_H

#include <cstddef>
#include <cstdint>

struct PortInstruction {
    bool write;     // out; false: in
    unsigned size;  // bytes moved: 1, 2 or 4
    uint16_t port;
    unsigned length;  // bytes of the instruction, prefix included
};

// Decodes the instruction in the `available` bytes at `code`, with `dx` the
// value of DX. False when it is not a port instruction (or is cut short).
bool DecodePortInstruction(const uint8_t* code, size_t available, uint16_t dx, PortInstruction* out);

// The value of the accumulator (EAX, or RAX on x64) after an `in` of `size`
// bytes that read `value`: the bytes above a 1- or 2-byte read keep what the
// register held; a 4-byte read sets the whole register (in 64-bit mode a
// 32-bit result clears the upper half).
uint64_t MergeIntoAccumulator(uint64_t accumulator, unsigned size, uint32_t value);

struct ControlRegisterMove {
    bool write;        // mov %reg,%crN; false: mov %crN,%reg
    unsigned control;  // N
    unsigned general;  // the general register's number: 0 RAX, 1 RCX, 2 RDX ... 15 R15
    unsigned length;   // bytes of the instruction, prefix included
};

// Decodes `mov %crN,%reg` (0F 20 /r) and `mov %reg,%crN` (0F 22 /r) of 64-bit
// code, with an optional REX prefix, whose R bit extends the control
// register's number (CR8 is REX.R with 0) and whose B bit the general
// register's. False for anything else (or bytes cut short).
bool DecodeControlRegisterMove(const uint8_t* code, size_t available, ControlRegisterMove* out);

#endif
