// The memory-mapped window is found with the identifiers the hardware holds,
// never those a caller sends, and serves a function only where that
// function's identifiers stand in it.
#include "driver_fixture.h"

namespace qvtest {
namespace {

bool AllBytesAre(const unsigned char* bytes, size_t length, unsigned char value) {
    for (size_t i = 0; i < length; ++i) {
        if (bytes[i] != value) return false;
    }
    return true;
}

// Ordinary memory below the window holds, at 00:05.0's place below the
// lowest candidate, two identifiers of the attacker's choice. 00:05.0 is
// empty. A header write for 00:05.0 carrying those identifiers must not make
// the driver take the memory for the window.
class SpoofedIdentifiersTest : public DriverTest {
protected:
    void SetUp() override {
        machineText_ =
            "# quorvenal memory 0x0 0xc0000000\n"
            "# quorvenal bytes 0x10028000 de c0 ad 0b\n" +
            SmallMachineText();
        DriverTest::SetUp();
    }
};

TEST_F(SpoofedIdentifiersTest, AHeaderWriteCarryingMemorysIdentifiersTakesNoBase) {
    unsigned char header[256] = {0xde, 0xc0, 0xad, 0x0b};
    standin::StartKernelTrace();
    ConfigRequest written = WriteHeader(0, 5, 0, header);
    standin::StopKernelTrace();
    EXPECT_EQ(written.Result, 1u) << "a header write to an empty address still reports 1";
    EXPECT_TRUE(standin::TracedMappings().empty()) << "nobody answers at 00:05.0: no search";

    // The extended writes that would follow: nothing lands in memory.
    for (unsigned bus : {0u, 8u}) {
        auto ext = ExtRecord(bus, bus == 0 ? 5 : 0, 0, 0xAB);
        Reply reply = Send(IOCTL_WRITE_EXT_CONFIG, ext.get(), sizeof *ext);
        EXPECT_EQ(reply.status, STATUS_SUCCESS);
        EXPECT_EQ(ext->Result, 1u) << "bus " << bus;
    }
    std::vector<unsigned char> memory(0x1000);
    ASSERT_TRUE(machine().PhysicalRead(0x10800000ull, memory.data(), memory.size()));
    EXPECT_TRUE(AllBytesAre(memory.data(), memory.size(), 0));
    ASSERT_TRUE(machine().PhysicalRead(0x10028000ull, memory.data(), memory.size()));
    EXPECT_EQ(std::memcmp(memory.data(), "\xde\xc0\xad\x0b", 4), 0);
    EXPECT_TRUE(AllBytesAre(memory.data() + 4, memory.size() - 4, 0));

    // The program's own path still finds the real window and is served there.
    ASSERT_EQ(ReadHeader(1, 0, 0).Result, 256u);
    auto ext = ReadExt(1, 0, 0);
    EXPECT_EQ(ext->Result, 0u);
    unsigned char expected[3840];
    ASSERT_TRUE(machine().ReadConfig({1, 0, 0}, 0x100, expected, sizeof expected));
    EXPECT_EQ(std::memcmp(ext->ExtData, expected, sizeof expected), 0);
}

// Memory at 0x30000000 (a device's, not RAM, which the search never probes)
// holds the host bridge's two identifiers at 00:00.0's place: the search
// cannot tell it from the window and takes it. That base
// serves 00:00.0 only; the NIC's identifiers do not stand at its place there,
// so its extended requests are refused and no byte reaches the memory.
class StrayMatchTest : public DriverTest {
protected:
    void SetUp() override {
        machineText_ =
            "# quorvenal bytes 0x30000000 86 80 00 2a\n"
            "# quorvenal bytes 0x30100100 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n" +
            SmallMachineText();
        DriverTest::SetUp();
    }
};

TEST_F(StrayMatchTest, AWindowConfirmedForOneFunctionDoesNotServeAnother) {
    ASSERT_EQ(ReadHeader(0, 0, 0).Result, 256u);
    ASSERT_EQ(ReadHeader(1, 0, 0).Result, 256u);

    auto write = ExtRecord(1, 0, 0, 0x5A);
    uint64_t configWrites = machine().ConfigWriteCount();
    EXPECT_EQ(Send(IOCTL_WRITE_EXT_CONFIG, write.get(), sizeof *write).status, STATUS_SUCCESS);
    EXPECT_EQ(write->Result, 1u);
    EXPECT_EQ(machine().ConfigWriteCount(), configWrites);
    // Where the NIC's register 0x100 would lie below that base.
    std::vector<unsigned char> memory(16);
    ASSERT_TRUE(machine().PhysicalRead(0x30100100ull, memory.data(), memory.size()));
    EXPECT_TRUE(AllBytesAre(memory.data(), memory.size(), 0)) << "3840 bytes went into memory";

    auto read = ExtRecord(1, 0, 0, 0x3C);
    Send(IOCTL_READ_EXT_CONFIG, read.get(), sizeof *read);
    EXPECT_EQ(read->Result, 1u);
    EXPECT_TRUE(AllBytesAre(read->ExtData, sizeof read->ExtData, 0x3C)) << "ExtData as sent";
}

// A function whose vendor identifier reads 0x0000 (what zeroed memory
// holds) starts no search, though memory at a candidate holds its two
// identifiers at its place.
class ZeroVendorTest : public DriverTest {
protected:
    void SetUp() override {
        unsigned char odd[256] = {0x00, 0x00, 0x34, 0x12, 0x00, 0x00, 0x00, 0x00,
                                  0x00, 0x00, 0x80, 0xff, 0x00, 0x00, 0x00, 0x00};
        machineText_ = "# quorvenal bytes 0x30030000 00 00 34 12\n" + SmallMachineText() +
                       FunctionText("00:06.0", odd, 256);
        DriverTest::SetUp();
    }
};

TEST_F(ZeroVendorTest, AFunctionWhoseVendorReadsZeroStartsNoSearch) {
    standin::StartKernelTrace();
    ConfigRequest header = ReadHeader(0, 6, 0);
    standin::StopKernelTrace();
    EXPECT_EQ(header.Result, 256u) << "the HAL reads the function";
    EXPECT_TRUE(standin::TracedMappings().empty()) << "a search ran for vendor 0x0000";
}

using WindowServesTest = DriverTest;

TEST_F(WindowServesTest, AFunctionThatHasGoneOrAWindowThatMovedIsNotServed) {
    const standin::FunctionAddress nic{1, 0, 0};
    ASSERT_EQ(ReadHeader(1, 0, 0).Result, 256u);
    ASSERT_EQ(ReadExt(1, 0, 0)->Result, 0u);

    ASSERT_TRUE(machine().RemoveFunction(nic));
    auto gone = ExtRecord(1, 0, 0, 0x11);
    Send(IOCTL_WRITE_EXT_CONFIG, gone.get(), sizeof *gone);
    EXPECT_EQ(gone->Result, 1u) << "the function has gone";
    ASSERT_TRUE(machine().RestoreFunction(nic));
    EXPECT_EQ(ReadExt(1, 0, 0)->Result, 0u) << "back again, and served";

    machine().SetEcamBase(0xD0000000ull);
    auto moved = ExtRecord(1, 0, 0, 0x22);
    uint64_t configWrites = machine().ConfigWriteCount(nic);
    Send(IOCTL_WRITE_EXT_CONFIG, moved.get(), sizeof *moved);
    EXPECT_EQ(moved->Result, 1u) << "the window moved away from the known base";
    EXPECT_EQ(machine().ConfigWriteCount(nic), configWrites);
}

}  // namespace
}  // namespace qvtest
