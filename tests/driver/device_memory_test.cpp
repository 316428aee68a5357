// No page of RAM and no device memory is ever taken for the window or
// mapped as it: the base search passes over candidates that meet memory a
// function or bridge on bus 0 decodes, every extended request checks its
// function's page before any mapping, and a window that begins elsewhere or
// ends below bus 255 serves no function through another's place.
#include <algorithm>
#include <vector>

#include "driver_fixture.h"

namespace qvtest {
namespace {

bool AnyMappedIn(uint64_t first, uint64_t end) {
    for (uint64_t address : MappedAddresses()) {
        if (address >= first && address < end) return true;
    }
    return false;
}

std::vector<unsigned char> MemoryAt(standin::Machine& machine, uint64_t address, size_t length) {
    std::vector<unsigned char> bytes(length);
    EXPECT_TRUE(machine.PhysicalRead(address, bytes.data(), length));
    return bytes;
}

// Sixteen zero bytes of plain memory at an address, to see writes land.
std::string WatchedBytes(uint64_t address) {
    char line[160];
    std::snprintf(line, sizeof line,
                  "# quorvenal bytes 0x%llx 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n",
                  static_cast<unsigned long long>(address));
    return line;
}

// A graphics function on bus 0 whose memory BAR 0 (prefetchable, 32-bit)
// is at `base`.
std::string GraphicsText(uint32_t base) {
    unsigned char graphics[256] = {0x86, 0x80, 0x02, 0x2a, 0x07, 0x00, 0x90, 0x00,
                                   0x0c, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00};
    graphics[0x10] = static_cast<unsigned char>((base & 0xF0) | 0x08);
    graphics[0x11] = static_cast<unsigned char>(base >> 8);
    graphics[0x12] = static_cast<unsigned char>(base >> 16);
    graphics[0x13] = static_cast<unsigned char>(base >> 24);
    return FunctionText("00:02.0", graphics, sizeof graphics);
}

// A PCI-to-PCI bridge 00:1e.0 (to bus 2) whose prefetchable window is
// [first, last], 1 MiB granularity.
std::string BridgeText(uint32_t first, uint32_t last) {
    unsigned char bridge[256] = {0x86, 0x80, 0x4e, 0x24, 0x07, 0x00, 0x10, 0x00,
                                 0x90, 0x01, 0x04, 0x06, 0x00, 0x00, 0x01, 0x00};
    bridge[0x19] = 0x02;
    bridge[0x1a] = 0x02;
    bridge[0x20] = 0xF0;  // memory window off (base above limit)
    bridge[0x21] = 0xFF;
    bridge[0x24] = static_cast<unsigned char>((first >> 16) & 0xF0);
    bridge[0x25] = static_cast<unsigned char>(first >> 24);
    bridge[0x26] = static_cast<unsigned char>((last >> 16) & 0xF0);
    bridge[0x27] = static_cast<unsigned char>(last >> 24);
    return FunctionText("00:1e.0", bridge, sizeof bridge);
}

// RAM up to 0xC0000000 and a framebuffer at 0xD0000000 whose bytes hold the
// host bridge's identifiers at its place and the NIC's at 01:00.0's: what any
// user who can draw on the screen can put there.
const char kFramebufferBytes[] =
    "# quorvenal memory 0x0 0xc0000000\n"
    "# quorvenal bytes 0xd0000000 86 80 00 2a\n"
    "# quorvenal bytes 0xd0100000 ab 11 63 43\n";

class FramebufferTest : public DriverTest {
protected:
    void CheckTheRealWindowIsFoundAndServed() {
        uint64_t writes = machine().ConfigWriteCount();
        standin::StartKernelTrace();
        ASSERT_EQ(ReadHeader(0, 0, 0).Result, 256u);
        ASSERT_EQ(ReadHeader(1, 0, 0).Result, 256u);
        standin::StopKernelTrace();
        EXPECT_EQ(machine().ConfigWriteCount(), writes) << "the search only reads";
        EXPECT_FALSE(AnyMappedIn(0xD0000000ull, 0xE0000000ull)) << "a candidate in device memory was probed";

        auto ext = ReadExt(1, 0, 0);
        ASSERT_EQ(ext->Result, 0u) << "the real window was found";
        unsigned char expected[3840];
        ASSERT_TRUE(machine().ReadConfig({1, 0, 0}, 0x100, expected, sizeof expected));
        EXPECT_EQ(std::memcmp(ext->ExtData, expected, sizeof expected), 0);

        std::memset(ext->ExtData + 0x400, 0x6B, 16);
        ext->Result = 0;
        Send(IOCTL_WRITE_EXT_CONFIG, ext.get(), sizeof *ext);
        EXPECT_EQ(ext->Result, 0u);
        unsigned char written[16];
        ASSERT_TRUE(machine().ReadConfig({1, 0, 0}, 0x500, written, sizeof written));
        EXPECT_EQ(std::vector<unsigned char>(written, written + 16), std::vector<unsigned char>(16, 0x6B))
            << "the write reached the function";
        EXPECT_EQ(MemoryAt(machine(), 0xD0100100ull, 16), std::vector<unsigned char>(16, 0))
            << "and nothing reached the framebuffer";
    }
};

class FramebufferBarTest : public FramebufferTest {
protected:
    void SetUp() override {
        machineText_ = std::string(kFramebufferBytes) + WatchedBytes(0xD0100100) +
                       "# quorvenal bar-size 00:02.0 0 0x10000000\n" + SmallMachineText() +
                       GraphicsText(0xD0000000);
        DriverTest::SetUp();
    }
};

TEST_F(FramebufferBarTest, AFunctionsMemoryBarIsNeverTakenForTheWindow) {
    CheckTheRealWindowIsFoundAndServed();
}

class FramebufferBehindABridgeTest : public FramebufferTest {
protected:
    void SetUp() override {
        machineText_ = std::string(kFramebufferBytes) + WatchedBytes(0xD0100100) + SmallMachineText() +
                       BridgeText(0xD0000000, 0xDFFFFFFF);
        DriverTest::SetUp();
    }
};

TEST_F(FramebufferBehindABridgeTest, ABridgesPrefetchableWindowIsNeverTakenForTheWindow) {
    CheckTheRealWindowIsFoundAndServed();
}

// A base taken in memory that held 00:00.0's identifiers at 0x10000000
// (plain memory, not RAM): 00:1c.0's page below it, 0x100E0000, is RAM. An
// extended request for 00:1c.0 checks that page before any mapping.
class RamBelowAWrongBaseTest : public DriverTest {
protected:
    void SetUp() override {
        machineText_ =
            "# quorvenal memory 0x100e0000 0x1000\n"
            "# quorvenal bytes 0x10000000 86 80 00 2a\n" +
            SmallMachineText();
        DriverTest::SetUp();
    }
};

TEST_F(RamBelowAWrongBaseTest, NoExtendedRequestMapsAPageOfRam) {
    ASSERT_EQ(ReadHeader(0, 0, 0).Result, 256u);
    for (int write = 0; write < 2; ++write) {
        auto ext = ExtRecord(0, 0x1c, 0, 0x3C);
        standin::StartKernelTrace();
        Send(write ? IOCTL_WRITE_EXT_CONFIG : IOCTL_READ_EXT_CONFIG, ext.get(), sizeof *ext);
        standin::StopKernelTrace();
        EXPECT_EQ(ext->Result, 1u);
        EXPECT_TRUE(MappedAddresses().empty()) << (write ? "write" : "read");
    }
    EXPECT_EQ(standin::GetKernelCounters().ramMappings, 0u);
    EXPECT_EQ(MemoryAt(machine(), 0x100E0100ull, 16), std::vector<unsigned char>(16, 0));
}

// The same with RAM at the place of an odd-numbered function (00:1c.1,
// place 0xE1000) alone: the page checked is that function's own, not the one
// below it.
class RamAtAnOddFunctionsPlaceTest : public DriverTest {
protected:
    void SetUp() override {
        unsigned char odd[4096] = {0x86, 0x80, 0x11, 0x2a, 0x06, 0x00, 0x10, 0x00,
                                   0x00, 0x00, 0x04, 0x06, 0x00, 0x00, 0x81, 0x00};
        machineText_ =
            "# quorvenal memory 0x100e1000 0x1000\n"
            "# quorvenal bytes 0x10000000 86 80 00 2a\n" +
            SmallMachineText() + FunctionText("00:1c.1", odd, sizeof odd);
        DriverTest::SetUp();
    }
};

TEST_F(RamAtAnOddFunctionsPlaceTest, NoExtendedRequestMapsThePageOfRam) {
    ASSERT_EQ(ReadHeader(0, 0, 0).Result, 256u);
    auto ext = ExtRecord(0, 0x1c, 1, 0x3C);
    standin::StartKernelTrace();
    Send(IOCTL_READ_EXT_CONFIG, ext.get(), sizeof *ext);
    standin::StopKernelTrace();
    EXPECT_EQ(ext->Result, 1u);
    EXPECT_TRUE(MappedAddresses().empty());
    EXPECT_EQ(standin::GetKernelCounters().ramMappings, 0u);
}

// Two functions with the same identifiers (the host bridges of two
// sockets, say): 00:00.0 and 80:00.0, each with an extended space. The window
// begins at 0xF8000000 and ends at bus 0x3f, so the lower candidate
// 0xF0000000 meets it at bus 0x80: 80:00.0's place there is 00:00.0's.
class WindowAt0xF8000000Test : public DriverTest {
protected:
    void SetUp() override {
        unsigned char bridge[4096] = {0x86, 0x80, 0x00, 0x2a, 0x06, 0x00, 0x90, 0x20,
                                      0x03, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00, 0x00};
        std::string text =
            "# quorvenal ecam-base 0xf8000000\n"
            "# quorvenal ecam-last-bus 3f\n"
            "# quorvenal memory 0x0 0xc0000000\n";
        for (unsigned offset = 0x100; offset < 0x1000; ++offset) bridge[offset] = 0x11;
        text += FunctionText("00:00.0", bridge, sizeof bridge);
        for (unsigned offset = 0x100; offset < 0x1000; ++offset) bridge[offset] = 0x22;
        text += FunctionText("80:00.0", bridge, sizeof bridge);
        machineText_ = text;
        DriverTest::SetUp();
    }
};

TEST_F(WindowAt0xF8000000Test, AFunctionIsNeverServedThroughAnothersPlace) {
    standin::StartKernelTrace();
    ASSERT_EQ(ReadHeader(0x80, 0, 0).Result, 256u);
    standin::StopKernelTrace();
    std::vector<uint64_t> probes = MappedAddresses();
    ASSERT_GE(probes.size(), 3u);
    EXPECT_EQ(probes[probes.size() - 1], 0xF0000000ull) << "00:00.0's identifiers looked for at the base";

    uint64_t hostWrites = machine().ConfigWriteCount({0, 0, 0});
    auto ext = ExtRecord(0x80, 0, 0, 0x5A);
    Send(IOCTL_WRITE_EXT_CONFIG, ext.get(), sizeof *ext);
    EXPECT_EQ(ext->Result, 1u);
    EXPECT_EQ(machine().ConfigWriteCount({0, 0, 0}), hostWrites) << "80:00.0's write landed in 00:00.0";
    unsigned char space[16];
    ASSERT_TRUE(machine().ReadConfig({0, 0, 0}, 0x100, space, sizeof space));
    EXPECT_EQ(std::vector<unsigned char>(space, space + 16), std::vector<unsigned char>(16, 0x11));

    // The window does not begin at a candidate: it is not found at all.
    ASSERT_EQ(ReadHeader(0, 0, 0).Result, 256u);
    EXPECT_EQ(ReadExt(0, 0, 0)->Result, 1u);
}

// The window at 0xE0000000 ends at bus 0x3f; a 16 MiB BAR of 00:02.0 begins
// right after it, at 0xE4000000, where bus 0x40's place would be, and holds
// the identifiers of 40:00.0 (a function the port pair reaches).
class BusBeyondTheWindowTest : public DriverTest {
protected:
    void SetUp() override {
        unsigned char nic[4096] = {0xab, 0x11, 0x63, 0x43, 0x07, 0x04, 0x10, 0x00,
                                   0x14, 0x00, 0x00, 0x02, 0x10, 0x00, 0x00, 0x00};
        machineText_ =
            "# quorvenal ecam-last-bus 3f\n"
            "# quorvenal memory 0x0 0xc0000000\n"
            "# quorvenal bar-size 00:02.0 0 0x1000000\n"
            "# quorvenal bytes 0xe4000000 ab 11 63 43\n" +
            WatchedBytes(0xE4000100) + SmallMachineText() + GraphicsText(0xE4000000) +
            FunctionText("40:00.0", nic, sizeof nic);
        DriverTest::SetUp();
    }
};

TEST_F(BusBeyondTheWindowTest, ABusPastTheWindowsEndIsNotServedFromDeviceMemory) {
    ASSERT_EQ(ReadHeader(0, 0, 0).Result, 256u);
    ASSERT_EQ(ReadExt(1, 0, 0)->Result, 0u) << "the window serves the buses it has";

    uint64_t writes = machine().ConfigWriteCount();
    auto ext = ExtRecord(0x40, 0, 0, 0x5A);
    standin::StartKernelTrace();
    Send(IOCTL_WRITE_EXT_CONFIG, ext.get(), sizeof *ext);
    standin::StopKernelTrace();
    EXPECT_EQ(ext->Result, 1u);
    EXPECT_TRUE(MappedAddresses().empty()) << "refused before any mapping";
    EXPECT_EQ(machine().ConfigWriteCount(), writes);
    EXPECT_EQ(MemoryAt(machine(), 0xE4000100ull, 16), std::vector<unsigned char>(16, 0));
}

void Put32(unsigned char* header, unsigned offset, uint32_t value) {
    for (unsigned i = 0; i < 4; ++i) header[offset + i] = static_cast<unsigned char>(value >> (8 * i));
}

// A machine without a window or RAM, on which reading 00:1d.0's header
// makes the driver search for the window at 00:1d.0's place (0xE8000) of
// each candidate base: the places it probes (maps) on the way.
class PlaceSearchTest : public DriverTest {
protected:
    std::vector<uint64_t> PlacesProbedFor1d() {
        standin::StartKernelTrace();
        EXPECT_EQ(ReadHeader(0, 0x1d, 0).Result, 256u);
        standin::StopKernelTrace();
        return MappedAddresses();
    }
};

// Every kind of range a function or bridge on bus 0 decodes, one at each
// candidate, on a machine without a window or RAM: the search for 00:1d.0
// (place 0xE8000) probes exactly the candidates that none of them meets.
class DeviceRangeKindsTest : public PlaceSearchTest {
protected:
    void SetUp() override {
        unsigned char multi[256] = {0x86, 0x80, 0x10, 0x10, 0x06, 0x00, 0x00, 0x00,
                                    0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x80, 0x00};
        Put32(multi, 0x10, 0xB0000001);  // an I/O BAR: not memory (candidate 11 probed)
        Put32(multi, 0x14, 0xC00E9000);  // the page after the probed one (12 probed)
        Put32(multi, 0x18, 0xCFFFFFF0);  // 16 bytes ending below 0xD0000000 (13 probed)
        Put32(multi, 0x1C, 0x100E8FF0);  // BAR 3, the probed page's last 16 bytes (1 passed over)
        Put32(multi, 0x20, 0x40000004);  // BARs 4 and 5: 64-bit, above 4 GiB (4 probed)
        Put32(multi, 0x24, 0x00000001);
        Put32(multi, 0x28, 0x400A0000);  // the CardBus CIS pointer after the BARs: not a BAR (4 probed)
        Put32(multi, 0x30, 0x20000801);  // an enabled ROM (2 passed over)
        unsigned char last[256] = {0x86, 0x80, 0x11, 0x10, 0x06, 0x00, 0x00, 0x00,
                                   0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00};
        Put32(last, 0x10, 0x30001000);  // function 7 of a multi-function device (3 passed over)
        Put32(last, 0x30, 0x40000800);  // a ROM not decoded (4 probed)
        unsigned char single[256] = {0x86, 0x80, 0x12, 0x10, 0x06, 0x00, 0x00, 0x00,
                                     0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00};
        unsigned char stray[256] = {0x86, 0x80, 0x13, 0x10, 0x06, 0x00, 0x00, 0x00,
                                    0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00};
        Put32(stray, 0x10, 0x70000000);  // function 1 of a single-function device: not decoded (7 probed)
        unsigned char cardbus[256] = {0x80, 0x10, 0x76, 0x04, 0x06, 0x00, 0x00, 0x00,
                                      0x00, 0x00, 0x07, 0x06, 0x00, 0x00, 0x02, 0x00};
        Put32(cardbus, 0x10, 0xA0000000);  // socket registers (10 passed over)
        Put32(cardbus, 0x1C, 0x80000000);  // memory window 0 (8)
        Put32(cardbus, 0x20, 0x80000000);
        Put32(cardbus, 0x24, 0x90004000);  // memory window 1 (9)
        Put32(cardbus, 0x28, 0x90004000);
        unsigned char target[256] = {0x86, 0x80, 0x14, 0x10, 0x06, 0x00, 0x00, 0x00,
                                     0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00};
        unsigned char bridge[256] = {0x86, 0x80, 0x48, 0x24, 0x06, 0x00, 0x10, 0x00,
                                     0x00, 0x00, 0x04, 0x06, 0x00, 0x00, 0x01, 0x00};
        Put32(bridge, 0x20, 0x50005000);  // memory window 0x50000000..0x500FFFFF (5)
        Put32(bridge, 0x24, 0x60016001);  // prefetchable, 64-bit, below 4 GiB (6)
        Put32(bridge, 0x18, 0x700A0000);  // bus numbers after a bridge's two BARs: not a BAR (7 probed)
        Put32(bridge, 0x38, 0x3FFFF801);  // a ROM ending below 0x40000000 (4 probed)
        unsigned char last_bridge[256] = {0x86, 0x80, 0x49, 0x24, 0x06, 0x00, 0x10, 0x00,
                                          0x00, 0x00, 0x04, 0x06, 0x00, 0x00, 0x01, 0x00};
        Put32(last_bridge, 0x20, 0xF000F000);  // device 31's memory window (15)
        Put32(last_bridge, 0x24, 0x70017001);  // prefetchable above 4 GiB (7 probed)
        Put32(last_bridge, 0x28, 0x00000001);
        Put32(last_bridge, 0x2C, 0x00000001);
        Put32(last_bridge, 0x38, 0xE0001001);  // a bridge's enabled ROM (14)
        machineText_ = std::string("# quorvenal ecam-base none\n") + FunctionText("00:01.0", multi, 256) +
                       FunctionText("00:01.7", last, 256) + FunctionText("00:02.0", single, 256) +
                       FunctionText("00:02.1", stray, 256) + FunctionText("00:1c.0", cardbus, 256) +
                       FunctionText("00:1d.0", target, 256) + FunctionText("00:1e.0", bridge, 256) +
                       FunctionText("00:1f.0", last_bridge, 256);
        DriverTest::SetUp();
    }
};

TEST_F(DeviceRangeKindsTest, TheSearchProbesOnlyTheCandidatesNoDeviceMemoryMeets) {
    EXPECT_EQ(PlacesProbedFor1d(),
              (std::vector<uint64_t>{0x400E8000, 0x700E8000, 0xB00E8000, 0xC00E8000, 0xD00E8000}));
}

// Ranges that reach far or end right at a candidate, on bus 0: 00:00.0's
// 64-bit BARs (0 and 1 above 4 GiB, their low half at candidate 11, which is
// still probed; 2 and 3 below 4 GiB at candidate 12, beside the I/O BAR 4;
// BAR 5 marked 64-bit at candidate 13 with no BAR after it, the CIS pointer
// next being no upper half); a bridge's 64-bit prefetchable window from
// 0xE0000000 to past 4 GiB (14 and 15); a CardBus bridge whose socket
// registers end right below candidate 6, whose window 0 begins on the page
// after candidate 5's place and whose window 1 is switched off (base above
// limit) with its base in candidate 6's place; another whose window from 0
// is switched off (a zero base); and a function of no known layout whose
// doubleword at 0x10 would be candidate 1's place, and one whose vendor
// reads 0 (no function) with a BAR at candidate 2's; and function 1 of the
// bridge, a device of one function (header type 0x01), with a BAR at
// candidate 4's; the other CardBus bridge's socket registers are on the page after
// candidate 7's place. Candidates 1 to 7 and 11 are probed.
class WideRangesTest : public PlaceSearchTest {
protected:
    void SetUp() override {
        unsigned char function[256] = {0x86, 0x80, 0x12, 0x10, 0x06, 0x00, 0x00, 0x00,
                                       0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00};
        function[0x0C] = 0x10;  // a cache line size: the doubleword at 0x0c is no BAR
        Put32(function, 0x10, 0xB00E8004);
        Put32(function, 0x14, 0x00000001);
        Put32(function, 0x18, 0xC00E8004);
        Put32(function, 0x20, 0x00000101);
        Put32(function, 0x24, 0xD00E8004);
        Put32(function, 0x28, 0x00000001);
        unsigned char bridge[256] = {0x86, 0x80, 0x48, 0x24, 0x06, 0x00, 0x10, 0x00,
                                     0x00, 0x00, 0x04, 0x06, 0x00, 0x00, 0x01, 0x00};
        Put32(bridge, 0x24, 0x0FF1E001);  // prefetchable, 64-bit: 0xE0000000 to 0x1_0FFFFFFF,
        Put32(bridge, 0x28, 0x00000000);  // .. upper halves 0 and 1
        Put32(bridge, 0x2C, 0x00000001);
        unsigned char cardbus[256] = {0x80, 0x10, 0x76, 0x04, 0x06, 0x00, 0x00, 0x00,
                                      0x00, 0x00, 0x07, 0x06, 0x00, 0x00, 0x02, 0x00};
        Put32(cardbus, 0x10, 0x5FFFF000);  // socket registers
        Put32(cardbus, 0x1C, 0x500E9000);  // memory window 0
        Put32(cardbus, 0x20, 0x500E9000);
        Put32(cardbus, 0x24, 0x600E8000);  // memory window 1, switched off
        Put32(cardbus, 0x28, 0x60000000);
        unsigned char fromZero[256] = {0x80, 0x10, 0x76, 0x04, 0x06, 0x00, 0x00, 0x00,
                                       0x00, 0x00, 0x07, 0x06, 0x00, 0x00, 0x02, 0x00};
        Put32(fromZero, 0x20, 0x3FFFF000);  // memory window 0 from 0: switched off
        Put32(fromZero, 0x10, 0x700E9000);  // socket registers on the page after candidate 7's place
        unsigned char unknown[256] = {0x86, 0x80, 0x15, 0x10, 0x06, 0x00, 0x00, 0x00,
                                      0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x03, 0x00};
        Put32(unknown, 0x10, 0x100E8000);
        unsigned char noVendor[256] = {0x00, 0x00, 0x34, 0x12, 0x06, 0x00, 0x00, 0x00,
                                       0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00};
        Put32(noVendor, 0x10, 0x200E8000);
        unsigned char stray[256] = {0x86, 0x80, 0x13, 0x10, 0x06, 0x00, 0x00, 0x00,
                                    0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00};
        Put32(stray, 0x10, 0x400E8000);
        unsigned char target[256] = {0x86, 0x80, 0x14, 0x10, 0x06, 0x00, 0x00, 0x00,
                                     0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00};
        machineText_ = std::string("# quorvenal ecam-base none\n") + FunctionText("00:00.0", function, 256) +
                       FunctionText("00:03.0", unknown, 256) + FunctionText("00:04.0", noVendor, 256) +
                       FunctionText("00:1b.0", fromZero, 256) + FunctionText("00:1c.0", cardbus, 256) +
                       FunctionText("00:1d.0", target, 256) + FunctionText("00:1e.0", bridge, 256) +
                       FunctionText("00:1e.1", stray, 256);
        DriverTest::SetUp();
    }
};

TEST_F(WideRangesTest, TheSearchPassesOverWhatTheyDecodeAndNoMore) {
    std::vector<uint64_t> probed = PlacesProbedFor1d();
    for (uint64_t passedOver : {0xC00E8000ull, 0xD00E8000ull, 0xE00E8000ull, 0xF00E8000ull}) {
        EXPECT_EQ(std::count(probed.begin(), probed.end(), passedOver), 0) << std::hex << passedOver;
    }
    for (uint64_t stillProbed : {0x100E8000ull, 0x200E8000ull, 0x300E8000ull, 0x400E8000ull, 0x500E8000ull,
                                 0x600E8000ull, 0x700E8000ull, 0xB00E8000ull}) {
        EXPECT_EQ(std::count(probed.begin(), probed.end(), stillProbed), 1) << std::hex << stillProbed;
    }
}

// A machine without bus 0 (a dump of one root bus, say): bus 2 holds a
// function whose vendor reads 0x0000 at 02:00.0 and a bridge-like function
// at 02:1f.0, the lowest bus's first answering function; bus 3 holds the NIC.
class NoBusZeroTest : public DriverTest {
protected:
    void SetUp() override {
        unsigned char zero[256] = {0x00, 0x00, 0x34, 0x12, 0x00, 0x00, 0x00, 0x00,
                                   0x00, 0x00, 0x80, 0xff, 0x00, 0x00, 0x00, 0x00};
        unsigned char anchor[256] = {0x57, 0x19, 0x70, 0x00, 0x06, 0x00, 0x10, 0x00,
                                     0x21, 0x00, 0x80, 0x0b, 0x00, 0x00, 0x00, 0x00};
        unsigned char nic[4096] = {0xab, 0x11, 0x63, 0x43, 0x07, 0x04, 0x10, 0x00,
                                   0x14, 0x00, 0x00, 0x02, 0x10, 0x00, 0x00, 0x00};
        machineText_ = "# quorvenal memory 0x0 0xc0000000\n" + FunctionText("02:00.0", zero, sizeof zero) +
                       FunctionText("02:1f.0", anchor, sizeof anchor) +
                       FunctionText("03:00.0", nic, sizeof nic);
        DriverTest::SetUp();
    }
};

TEST_F(NoBusZeroTest, TheWindowIsConfirmedAtTheLowestBusesFirstFunction) {
    // From the lowest bus's first function itself: nothing to confirm.
    const uint64_t anchor = 2u << 20 | 0x1Fu << 15;
    standin::StartKernelTrace();
    ASSERT_EQ(ReadHeader(2, 0x1f, 0).Result, 256u);
    standin::StopKernelTrace();
    EXPECT_EQ(MappedAddresses(), (std::vector<uint64_t>{0xC0000000 | anchor, 0xD0000000 | anchor,
                                                        0xE0000000 | anchor, (0xE0000000 | anchor) + 2}));

    // From a function on a higher bus: confirmed at 02:1f.0's place (not at
    // 02:00.0's, whose vendor reads 0x0000). A bus that does not exist costs
    // one HAL read, not one per device number.
    CloseAndUnload();
    LoadAndOpen();
    const uint64_t place = 3u << 20;
    uint64_t halReads = standin::GetKernelCounters().halReads;
    standin::StartKernelTrace();
    ASSERT_EQ(ReadHeader(3, 0, 0).Result, 256u);
    standin::StopKernelTrace();
    EXPECT_EQ(MappedAddresses(), (std::vector<uint64_t>{0xC0000000 | place, 0xD0000000 | place,
                                                        0xE0000000 | place, (0xE0000000 | place) + 2,
                                                        0xE0000000 | anchor, (0xE0000000 | anchor) + 2}));
    EXPECT_LT(standin::GetKernelCounters().halReads - halReads, 100u);
    EXPECT_EQ(ReadExt(3, 0, 0)->Result, 0u) << "the window was found";
}

}  // namespace
}  // namespace qvtest
