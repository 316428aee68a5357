// The dry run's list of registers, from two images: named registers of the
// header at their widths (a three-byte one in address order), unnamed
// doublewords beyond 0x40 and in the extended space, nothing of a row either
// side does not give, and nothing of the bits a restore does not compare.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "register_changes.h"

namespace qvtest {

namespace {

SpaceImage Blank() {
    SpaceImage image;
    memset(&image, 0, sizeof image);
    image.Address = {0, 0x04, 0x00, 0};
    memset(image.RowGiven, 1, kSpaceRows);
    return image;
}

std::string Changes(const SpaceImage& target, const SpaceImage& current, unsigned* count) {
    char* buffer = nullptr;
    size_t length = 0;
    FILE* out = open_memstream(&buffer, &length);
    *count = PrintRegisterChanges(target, current, out);
    fclose(out);
    std::string text(buffer, length);
    free(buffer);
    return text;
}

}  // namespace

TEST(RegisterChanges, NamesEachRegisterThatDiffersAtItsWidth) {
    SpaceImage current = Blank();
    SpaceImage target = Blank();
    target.Bytes[0x04] = 0x06;  // Command
    target.Bytes[0x0C] = 0x10;  // Cache Line Size
    target.Bytes[0x35] = 0x01;  // Reserved1, three bytes shown in address order
    target.Bytes[0x36] = 0x02;
    target.Bytes[0x37] = 0x03;
    target.Bytes[0x3C] = 0x0B;  // Interrupt Line
    const QvU8 dword[] = {0x11, 0x22, 0x33, 0x44};
    memcpy(target.Bytes + 0x44, dword, 4);
    target.Bytes[0x4A] = 0xAB;  // one byte: its whole doubleword is shown
    memcpy(target.Bytes + 0x104, dword, 4);
    // Not shown: a row the function does not give now, the identifiers and
    // class code, and the status bits that clear on a 1.
    target.Bytes[0x50] = 0x77;
    current.RowGiven[0x50 / 16] = 0;
    target.Bytes[0x00] = 0x86;
    target.Bytes[0x0B] = 0x02;
    target.Bytes[0x07] = 0xF9;

    const std::string header =
        "04:00.0: registers that would change (now, file):\n"
        "  004 Command: now 0000, file 0006\n"
        "  00c Cache Line Size: now 00, file 10\n"
        "  035 Reserved1: now 000000, file 010203\n"
        "  03c Interrupt Line: now 00, file 0b\n"
        "  044: now 00000000, file 44332211\n"
        "  048: now 00000000, file 00ab0000\n";
    unsigned count = 0;
    EXPECT_EQ(Changes(target, current, &count), header + "  104: now 00000000, file 44332211\n");
    EXPECT_EQ(count, 7u);

    // A file without the extended rows compares the header alone.
    memset(target.RowGiven + kHeaderRows, 0, kSpaceRows - kHeaderRows);
    EXPECT_EQ(Changes(target, current, &count), header);
    EXPECT_EQ(count, 6u);
}

TEST(RegisterChanges, TheLayoutIsTheFunctionsAndNothingDifferingSaysSo) {
    // A bridge as the function reads: its own names and widths.
    SpaceImage current = Blank();
    current.Bytes[0x0E] = 0x01;
    SpaceImage target = current;
    target.Bytes[0x19] = 0x02;  // Secondary Bus
    target.Bytes[0x3E] = 0x04;  // Bridge Control
    unsigned count = 0;
    EXPECT_EQ(Changes(target, current, &count),
              "04:00.0: registers that would change (now, file):\n"
              "  019 Secondary Bus: now 00, file 02\n"
              "  03e Bridge Control: now 0000, file 0004\n");
    EXPECT_EQ(count, 2u);

    EXPECT_EQ(Changes(current, current, &count), "04:00.0: nothing would change\n");
    EXPECT_EQ(count, 0u);
}

// A header type no layout knows: past the common registers its header is
// doublewords of no name, as beyond 0x40.
TEST(RegisterChanges, AHeaderOfNoKnownLayoutIsShownInDoublewords) {
    SpaceImage current = Blank();
    current.Bytes[0x0E] = 0x03;
    SpaceImage target = current;
    target.Bytes[0x12] = 0x5A;
    target.Bytes[0x3D] = 0x01;
    unsigned count = 0;
    EXPECT_EQ(Changes(target, current, &count),
              "04:00.0: registers that would change (now, file):\n"
              "  010: now 00000000, file 005a0000\n"
              "  03c: now 00000000, file 00000100\n");
    EXPECT_EQ(count, 2u);
}

}  // namespace qvtest
