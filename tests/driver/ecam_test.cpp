// The extended space through memory-mapped configuration, and the search for
// its base.
#include <dlfcn.h>

#include <vector>

#include "driver_fixture.h"

namespace qvtest {
namespace {

using EcamTest = DriverTest;

std::vector<uint64_t> MappedAddresses() {
    std::vector<uint64_t> addresses;
    for (const standin::MappingRecord& record : standin::TracedMappings()) {
        addresses.push_back(record.physical);
    }
    return addresses;
}

TEST_F(EcamTest, ExtendedReadBeforeTheBaseIsKnownComesBackAsSent) {
    auto request = std::make_unique<ExtConfigRequest>();
    std::memset(request.get(), 0x3C, sizeof *request);
    request->Bus = 1;
    request->Device = 0;
    request->Function = 0;
    standin::ResetKernelCounters();
    Reply reply = Send(IOCTL_READ_EXT_CONFIG, request.get(), sizeof *request);
    EXPECT_EQ(reply.status, STATUS_SUCCESS);
    EXPECT_EQ(reply.returned, 3856u);
    EXPECT_EQ(request->Result, 1u);
    for (unsigned char byte : request->ExtData) ASSERT_EQ(byte, 0x3C);
    EXPECT_EQ(standin::GetKernelCounters().mappingsMade, 0u);

    request->Result = 0;
    uint64_t writes = machine().ConfigWriteCount();
    reply = Send(IOCTL_WRITE_EXT_CONFIG, request.get(), sizeof *request);
    EXPECT_EQ(reply.status, STATUS_SUCCESS);
    EXPECT_EQ(request->Result, 1u);
    EXPECT_EQ(machine().ConfigWriteCount(), writes);
}

TEST_F(EcamTest, SearchProbesTheThirteenLowerCandidatesThenFindsTheWindow) {
    standin::StartKernelTrace();
    ConfigRequest header = ReadHeader(0, 0, 0);
    standin::StopKernelTrace();
    ASSERT_EQ(header.Result, 256u);
    std::vector<uint64_t> probes = MappedAddresses();
    // Thirteen lower candidates, each probed once at the vendor identifier;
    // then 0xE0000000 at the vendor and at the device identifier.
    ASSERT_EQ(probes.size(), 15u);
    for (unsigned i = 0; i < 13; ++i) EXPECT_EQ(probes[i], 0x10000000ull * (i + 1));
    EXPECT_EQ(probes[13], 0xE0000000ull);
    EXPECT_EQ(probes[14], 0xE0000002ull);
    EXPECT_EQ(standin::GetKernelCounters().liveMappings, 0);

    // The base stays: a later header read makes no probe at all.
    standin::StartKernelTrace();
    ReadHeader(0, 0x1c, 0);
    standin::StopKernelTrace();
    EXPECT_TRUE(standin::TracedMappings().empty());

    // An extended read of 01:00.0 confirms the function's identifiers at its
    // place (base plus 1 << 20), then reads from there plus 0x100.
    standin::StartKernelTrace();
    auto ext = ReadExt(1, 0, 0);
    standin::StopKernelTrace();
    EXPECT_EQ(ext->Result, 0u);
    std::vector<uint64_t> reads = MappedAddresses();
    ASSERT_EQ(reads.size(), 2u + 1920u);
    EXPECT_EQ(reads[0], 0xE0000000ull + (1u << 20));
    EXPECT_EQ(reads[1], 0xE0000000ull + (1u << 20) + 2);
    EXPECT_EQ(reads[2], 0xE0000000ull + (1u << 20) + 0x100);
    EXPECT_EQ(reads[3], 0xE0000000ull + (1u << 20) + 0x102);
    EXPECT_EQ(reads.back(), 0xE0000000ull + (1u << 20) + 0xFFE);

    // Bus 3 holds no function: the window does not serve it, nothing is read.
    standin::StartKernelTrace();
    ext = ReadExt(3, 0, 0);
    standin::StopKernelTrace();
    EXPECT_EQ(ext->Result, 1u);
    EXPECT_TRUE(MappedAddresses().empty());
}

TEST_F(EcamTest, ExtendedReadAfterTheBaseIsKnownReturnsTheSpace) {
    ReadHeader(1, 0, 0);
    Reply reply{};
    auto ext = ReadExt(1, 0, 0, &reply);
    EXPECT_EQ(reply.status, STATUS_SUCCESS);
    EXPECT_EQ(reply.returned, 3856u);
    EXPECT_EQ(ext->Result, 0u);
    unsigned char expected[3840];
    ASSERT_TRUE(machine().ReadConfig({1, 0, 0}, 0x100, expected, sizeof expected));
    EXPECT_EQ(std::memcmp(ext->ExtData, expected, sizeof expected), 0);
    EXPECT_EQ(standin::GetKernelCounters().liveMappings, 0);
}

TEST_F(EcamTest, ExtendedWriteReachesEveryRegisterAndSurvivesAReset) {
    const standin::FunctionAddress nic{1, 0, 0};
    ReadHeader(1, 0, 0);
    auto saved = ReadExt(1, 0, 0);
    ASSERT_EQ(saved->Result, 0u);
    ASSERT_TRUE(machine().HardwareWrite(nic, 0x200, 4, 0xDEADBEEF));  // runtime state
    auto changed = ReadExt(1, 0, 0);
    ASSERT_NE(std::memcmp(changed->ExtData, saved->ExtData, 3840), 0);

    changed->ExtData[0x400] = 0x42;  // register 0x500, plain read/write
    changed->Result = 0;
    Reply reply = Send(IOCTL_WRITE_EXT_CONFIG, changed.get(), sizeof *changed);
    EXPECT_EQ(reply.status, STATUS_SUCCESS);
    EXPECT_EQ(changed->Result, 0u);
    unsigned char byte = 0;
    ASSERT_TRUE(machine().ReadConfig(nic, 0x500, &byte, 1));
    EXPECT_EQ(byte, 0x42);

    // Write the saved space back: everything from 0x100 to 0xFFF reads as
    // saved, but for the error-reporting status registers (0x104, 0x110),
    // whose saved bits, written back with 1, clear.
    ASSERT_TRUE(machine().ResetFunction(nic));
    ASSERT_TRUE(machine().HardwareWrite(nic, 0x300, 4, 0x01020304));
    saved->Result = 0;
    Send(IOCTL_WRITE_EXT_CONFIG, saved.get(), sizeof *saved);
    EXPECT_EQ(saved->Result, 0u);
    auto back = ReadExt(1, 0, 0);
    for (unsigned status : {0x004u, 0x010u}) {
        for (unsigned i = 0; i < 4; ++i) {
            EXPECT_EQ(back->ExtData[status + i], 0) << "status byte 0x" << std::hex << 0x100 + status + i;
            back->ExtData[status + i] = saved->ExtData[status + i];
        }
    }
    EXPECT_EQ(std::memcmp(back->ExtData, saved->ExtData, 3840), 0);
}

// Every half of an extended write reaches the function, changed or not, as
// on hardware: writing back a saved space whose error-reporting status has
// bits set clears them (they clear when written with 1).
TEST_F(EcamTest, AnExtendedWriteOfUnchangedValuesReachesTheFunction) {
    const standin::FunctionAddress nic{1, 0, 0};
    const unsigned kUncorrectableStatus = 0x104;  // the NIC's error-reporting capability is at 0x100
    ReadHeader(1, 0, 0);
    ASSERT_TRUE(machine().HardwareWrite(nic, kUncorrectableStatus, 4, 0x00001010));
    auto saved = ReadExt(1, 0, 0);
    ASSERT_EQ(saved->Result, 0u);
    EXPECT_EQ(saved->ExtData[4], 0x10);
    EXPECT_EQ(saved->ExtData[5], 0x10);

    uint64_t writes = machine().ConfigWriteCount(nic);
    saved->Result = 0;
    Send(IOCTL_WRITE_EXT_CONFIG, saved.get(), sizeof *saved);
    EXPECT_EQ(saved->Result, 0u);
    EXPECT_EQ(machine().ConfigWriteCount(nic), writes + 1920) << "each 16-bit half is one write";
    uint32_t status = 0xFFFFFFFF;
    ASSERT_TRUE(machine().ReadConfig(nic, kUncorrectableStatus, &status, 4));
    EXPECT_EQ(status, 0u) << "the status bits written back with 1 cleared";
}

TEST_F(EcamTest, ExtendedAccessesUseLowAddressBitsAndGoLowHalfFirst) {
    ReadHeader(1, 0, 0);
    // No error status bits set: writing the space back leaves it as read.
    ASSERT_TRUE(machine().HardwareWrite({1, 0, 0}, 0x104, 4, 0));
    ASSERT_TRUE(machine().HardwareWrite({1, 0, 0}, 0x110, 4, 0));
    // Bus 0x101, device 0x20 and function 8 are bus 1, device 0, function 0
    // on the memory-mapped path as on the others: only their low 8, 5 and 3
    // bits count. Each doubleword is two 16-bit accesses, the low half first.
    for (int write = 0; write < 2; ++write) {
        auto request = ReadExt(1, 0, 0);
        request->Bus = 0x101;
        request->Device = 0x20;
        request->Function = 8;
        request->Result = 7;
        standin::StartKernelTrace();
        Reply reply =
            Send(write ? IOCTL_WRITE_EXT_CONFIG : IOCTL_READ_EXT_CONFIG, request.get(), sizeof *request);
        standin::StopKernelTrace();
        EXPECT_EQ(reply.status, STATUS_SUCCESS);
        EXPECT_EQ(request->Result, 0u);
        unsigned char expected[3840];
        ASSERT_TRUE(machine().ReadConfig({1, 0, 0}, 0x100, expected, sizeof expected));
        EXPECT_EQ(std::memcmp(request->ExtData, expected, sizeof expected), 0);
        // The function's identifiers at its place in the window are read
        // first, to confirm the window serves it; then the 1920 halves.
        std::vector<uint64_t> mapped = MappedAddresses();
        ASSERT_EQ(mapped.size(), 2u + 1920u) << (write ? "write" : "read");
        EXPECT_EQ(mapped[0], 0xE0100000ull);
        EXPECT_EQ(mapped[1], 0xE0100002ull);
        for (unsigned i = 2; i < mapped.size(); ++i) {
            ASSERT_EQ(mapped[i], 0xE0100100ull + 2 * (i - 2)) << (write ? "write " : "read ") << i;
        }
    }
}

TEST_F(EcamTest, TheSearchProbesAtTheReadFunctionsOwnPlace) {
    // Device 0x1d, function 1: its registers sit at 0xE9000 in each window.
    standin::StartKernelTrace();
    ASSERT_EQ(ReadHeader(0, 0x1d, 1).Result, 256u);
    standin::StopKernelTrace();
    std::vector<uint64_t> probes = MappedAddresses();
    ASSERT_EQ(probes.size(), 15u);
    for (unsigned i = 0; i < 13; ++i) EXPECT_EQ(probes[i], 0x10000000ull * (i + 1) + 0xE9000);
    EXPECT_EQ(probes[13], 0xE00E9000ull);
    EXPECT_EQ(probes[14], 0xE00E9002ull);
    auto ext = ReadExt(0, 0x1d, 1);
    EXPECT_EQ(ext->Result, 0u);
    unsigned char expected[3840];
    ASSERT_TRUE(machine().ReadConfig({0, 0x1d, 1}, 0x100, expected, sizeof expected));
    EXPECT_EQ(std::memcmp(ext->ExtData, expected, sizeof expected), 0);
}

// One client's extended write is held at its first mapping while a second
// client sends an extended write to the same function: the second must wait,
// or the two 3840-byte spaces would mix.
TEST_F(EcamTest, ASecondClientWaitsForAnExtendedWriteUnderway) {
    ReadHeader(1, 0, 0);
    auto mine = ReadExt(1, 0, 0);
    auto theirs = ReadExt(1, 0, 0);
    std::memset(theirs->ExtData + 0x400, 0x77, 16);
    standin::OpenFile* second = nullptr;
    ASSERT_EQ(standin::OpenDevice(L"\\??\\QUORVENAL", &second), STATUS_SUCCESS);
    Reply reply{};
    std::vector<bool> byFirst = AccessesWithASecondClientSent(
        [&] { reply = Send(IOCTL_WRITE_EXT_CONFIG, mine.get(), sizeof *mine); },
        [&] {
            ULONG returned = 0;
            standin::DeviceControl(second, IOCTL_WRITE_EXT_CONFIG, theirs.get(), sizeof *theirs, theirs.get(),
                                   sizeof *theirs, &returned);
        });
    standin::CloseDevice(second);
    EXPECT_EQ(reply.status, STATUS_SUCCESS);
    EXPECT_EQ(byFirst.size(), 2u * (2u + 1920u));  // identifiers, then the halves
    EXPECT_TRUE(FirstClientUninterrupted(byFirst));
}

TEST_F(EcamTest, UnloadForgetsTheBase) {
    // Keep the image in memory across the unload, so that only the unload
    // routine can have reset the driver's global.
    void* pin = dlopen(DriverPath().c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(pin, nullptr);
    volatile ULONG* base = static_cast<volatile ULONG*>(dlsym(pin, "EcamBase"));
    ASSERT_NE(base, nullptr);
    EXPECT_EQ(*base, 0xFFFFFFFFu);

    ReadHeader(0, 0, 0);
    EXPECT_EQ(*base, 0xE0000000u);
    EXPECT_EQ(ReadExt(1, 0, 0)->Result, 0u);
    CloseAndUnload();
    EXPECT_EQ(*base, 0xFFFFFFFFu);
    LoadAndOpen();
    EXPECT_EQ(ReadExt(1, 0, 0)->Result, 1u) << "a fresh load knows no base";
    ReadHeader(0, 0, 0);
    EXPECT_EQ(ReadExt(1, 0, 0)->Result, 0u);

    // Unloading before any base was found leaves it unknown.
    CloseAndUnload();
    LoadAndOpen();
    ReadHeader(0, 5, 0);  // nobody there: no search
    CloseAndUnload();
    EXPECT_EQ(*base, 0xFFFFFFFFu);
    LoadAndOpen();
    dlclose(pin);
}

TEST_F(EcamTest, HeaderWriteAlsoFindsTheBase) {
    ConfigRequest header = ReadHeader(1, 0, 0);
    CloseAndUnload();
    LoadAndOpen();
    WriteHeader(1, 0, 0, header.Data);
    EXPECT_EQ(ReadExt(1, 0, 0)->Result, 0u);
}

// A window whose base is no candidate: not a multiple of 0x10000000.
class UnalignedWindowTest : public DriverTest {
protected:
    void SetUp() override {
        machineText_ = "# quorvenal ecam-base 0xe8000000\n" + SmallMachineText();
        DriverTest::SetUp();
    }
};

TEST_F(UnalignedWindowTest, TheBaseIsNeverFound) {
    // The search probes the fifteen candidates 0x10000000..0xF0000000, each
    // once at the vendor identifier of the function read, and nothing else.
    standin::StartKernelTrace();
    ASSERT_EQ(ReadHeader(1, 0, 0).Result, 256u);
    standin::StopKernelTrace();
    std::vector<uint64_t> probes = MappedAddresses();
    ASSERT_EQ(probes.size(), 15u);
    for (unsigned i = 0; i < 15; ++i) EXPECT_EQ(probes[i], 0x10000000ull * (i + 1) + 0x100000);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(ReadHeader(0, 0, 0).Result, 256u);
        ASSERT_EQ(ReadHeader(1, 0, 0).Result, 256u);
        EXPECT_EQ(ReadExt(1, 0, 0)->Result, 1u);
    }
}

class HighWindowTest : public DriverTest {
protected:
    void SetUp() override {
        machineText_ = "# quorvenal ecam-base 0x100000000\n" + SmallMachineText();
        DriverTest::SetUp();
    }
};

TEST_F(HighWindowTest, AWindowAboveFourGigabytesIsNeverFound) {
    ReadHeader(0, 0, 0);
    EXPECT_EQ(ReadExt(1, 0, 0)->Result, 1u);
}

// Memory below the window that is not RAM (a device's memory, which the
// search does probe), holding the host bridge's vendor identifier at the
// place the search probes in the second candidate.
class StrayVendorTest : public DriverTest {
protected:
    void SetUp() override {
        machineText_ =
            "# quorvenal bytes 0x20000000 86 80 00 00\n"
            "# quorvenal bytes 0x20100100 00 00 00 00 00 00 00 00\n" +
            SmallMachineText();
        DriverTest::SetUp();
    }
};

TEST_F(StrayVendorTest, MemoryHoldingOnlyTheVendorIsPassedOver) {
    standin::StartKernelTrace();
    ReadHeader(0, 0, 0);
    standin::StopKernelTrace();
    std::vector<uint64_t> probes = MappedAddresses();
    ASSERT_GE(probes.size(), 3u);
    EXPECT_EQ(probes[1], 0x20000000ull);
    EXPECT_EQ(probes[2], 0x20000002ull) << "the device identifier is checked there";
    EXPECT_EQ(probes.back(), 0xE0000002ull);

    // Extended writes land in the window, not in the memory at 0x20000000.
    auto ext = ReadExt(1, 0, 0);
    ASSERT_EQ(ext->Result, 0u);
    ext->Result = 0;
    Send(IOCTL_WRITE_EXT_CONFIG, ext.get(), sizeof *ext);
    unsigned char memory[8] = {};
    ASSERT_TRUE(machine().PhysicalRead(0x20000000ull + (1u << 20) + 0x100, memory, 8));
    for (unsigned char byte : memory) EXPECT_EQ(byte, 0);
}

// Where device memory (not RAM) holds both identifiers the candidate is
// taken: the search cannot tell such memory from the window.
class StrayIdentityTest : public DriverTest {
protected:
    void SetUp() override {
        machineText_ = "# quorvenal bytes 0x30000000 86 80 00 2a\n" + SmallMachineText();
        DriverTest::SetUp();
    }
};

TEST_F(StrayIdentityTest, MemoryHoldingBothIdentifiersIsTaken) {
    ReadHeader(0, 0, 0);
    standin::StartKernelTrace();
    ReadExt(0, 0, 0);
    standin::StopKernelTrace();
    std::vector<uint64_t> reads = MappedAddresses();
    ASSERT_GE(reads.size(), 3u);
    EXPECT_EQ(reads[0], 0x30000000ull) << "the identifiers confirmed at the function's place";
    EXPECT_EQ(reads[2], 0x30000100ull);
}

// Zeroed device memory below the window (not RAM, so the search probes it)
// reads vendor and device 0x0000. A header write of all zeros (any client may
// send one) must not make the search take that memory for the window: the
// extended requests that follow would write 3840 bytes into it.
class ZeroedMemoryTest : public DriverTest {
protected:
    void SetUp() override {
        machineText_ =
            "# quorvenal bytes 0x10028000 00 00 00 00\n"
            "# quorvenal bytes 0x10028100 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n" +
            SmallMachineText();
        DriverTest::SetUp();
    }
};

TEST_F(ZeroedMemoryTest, AnAllZeroHeaderWriteFindsNoBase) {
    unsigned char zeros[256] = {};
    WriteHeader(0, 5, 0, zeros);

    auto ext = std::make_unique<ExtConfigRequest>();
    std::memset(ext.get(), 0xAB, sizeof *ext);
    ext->Bus = 0;
    ext->Device = 5;
    ext->Function = 0;
    ext->Result = 0;
    Reply reply = Send(IOCTL_WRITE_EXT_CONFIG, ext.get(), sizeof *ext);
    EXPECT_EQ(reply.status, STATUS_SUCCESS);
    EXPECT_EQ(ext->Result, 1u) << "no base may be known after an all-zero header";

    unsigned char memory[16] = {};
    ASSERT_TRUE(machine().PhysicalRead(0x10000000ull + (5u << 15) + 0x100, memory, sizeof memory));
    for (unsigned char byte : memory) EXPECT_EQ(byte, 0);
}

}  // namespace
}  // namespace qvtest
