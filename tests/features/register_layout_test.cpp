// The register tables and value formats, tested directly. The names are the
// ones the register list shows; the offsets and widths say which header bytes
// each value row reads.
#include "../../app/register_layout.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qvtest {

namespace {

std::vector<std::string> Names(int headerType) {
    std::vector<std::string> names;
    RegisterLayout layout = LayoutForHeaderType(headerType);
    if (layout.count == 0) return names;
    for (const RegisterRow& row : kCommonRegisters) names.push_back(row.name);
    for (int i = 0; i < layout.count; ++i) names.push_back(layout.rows[i].name);
    return names;
}

const RegisterRow& Row(int headerType, int row) {
    if (row < kCommonRegisterRows) return kCommonRegisters[row];
    return LayoutForHeaderType(headerType).rows[row - kCommonRegisterRows];
}

TEST(RegisterLayout, RowCountsAndFirstDumpRows) {
    EXPECT_EQ(27u, Names(0).size());
    EXPECT_EQ(33u, Names(1).size());
    EXPECT_EQ(29u, Names(2).size());
    EXPECT_EQ(27, FirstDumpRow(0));
    EXPECT_EQ(33, FirstDumpRow(1));
    EXPECT_EQ(29, FirstDumpRow(2));
    for (int other : {-1, 3, 0x7F, 0x80}) {
        EXPECT_EQ(0u, Names(other).size()) << other;
        EXPECT_EQ(10, FirstDumpRow(other)) << other;
    }
}

TEST(RegisterLayout, NamesAsTheListShowsThem) {
    std::vector<std::string> common = {"Vendor ID",   "Device ID",  "Command",         "Status",
                                       "Revision ID", "Class Code", "Cache Line Size", "Latency Timer",
                                       "Header Type", "BIST"};
    std::vector<std::string> type0 = common;
    for (const char* n :
         {"BAR0", "BAR1", "BAR2", "BAR3", "BAR4", "BAR5", "Cardbus CIS pointer", "Subsystem Vendor ID",
          "Subsystem ID", "Expansion ROM Base", "Capabilities Pointer", "Reserved1", "Reserved2",
          "Interrupt Line", "Interrupt Pin", "Minimam Grant", "Maximum Latency"})
        type0.push_back(n);
    std::vector<std::string> type1 = common;
    for (const char* n : {"BAR0",
                          "BAR1",
                          "Primary Bus",
                          "Secondary Bus",
                          "Subordinate Bus",
                          "Secondary Latency",
                          "IO Base",
                          "IO Limit",
                          "Secondary Status",
                          "Memory Base",
                          "Memory Limit",
                          "Prefetch Base",
                          "Prefetch Limit",
                          "Prefetch Base Upper32",
                          "Prefetch Limit Upper32",
                          "IO Base Upper16",
                          "IO Limit Upper16",
                          "Capabilities Pointer",
                          "Reserved",
                          "ROM Base Address",
                          "Interrupt Line",
                          "Interrupt Pin",
                          "Bridge Control"})
        type1.push_back(n);
    std::vector<std::string> type2 = common;
    for (const char* n : {"Socket Registers Base Address", "Capabilities Pointer", "Reserved",
                          "Secondary Status", "Primary Bus", "Secondary Bus", "Subordinate Bus",
                          "Secondary Latency", "Base1", "Limit1", "Base2", "Limit2", "Base3", "Limit3",
                          "Base4", "Limit4", "Interrupt Line", "Interrupt Pin", "Bridge Control"})
        type2.push_back(n);
    EXPECT_EQ(type0, Names(0));
    EXPECT_EQ(type1, Names(1));
    EXPECT_EQ(type2, Names(2));
}

// Every row's offset and width, as a compact signature: offset then one
// letter per width (b 8-bit, w 16-bit, d 32-bit, c class code, t three bytes).
std::string Signature(int headerType) {
    std::string out;
    int rows = FirstDumpRow(headerType);
    for (int r = 0; r < rows; ++r) {
        const RegisterRow& row = Row(headerType, r);
        char piece[8];
        snprintf(piece, sizeof piece, "%02X%c ", row.offset, "bwdct"[row.width]);
        out += piece;
    }
    return out;
}

TEST(RegisterLayout, OffsetsAndWidthsOfEveryValueRow) {
    const std::string common = "00w 02w 04w 06w 08b 09c 0Cb 0Db 0Eb 0Fb ";
    EXPECT_EQ(common + "10d 14d 18d 1Cd 20d 24d 28d 2Cw 2Ew 30d 34b 35t 38d 3Cb 3Db 3Eb 3Fb ", Signature(0));
    EXPECT_EQ(common +
                  "10d 14d 18b 19b 1Ab 1Bb 1Cb 1Db 1Ew 20w 22w 24w 26w 28d 2Cd 30w 32w 34b 35t "
                  "38d 3Cb 3Db 3Ew ",
              Signature(1));
    EXPECT_EQ(common + "10d 14b 15b 16w 18b 19b 1Ab 1Bb 1Cd 20d 24d 28d 2Cd 30d 34d 38d 3Cb 3Db 3Ew ",
              Signature(2));
}

std::string Value(const RegisterRow& row, const unsigned char* header) {
    char text[kRegisterTextBytes];
    FormatRegisterValue(row, header, text);
    return text;
}

TEST(RegisterLayout, ValueFormatsReadLittleEndianAndPadWithZeros) {
    unsigned char header[256] = {};
    for (int i = 0; i < 256; ++i) header[i] = (unsigned char)(i * 7 + 1);
    header[0x00] = 0xA1;
    header[0x01] = 0x00;
    header[0x09] = 0x01;  // programming interface
    header[0x0A] = 0x06;  // subclass
    header[0x0B] = 0x01;  // base class
    header[0x0E] = 0x80;
    header[0x10] = 0x04;
    header[0x11] = 0x00;
    header[0x12] = 0xC0;
    header[0x13] = 0xFE;
    header[0x35] = 0x12;
    header[0x36] = 0x34;
    header[0x37] = 0xAB;

    EXPECT_EQ("00A1", Value(Row(0, 0), header));
    EXPECT_EQ("010601", Value(Row(0, 5), header));
    EXPECT_EQ("80", Value(Row(0, 8), header));
    EXPECT_EQ("FEC00004", Value(Row(0, 10), header));
    EXPECT_EQ("1234AB", Value(Row(0, 21), header));  // Reserved1: address order
    EXPECT_EQ("1234AB", Value(Row(1, 28), header));  // Reserved (type 1)
    header[0x15] = 0x3C;
    EXPECT_EQ("3C", Value(Row(2, 12), header));  // Reserved (type 2): one byte at 0x15
    header[0x3E] = 0x05;
    header[0x3F] = 0x00;
    EXPECT_EQ("0005", Value(Row(1, 32), header));  // Bridge Control, 16-bit
    EXPECT_EQ("05", Value(Row(0, 25), header));    // Minimam Grant, 8-bit
}

TEST(RegisterLayout, DumpRowsShowBytesInAddressOrder) {
    char text[kRegisterTextBytes];
    FormatDumpLabel(0x40, text);
    EXPECT_STREQ("Device Specific [40]", text);
    FormatDumpLabel(0xFF0, text);
    EXPECT_STREQ("Device Specific [FF0]", text);
    FormatDumpLabel(0x100, text);
    EXPECT_STREQ("Device Specific [100]", text);

    const unsigned char bytes[16] = {0x01, 0x50, 0x03, 0xC8, 0,    0,    0,    0,
                                     0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x0A, 0x0B, 0x0C};
    FormatDumpValue(bytes, text);
    EXPECT_STREQ("015003C8 00000000 DEADBEEF 000A0B0C", text);
    EXPECT_EQ(35u, strlen(text));
}

}  // namespace

}  // namespace qvtest
