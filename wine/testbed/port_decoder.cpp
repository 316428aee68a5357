#include "port_decoder.h"

namespace {

const uint8_t kOperandSizePrefix = 0x66;
const uint8_t kTwoByteEscape = 0x0F;
const uint8_t kMoveFromControl = 0x20;
const uint8_t kMoveToControl = 0x22;

bool IsRexPrefix(uint8_t byte) { return (byte & 0xF0) == 0x40; }

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

uint64_t MergeIntoAccumulator(uint64_t accumulator, unsigned size, uint32_t value) {
    if (size >= 4) return value;
    const uint64_t mask = (uint64_t{1} << (8 * size)) - 1;
    return (accumulator & ~mask) | (value & mask);
}

bool DecodeControlRegisterMove(const uint8_t* code, size_t available, ControlRegisterMove* out) {
    size_t at = 0;
    uint8_t rex = 0;
    if (available > 0 && IsRexPrefix(code[0])) rex = code[at++];
    if (available < at + 3 || code[at] != kTwoByteEscape) return false;
    const uint8_t opcode = code[at + 1];
    if (opcode != kMoveFromControl && opcode != kMoveToControl) return false;
    // The mod field is ignored: the operand is always a register.
    const uint8_t modrm = code[at + 2];
    ControlRegisterMove decoded = {};
    decoded.write = opcode == kMoveToControl;
    decoded.control = ((modrm >> 3) & 7) | ((rex & 0x04) ? 8 : 0);
    decoded.general = (modrm & 7) | ((rex & 0x01) ? 8 : 0);
    decoded.length = static_cast<unsigned>(at + 3);
    *out = decoded;
    return true;
}
