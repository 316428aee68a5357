#include "port_decoder.h"

namespace {

const uint8_t kOperandSizePrefix = 0x66;

}  // namespace

bool DecodePortInstruction(const uint8_t* code, size_t available, uint16_t dx, PortInstruction* out) {
    size_t at = 0;
    bool wordSize = false;
    if (available > 0 && code[0] == kOperandSizePrefix) {
        wordSize = true;
        at = 1;
    }
    if (at >= available) return false;
    const uint8_t opcode = code[at++];
    PortInstruction decoded = {};
    switch (opcode) {
        case 0xE4:
        case 0xE5:
        case 0xE6:
        case 0xE7:  // in/out with an immediate port
            if (at >= available) return false;
            decoded.port = code[at++];
            break;
        case 0xEC:
        case 0xED:
        case 0xEE:
        case 0xEF:  // in/out with the port in DX
            decoded.port = dx;
            break;
        default: return false;
    }
    decoded.write = (opcode & 0x02) != 0;
    const bool byteSize = (opcode & 0x01) == 0;
    decoded.size = byteSize ? 1 : (wordSize ? 2 : 4);
    decoded.length = static_cast<unsigned>(at);
    *out = decoded;
    return true;
}

uint32_t MergeIntoEax(uint32_t eax, unsigned size, uint32_t value) {
    if (size >= 4) return value;
    const uint32_t mask = (1u << (8 * size)) - 1;
    return (eax & ~mask) | (value & mask);
}
