// The test bed decodes the driver's port instructions and CR8 moves itself; a
// wrong size, port, register or length would hand the driver wrong bytes or
// levels, or resume it mid-way through an instruction.
#include "port_decoder.h"

#include <gtest/gtest.h>

namespace {

PortInstruction Decode(std::initializer_list<uint8_t> bytes, uint16_t dx = 0xCFC) {
    std::vector<uint8_t> code(bytes);
    PortInstruction decoded = {};
    EXPECT_TRUE(DecodePortInstruction(code.data(), code.size(), dx, &decoded));
    return decoded;
}

bool Decodes(std::initializer_list<uint8_t> bytes) {
    std::vector<uint8_t> code(bytes);
    PortInstruction decoded = {};
    return DecodePortInstruction(code.data(), code.size(), 0xCF8, &decoded);
}

TEST(PortDecoder, DwordThroughDxAsTheDriverUsesThem) {
    PortInstruction in = Decode({0xED, 0x90}, 0xCFC);  // in eax, dx
    EXPECT_FALSE(in.write);
    EXPECT_EQ(4u, in.size);
    EXPECT_EQ(0xCFC, in.port);
    EXPECT_EQ(1u, in.length);
    PortInstruction out = Decode({0xEF}, 0xCF8);  // out dx, eax
    EXPECT_TRUE(out.write);
    EXPECT_EQ(4u, out.size);
    EXPECT_EQ(0xCF8, out.port);
    EXPECT_EQ(1u, out.length);
}

TEST(PortDecoder, SizesFromOpcodeAndOperandSizePrefix) {
    EXPECT_EQ(1u, Decode({0xEC}).size);           // in al, dx
    EXPECT_EQ(1u, Decode({0xEE}).size);           // out dx, al
    PortInstruction word = Decode({0x66, 0xED});  // in ax, dx
    EXPECT_EQ(2u, word.size);
    EXPECT_EQ(2u, word.length);
    EXPECT_EQ(2u, Decode({0x66, 0xEF}).size);  // out dx, ax
    // The prefix does not widen a byte access.
    EXPECT_EQ(1u, Decode({0x66, 0xEC}).size);
}

TEST(PortDecoder, ImmediatePortsTakeTheirByteNotDx) {
    PortInstruction in = Decode({0xE5, 0x70}, 0xCFC);  // in eax, 0x70
    EXPECT_EQ(0x70, in.port);
    EXPECT_EQ(2u, in.length);
    EXPECT_FALSE(in.write);
    PortInstruction out = Decode({0xE6, 0x80}, 0xCFC);  // out 0x80, al
    EXPECT_EQ(0x80, out.port);
    EXPECT_EQ(1u, out.size);
    EXPECT_TRUE(out.write);
    EXPECT_EQ(3u, Decode({0x66, 0xE7, 0x20}).length);
}

TEST(PortDecoder, RefusesOtherInstructionsAndCutShortBytes) {
    EXPECT_FALSE(Decodes({0x0F, 0x0B}));  // ud2
    EXPECT_FALSE(Decodes({0xFA}));        // cli
    EXPECT_FALSE(Decodes({0x6D}));        // insd: a string instruction, not served
    EXPECT_FALSE(Decodes({0xE5}));        // immediate missing
    EXPECT_FALSE(Decodes({0x66}));        // prefix alone
    EXPECT_FALSE(Decodes({}));
}

TEST(PortDecoder, InKeepsTheBytesAboveItsSize) {
    EXPECT_EQ(0x123456ABu, MergeIntoAccumulator(0x12345678u, 1, 0xFFFFFFABu));
    EXPECT_EQ(0x1234BEEFu, MergeIntoAccumulator(0x12345678u, 2, 0xFFFFBEEFu));
    EXPECT_EQ(0xCAFEF00Du, MergeIntoAccumulator(0x12345678u, 4, 0xCAFEF00Du));
    // RAX: narrow reads keep the upper half, a doubleword read clears it.
    EXPECT_EQ(0xFEDCBA98123456ABu, MergeIntoAccumulator(0xFEDCBA9812345678u, 1, 0xABu));
    EXPECT_EQ(0xCAFEF00Du, MergeIntoAccumulator(0xFEDCBA9812345678u, 4, 0xCAFEF00Du));
}

ControlRegisterMove DecodeMove(std::initializer_list<uint8_t> bytes) {
    std::vector<uint8_t> code(bytes);
    ControlRegisterMove decoded = {};
    EXPECT_TRUE(DecodeControlRegisterMove(code.data(), code.size(), &decoded));
    return decoded;
}

bool DecodesMove(std::initializer_list<uint8_t> bytes) {
    std::vector<uint8_t> code(bytes);
    ControlRegisterMove decoded = {};
    return DecodeControlRegisterMove(code.data(), code.size(), &decoded);
}

// The forms GCC emits for the x64 DDK's KeGetCurrentIrql/KeRaiseIrql/KeLowerIrql.
TEST(ControlRegisterDecoder, Cr8MovesAsTheX64DriverUsesThem) {
    ControlRegisterMove read = DecodeMove({0x44, 0x0F, 0x20, 0xC3});  // mov %cr8,%rbx
    EXPECT_FALSE(read.write);
    EXPECT_EQ(8u, read.control);
    EXPECT_EQ(3u, read.general);
    EXPECT_EQ(4u, read.length);
    ControlRegisterMove write = DecodeMove({0x44, 0x0F, 0x22, 0xC0});  // mov %rax,%cr8
    EXPECT_TRUE(write.write);
    EXPECT_EQ(8u, write.control);
    EXPECT_EQ(0u, write.general);
    ControlRegisterMove high = DecodeMove({0x45, 0x0F, 0x22, 0xC5});  // mov %r13,%cr8
    EXPECT_EQ(8u, high.control);
    EXPECT_EQ(13u, high.general);
    ControlRegisterMove r10 = DecodeMove({0x45, 0x0F, 0x20, 0xC2});  // mov %cr8,%r10
    EXPECT_FALSE(r10.write);
    EXPECT_EQ(10u, r10.general);
}

TEST(ControlRegisterDecoder, OtherControlRegistersAndInstructions) {
    ControlRegisterMove cr3 = DecodeMove({0x0F, 0x20, 0xD8});  // mov %cr3,%rax
    EXPECT_EQ(3u, cr3.control);
    EXPECT_EQ(3u, cr3.length);
    EXPECT_FALSE(DecodesMove({0x0F, 0x21, 0xC0}));        // mov %dr0,%rax
    EXPECT_FALSE(DecodesMove({0x44, 0x0F, 0x20}));        // cut short
    EXPECT_FALSE(DecodesMove({0xED}));                    // a port instruction
    EXPECT_FALSE(DecodesMove({0x66, 0x0F, 0x20, 0xC0}));  // not a REX prefix
    EXPECT_FALSE(DecodesMove({}));
}

}  // namespace
