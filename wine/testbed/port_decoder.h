// Decodes the processor's port instructions (in/out, with the port in DX or
// as an 8-bit immediate, of 1, 2 or 4 bytes) so that the driver host's
// exception handler can carry them out on the simulated machine. Plain C++:
// no Windows headers, so it is unit-tested on Linux as well.
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

// The value of EAX after an `in` of `size` bytes that read `value`: the
// bytes above the size keep what EAX held.
uint32_t MergeIntoEax(uint32_t eax, unsigned size, uint32_t value);

#endif
