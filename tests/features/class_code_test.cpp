// Class-code texts and the capability walk, tested directly: both are pure
// functions over values the caller holds.
#include "../../app/class_code.h"

#include <gtest/gtest.h>

#include <string.h>
#include <string>

#include "type_texts.h"

namespace qvtest {

namespace {

std::string Describe(unsigned int classCode) {
    char text[64];
    memset(text, 'x', sizeof text);
    DescribeClassCode(classCode, text);
    return text;
}

TEST(DescribeClassCode, NamesEveryBaseClass) {
    for (unsigned int base = 0; base <= 0x11; ++base) {
        if (base == kMassStorageClass) continue;  // by subclass, below
        // Subclass and programming interface never change a base class's text.
        std::string expected = ExpectedTypeText(base, 0);
        EXPECT_EQ(expected, Describe(base << 16)) << base;
        EXPECT_EQ(expected, Describe((base << 16) | 0x8001)) << base;
        EXPECT_EQ(expected, Describe((base << 16) | 0xFFFF)) << base;
    }
}

TEST(DescribeClassCode, NamesMassStorageBySubclass) {
    EXPECT_EQ("SCSI bus controller", Describe(0x010000));
    EXPECT_EQ("IDE controller", Describe(0x01018A));
    EXPECT_EQ("Floppy disk controller", Describe(0x010200));
    EXPECT_EQ("IPI bus controller", Describe(0x010300));
    EXPECT_EQ("RAID controller", Describe(0x010400));
    EXPECT_EQ("ATA controller with DMA", Describe(0x010520));
    EXPECT_EQ("Serial ATA controller", Describe(0x010601));
    EXPECT_EQ("Serial attached SCSI controller", Describe(0x010700));
    EXPECT_EQ("Mass storage controller", Describe(0x010800));
    EXPECT_EQ("Mass storage controller", Describe(0x018000));
    EXPECT_EQ("Mass storage controller", Describe(0x01FF00));
}

TEST(DescribeClassCode, UnknownAboveTheLastBaseClassAndForStrayHighBits) {
    EXPECT_EQ("Unknown", Describe(0x120000));
    EXPECT_EQ("Unknown", Describe(0xFF0000));
    EXPECT_EQ("Unknown", Describe(0x01060100 | 0x01000000));  // bit 24 set
    EXPECT_EQ("Unknown", Describe(0xFFFFFFFF));
}

TEST(DescribeClassCode, LongestTextFitsFiftyCharacters) {
    std::string longest = Describe(0x110000);
    EXPECT_EQ(49u, longest.size());
}

// A 256-byte header with a capability list built entry by entry.
struct Header {
    unsigned char bytes[256] = {};
    explicit Header(unsigned char headerType = 0, bool capList = true) {
        bytes[0x0E] = headerType;
        if (capList) bytes[0x06] = 0x10;
    }
    void Pointer(unsigned char at, unsigned char value) { bytes[at] = value; }
    void Entry(unsigned char at, unsigned char id, unsigned char next) {
        bytes[at] = id;
        bytes[at + 1] = next;
    }
};

TEST(ClassifyCapabilities, NoListFlagMeansNone) {
    Header h(0, false);
    h.Pointer(0x34, 0x40);
    h.Entry(0x40, 0x10, 0);
    h.bytes[0x00] = 0x10;  // a vendor whose low byte reads as the PCI Express identifier
    EXPECT_EQ(kCapNone, ClassifyCapabilities(h.bytes));
    h.bytes[0x06] = 0xEF;  // every other bit of the status byte set
    EXPECT_EQ(kCapNone, ClassifyCapabilities(h.bytes));
    h.bytes[0x06] = 0x10;
    EXPECT_EQ(kCapPciExpress, ClassifyCapabilities(h.bytes));
}

TEST(ClassifyCapabilities, PointerDependsOnHeaderTypeLowBits) {
    for (unsigned char type : {0x00, 0x01, 0x80, 0x81, 0x7C, 0x7D}) {
        Header h(type);
        h.Pointer(0x34, 0x40);
        h.Entry(0x40, 0x10, 0);
        EXPECT_EQ(kCapPciExpress, ClassifyCapabilities(h.bytes)) << int(type);
    }
    for (unsigned char type : {0x02, 0x82}) {
        Header h(type);
        h.Pointer(0x34, 0x40);  // not looked at for a CardBus header
        h.Entry(0x40, 0x10, 0);
        h.Pointer(0x14, 0x80);
        h.Entry(0x80, 0x07, 0);
        EXPECT_EQ(kCapPciX, ClassifyCapabilities(h.bytes)) << int(type);
    }
    for (unsigned char type : {0x03, 0x83}) {
        Header h(type);
        h.Pointer(0x34, 0x40);
        h.Pointer(0x14, 0x40);
        h.Pointer(0x00, 0x40);  // no byte of the header is taken for a pointer
        h.Entry(0x40, 0x10, 0);
        EXPECT_EQ(kCapNone, ClassifyCapabilities(h.bytes)) << int(type);
    }
}

TEST(ClassifyCapabilities, ZeroPointerAndListsWithoutInterest) {
    Header empty;
    EXPECT_EQ(kCapNone, ClassifyCapabilities(empty.bytes));

    Header one;
    one.Pointer(0x34, 0x50);
    one.Entry(0x50, 0x01, 0);
    EXPECT_EQ(kCapNone, ClassifyCapabilities(one.bytes));

    Header chain;
    chain.Pointer(0x34, 0x40);
    chain.Entry(0x40, 0x01, 0x50);
    chain.Entry(0x50, 0x05, 0x60);
    chain.Entry(0x60, 0x11, 0);
    EXPECT_EQ(kCapNone, ClassifyCapabilities(chain.bytes));
}

TEST(ClassifyCapabilities, FirstEntryOfInterestDecides) {
    Header pcix_first;
    pcix_first.Pointer(0x34, 0x40);
    pcix_first.Entry(0x40, 0x01, 0x48);
    pcix_first.Entry(0x48, 0x07, 0x60);
    pcix_first.Entry(0x60, 0x10, 0);
    EXPECT_EQ(kCapPciX, ClassifyCapabilities(pcix_first.bytes));

    Header express_first;
    express_first.Pointer(0x34, 0x40);
    express_first.Entry(0x40, 0x05, 0x60);
    express_first.Entry(0x60, 0x10, 0x48);
    express_first.Entry(0x48, 0x07, 0);
    EXPECT_EQ(kCapPciExpress, ClassifyCapabilities(express_first.bytes));
}

TEST(ClassifyCapabilities, PointersAreMaskedButEndTestIsOnTheRawByte) {
    Header masked;
    masked.Pointer(0x34, 0x41);  // walk starts at 0x40
    masked.Entry(0x40, 0x10, 0);
    EXPECT_EQ(kCapPciExpress, ClassifyCapabilities(masked.bytes));

    // A next pointer of 0x02 is no end: it leads to offset 0x00, where the
    // vendor ID's low byte is read as an ID.
    Header to_zero;
    to_zero.Pointer(0x34, 0x40);
    to_zero.Entry(0x40, 0x01, 0x02);
    to_zero.bytes[0x00] = 0x10;
    EXPECT_EQ(kCapPciExpress, ClassifyCapabilities(to_zero.bytes));
    to_zero.bytes[0x00] = 0x07;
    EXPECT_EQ(kCapPciX, ClassifyCapabilities(to_zero.bytes));
}

TEST(ClassifyCapabilities, CyclicListEndsWithNone) {
    Header self;
    self.Pointer(0x34, 0x40);
    self.Entry(0x40, 0x01, 0x40);
    EXPECT_EQ(kCapNone, ClassifyCapabilities(self.bytes));

    Header ring;
    ring.Pointer(0x34, 0x40);
    ring.Entry(0x40, 0x01, 0x80);
    ring.Entry(0x80, 0x05, 0xC0);
    ring.Entry(0xC0, 0x09, 0x40);
    EXPECT_EQ(kCapNone, ClassifyCapabilities(ring.bytes));

    // The longest list without a cycle visits all 64 entries, 0xFC down to
    // 0x00 (entry 0x04 reaches 0x00 through a next pointer of 0x01); the walk
    // bound must not cut it short before its last entry decides.
    Header longest;
    for (unsigned int at = 0xFC; at >= 0x08; at -= 4) longest.Entry(at, 0x09, at - 4);
    longest.Entry(0x04, 0x09, 0x01);
    longest.Entry(0x00, 0x10, 0x00);
    longest.Pointer(0x34, 0xFC);  // also the ID byte of entry 0x34: not of interest
    ASSERT_EQ(0x10, longest.bytes[0x06] & 0x10);
    ASSERT_EQ(0x00, longest.bytes[0x0E]);
    EXPECT_EQ(kCapPciExpress, ClassifyCapabilities(longest.bytes));
    longest.Entry(0x00, 0x09, 0x00);
    EXPECT_EQ(kCapNone, ClassifyCapabilities(longest.bytes));
}

}  // namespace

}  // namespace qvtest
