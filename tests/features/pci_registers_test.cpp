// The register facts the dialog program and qvcli share: the loads and the
// class code in their byte order, and the two capability walks, which a
// restore relies on to visit every entry (the classification stops at the
// first entry of interest, so its own tests see only the walk's start).
#include "../../ioctl/sys/pci_registers.h"

#include <gtest/gtest.h>

#include <string.h>

#include <vector>

namespace qvtest {

namespace {

struct Space {
    unsigned char bytes[kPciSpaceEnd];
    Space() { memset(bytes, 0, sizeof bytes); }
    // A capability list announced in the status, from the pointer at
    // pointerOffset through the entries in order, the last pointing nowhere.
    void CapabilityList(unsigned pointerOffset, const std::vector<unsigned>& entries) {
        bytes[kPciStatus] = kPciStatusCapabilityList;
        unsigned at = pointerOffset;
        for (unsigned entry : entries) {
            bytes[at] = (unsigned char)entry;
            at = entry + 1;
        }
        bytes[at] = 0;
    }
    void ExtendedEntry(unsigned at, unsigned id, unsigned next) {
        unsigned header = id | next << 20;
        for (unsigned i = 0; i < 4; ++i) bytes[at + i] = (unsigned char)(header >> (8 * i));
    }
};

std::vector<unsigned> Capabilities(const Space& space, unsigned pointerOffset) {
    std::vector<unsigned> entries;
    PciCapabilityWalk walk = StartPciCapabilityWalk(space.bytes, pointerOffset);
    unsigned entry;
    while (NextPciCapability(&walk, &entry)) entries.push_back(entry);
    return entries;
}

std::vector<unsigned> ExtendedCapabilities(const Space& space) {
    std::vector<unsigned> entries;
    PciExtendedCapabilityWalk walk = StartPciExtendedCapabilityWalk(space.bytes);
    unsigned entry;
    while (NextPciExtendedCapability(&walk, &entry)) entries.push_back(entry);
    return entries;
}

TEST(PciRegisters, LoadsAndClassCodeTakeTheLowestAddressAsTheLowestByte) {
    Space space;
    const unsigned char header[] = {0x86, 0x80, 0x2a, 0x1e, 0,    0,    0,   0,
                                    0x04, 0x01, 0x06, 0x0c, 0xff, 0xff, 0x81};
    memcpy(space.bytes, header, sizeof header);
    EXPECT_EQ(PciVendorId(space.bytes), 0x8086u);
    EXPECT_EQ(PciDeviceId(space.bytes), 0x1e2au);
    EXPECT_EQ(PciClassCode(space.bytes), 0x0c0601u);
    EXPECT_EQ(LoadLe32(space.bytes + 0x0C), 0x0081ffffu);
    space.bytes[0x0F] = 0x80;  // the top bit stays a bit, not a sign
    EXPECT_EQ(LoadLe32(space.bytes + 0x0C), 0x8081ffffu);
    EXPECT_EQ(PciHeaderLayout(space.bytes), kPciLayoutBridge) << "the multi-function bit is not the layout";
}

TEST(PciRegisters, CapabilityWalkVisitsEveryEntryInListOrder) {
    Space space;
    space.CapabilityList(0x34, {0x60, 0x40, 0xA8});
    EXPECT_EQ(Capabilities(space, 0x34), (std::vector<unsigned>{0x60, 0x40, 0xA8}));

    // Entry offsets drop the pointer's two low bits; only a pointer of 0 ends.
    space.bytes[0x34] = 0x63;
    space.bytes[0x61] = 0x02;  // leads to offset 0x00, whose next byte is 0x01 ...
    space.bytes[0x01] = 0x00;  // ... and that entry ends the list
    EXPECT_EQ(Capabilities(space, 0x34), (std::vector<unsigned>{0x60, 0x00}));

    // No list without the status bit, nor without a pointer's place.
    EXPECT_EQ(Capabilities(space, 0), std::vector<unsigned>{});
    space.bytes[kPciStatus] = 0xFF & ~kPciStatusCapabilityList;
    EXPECT_EQ(Capabilities(space, 0x34), std::vector<unsigned>{});
}

TEST(PciRegisters, CapabilityWalkEndsACycleAfterAsManyEntriesAsPointersCanName) {
    Space space;
    space.CapabilityList(0x14, {0x80, 0x90});
    space.bytes[0x91] = 0x80;  // back to the first
    std::vector<unsigned> entries = Capabilities(space, 0x14);
    ASSERT_EQ(entries.size(), (size_t)kPciMaxCapabilityEntries);
    EXPECT_EQ(entries[62], 0x80u);
    EXPECT_EQ(entries[63], 0x90u);
}

TEST(PciRegisters, ExtendedWalkFollowsNextPointersUntilAnEnd) {
    Space space;
    space.ExtendedEntry(0x100, 0x0001, 0x148);
    space.ExtendedEntry(0x148, 0x000B, 0x303);  // the next pointer's two reserved low bits set
    space.ExtendedEntry(0x300, 0x0019, 0x000);
    EXPECT_EQ(ExtendedCapabilities(space), (std::vector<unsigned>{0x100, 0x148, 0x300}));

    // A next pointer below 0x100 ends the list after its entry, whatever the
    // header holds there.
    space.ExtendedEntry(0x0FC, 0x0001, 0x200);
    space.ExtendedEntry(0x300, 0x0019, 0x0FC);
    EXPECT_EQ(ExtendedCapabilities(space), (std::vector<unsigned>{0x100, 0x148, 0x300}));

    // A header of all ones (nobody answering) or of 0 is no entry.
    memset(space.bytes + 0x148, 0xFF, 4);
    EXPECT_EQ(ExtendedCapabilities(space), std::vector<unsigned>{0x100});
    memset(space.bytes + 0x100, 0x00, 4);
    EXPECT_EQ(ExtendedCapabilities(space), std::vector<unsigned>{});
}

TEST(PciRegisters, ExtendedWalkEndsACycle) {
    Space space;
    space.ExtendedEntry(0x100, 0x0001, 0x100);
    EXPECT_EQ(ExtendedCapabilities(space).size(), (size_t)kPciMaxExtendedEntries);
}

}  // namespace

}  // namespace qvtest
