// The base search never maps RAM: a candidate whose page the memory manager
// lists as RAM reads as 0xFFFF without a mapping. The list is asked for once
// per search and freed after it.
#include <vector>

#include "driver_fixture.h"

namespace qvtest {
namespace {

// A fixture over the small machine with the RAM (and other lines) given.
class RamMachineTest : public DriverTest {
protected:
    explicit RamMachineTest(const std::string& lines) { machineText_ = lines + SmallMachineText(); }
};

// RAM from 0 to 3 GiB, as on the default machine: the twelve candidates in
// it are never mapped; 0xC0000000 and 0xD0000000 (nothing there) are, and
// the window at 0xE0000000 is found.
class ThreeGigabytesOfRamTest : public RamMachineTest {
protected:
    ThreeGigabytesOfRamTest() : RamMachineTest("# quorvenal memory 0x0 0xc0000000\n") {}
};

TEST_F(ThreeGigabytesOfRamTest, SearchMapsOnlyCandidatesOutsideRam) {
    standin::StartKernelTrace();
    ConfigRequest header = ReadHeader(1, 0, 0);
    standin::StopKernelTrace();
    ASSERT_EQ(header.Result, 256u);
    const uint64_t place = 1u << 20;
    // The function is on bus 1: the base must also hold 00:00.0's
    // identifiers at its own place.
    std::vector<uint64_t> expected = {0xC0000000 | place,       0xD0000000 | place, 0xE0000000 | place,
                                      (0xE0000000 | place) + 2, 0xE0000000,         0xE0000002};
    EXPECT_EQ(MappedAddresses(), expected);

    standin::KernelCounters counters = standin::GetKernelCounters();
    EXPECT_EQ(counters.ramMappings, 0u);
    EXPECT_EQ(counters.memoryRangeLists, 1u) << "one list per search";
    EXPECT_EQ(counters.livePool, 0) << "the list is freed after the search";
    EXPECT_EQ(ReadExt(1, 0, 0)->Result, 0u) << "the window was found";
    EXPECT_EQ(standin::GetKernelCounters().memoryRangeLists, 2u) << "and one per extended request";
    ReadHeader(0, 0, 0);
    EXPECT_EQ(standin::GetKernelCounters().memoryRangeLists, 2u) << "no search once the base is known";
    EXPECT_EQ(standin::GetKernelCounters().livePool, 0);
}

// RAM holding both identifiers of the host bridge at the probed place of a
// lower candidate: the search would take it for the window if it read it.
class IdentityInRamTest : public RamMachineTest {
protected:
    IdentityInRamTest()
        : RamMachineTest(
              "# quorvenal memory 0x0 0xc0000000\n"
              "# quorvenal bytes 0x30000000 86 80 00 2a\n") {}
};

TEST_F(IdentityInRamTest, RamHoldingTheIdentifiersIsNeverReadNorTaken) {
    ReadHeader(0, 0, 0);
    EXPECT_EQ(standin::GetKernelCounters().ramMappings, 0u);
    auto ext = ReadExt(0, 0, 0);
    ASSERT_EQ(ext->Result, 0u);
    std::memset(ext->ExtData, 0x5A, sizeof ext->ExtData);
    ext->Result = 0;
    Send(IOCTL_WRITE_EXT_CONFIG, ext.get(), sizeof *ext);
    EXPECT_EQ(ext->Result, 0u);
    unsigned char ram[16] = {};
    ASSERT_TRUE(machine().PhysicalRead(0x30000100, ram, sizeof ram));
    for (unsigned char byte : ram) EXPECT_EQ(byte, 0) << "an extended write reached RAM";
}

// No window at all: every read of a present function searches again, and
// each search asks for the list once and frees it. Nothing of RAM is mapped
// in a whole scan.
class NoWindowTest : public RamMachineTest {
protected:
    NoWindowTest() : RamMachineTest("# quorvenal ecam-base none\n# quorvenal memory 0x0 0xc0000000\n") {}
};

TEST_F(NoWindowTest, AScanMapsNoRamAndFreesEveryList) {
    unsigned present = 0;
    for (unsigned bus = 0; bus < 2; ++bus) {
        for (unsigned device = 0; device < 32; ++device) {
            for (unsigned function = 0; function < 8; ++function) {
                ConfigRequest header = ReadHeader(bus, device, function);
                if (header.Result == 256) ++present;
            }
        }
    }
    ASSERT_EQ(present, 5u);
    standin::KernelCounters counters = standin::GetKernelCounters();
    EXPECT_EQ(counters.ramMappings, 0u);
    EXPECT_EQ(counters.memoryRangeLists, present);
    EXPECT_EQ(counters.livePool, 0);
    // Four candidates above RAM per search (0xC0000000 .. 0xF0000000), each
    // refused: nothing is there.
    EXPECT_EQ(counters.mappingsRefused, 4u * present);
    EXPECT_EQ(counters.mappingsMade, 0u);
}

// No window, no RAM listed and no bridge: each search probes the fifteen
// candidates 0x10000000 .. 0xF0000000 at the function's place, and nothing
// at 0.
class NoWindowNoRamTest : public DriverTest {
protected:
    void SetUp() override {
        unsigned char host[256] = {0x86, 0x80, 0x00, 0x2a, 0x06, 0x00, 0x90, 0x20,
                                   0x03, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00, 0x00};
        machineText_ = "# quorvenal ecam-base none\n" + FunctionText("00:00.0", host, sizeof host) +
                       FunctionText("00:1d.0", host, sizeof host);
        DriverTest::SetUp();
    }
};

TEST_F(NoWindowNoRamTest, EachSearchProbesTheFifteenCandidatesAndNoOther) {
    standin::StartKernelTrace();
    ASSERT_EQ(ReadHeader(0, 0x1d, 0).Result, 256u);
    standin::StopKernelTrace();
    std::vector<uint64_t> expected;
    for (uint64_t candidate = 1; candidate <= 15; ++candidate) expected.push_back(candidate << 28 | 0xE8000);
    EXPECT_EQ(MappedAddresses(), expected);
}

// Where a candidate's page is only partly RAM it is passed over; a page that
// begins where RAM ends is probed.
class PartialPageTest : public RamMachineTest {
protected:
    PartialPageTest()
        : RamMachineTest(
              "# quorvenal memory 0x0 0x10000000\n"
              "# quorvenal memory 0x20000fff 0x1\n"
              "# quorvenal memory 0x2ffff000 0x1001\n") {}
};

TEST_F(PartialPageTest, APageTouchingRamIsPassedOverAndTheNextPageIsNot) {
    standin::StartKernelTrace();
    ReadHeader(0, 0, 0);
    standin::StopKernelTrace();
    std::vector<uint64_t> probes = MappedAddresses();
    ASSERT_GE(probes.size(), 2u);
    EXPECT_EQ(probes[0], 0x10000000u) << "RAM ends where this page begins";
    EXPECT_EQ(probes[1], 0x40000000u)
        << "0x20000000 shares a page with RAM at 0x20000fff, 0x30000000 with RAM up to 0x30000000";
    EXPECT_EQ(standin::GetKernelCounters().ramMappings, 0u);
}

// Without the list nothing is known about where RAM lies: no candidate is
// probed and no base taken; the next search, with the list, finds it.
class NoRangeListTest : public RamMachineTest {
protected:
    NoRangeListTest() : RamMachineTest("# quorvenal memory 0x0 0xc0000000\n") {}
    void TearDown() override {
        standin::SetMemoryRangesUnavailable(false);
        RamMachineTest::TearDown();
    }
};

TEST_F(NoRangeListTest, NoListMeansNoProbeAndTheNextSearchRunsAgain) {
    standin::SetMemoryRangesUnavailable(true);
    standin::StartKernelTrace();
    ConfigRequest header = ReadHeader(0, 0, 0);
    standin::StopKernelTrace();
    EXPECT_EQ(header.Result, 256u);
    EXPECT_TRUE(MappedAddresses().empty());
    EXPECT_EQ(ReadExt(0, 0, 0)->Result, 1u) << "no base without the list";

    standin::SetMemoryRangesUnavailable(false);
    ReadHeader(0, 0, 0);
    EXPECT_EQ(ReadExt(0, 0, 0)->Result, 0u);
}

}  // namespace
}  // namespace qvtest
