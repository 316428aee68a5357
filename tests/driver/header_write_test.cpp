// Header writes through the 0xCF8/0xCFC port pair: order, address register
// saved and restored, the function's register semantics, and clients that
// write at the same time.
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "driver_fixture.h"

namespace qvtest {
namespace {

using HeaderWriteTest = DriverTest;

uint32_t Le32(const unsigned char* bytes) {
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

TEST_F(HeaderWriteTest, SixtyFourDoublewordsAscendingWithTheAddressSavedAndRestored) {
    const uint32_t previous = 0x80123450;  // someone else's address, left in the register
    __outdword(0xCF8, previous);
    unsigned char data[256];
    for (unsigned i = 0; i < 256; ++i) data[i] = static_cast<unsigned char>(i ^ 0xA5);

    standin::StartKernelTrace();
    WriteHeader(0x101, 0x1d + 32, 1 + 8, data);  // bus, device and function reduced for the ports
    standin::StopKernelTrace();
    std::vector<standin::PortAccess> log = standin::TracedPortAccesses();

    ASSERT_EQ(log.size(), 64u * 4);
    for (unsigned i = 0; i < 64; ++i) {
        const standin::PortAccess* step = &log[i * 4];
        uint32_t address = 0x80000000u | 0x01u << 16 | 0x1du << 11 | 1u << 8 | i * 4;
        EXPECT_FALSE(step[0].write);
        EXPECT_EQ(step[0].port, 0xCF8);
        EXPECT_EQ(step[0].value, previous);
        EXPECT_TRUE(step[1].write);
        EXPECT_EQ(step[1].port, 0xCF8);
        EXPECT_EQ(step[1].value, address) << "doubleword " << i;
        EXPECT_TRUE(step[2].write);
        EXPECT_EQ(step[2].port, 0xCFC);
        EXPECT_EQ(step[2].value, Le32(data + i * 4));
        EXPECT_TRUE(step[3].write);
        EXPECT_EQ(step[3].port, 0xCF8);
        EXPECT_EQ(step[3].value, previous);
    }
    EXPECT_EQ(machine().ConfigAddressRegister(), previous);
}

TEST_F(HeaderWriteTest, WritesTakeTheFunctionsRegisterSemantics) {
    const standin::FunctionAddress nic{1, 0, 0};
    ASSERT_TRUE(machine().HardwareWrite(nic, 0x06, 2, 0x4010));  // a master abort was seen
    ConfigRequest before = ReadHeader(1, 0, 0);
    unsigned char data[256];
    std::memcpy(data, before.Data, sizeof data);
    data[0] = 0x00;     // vendor: read-only
    data[0x04] = 0x00;  // command: memory and I/O off
    data[0x10] = 0xFF;
    data[0x11] = 0xFF;
    data[0x12] = 0xFF;
    data[0x13] = 0xFF;  // BAR sizing
    data[0x3C] = 0x05;  // interrupt line
    WriteHeader(1, 0, 0, data);

    unsigned char after[256];
    ASSERT_TRUE(machine().ReadConfig(nic, 0, after, sizeof after));
    EXPECT_EQ(after[0], 0xAB) << "identification is read-only";
    EXPECT_EQ(after[0x04], 0x00);
    EXPECT_EQ(after[0x07] & 0x40, 0) << "the status bit cleared on the 1 written back";
    EXPECT_EQ(after[0x06], 0x10) << "the capability-list bit is read-only";
    EXPECT_EQ(Le32(after + 0x10) & 0xF, 0x4u) << "type bits of a 64-bit memory BAR stay";
    EXPECT_EQ(after[0x3C], 0x05);
    // The whole header travelled: the base search saw the unchanged identifiers.
    unsigned char power[256];
    ASSERT_TRUE(machine().ReadPowerOnConfig(nic, 0, power, sizeof power));
    EXPECT_EQ(std::memcmp(after, power, 4), 0);
}

// The search after a header write looks for the identifiers the function
// holds once written, not for those the record carries: all ones to a
// present function (identification is read-only) still finds the window,
// and the same header to an absent address finds nothing.
TEST_F(HeaderWriteTest, AllOnesHeaderIsWrittenInFullAndTheSearchUsesTheHardwaresIdentifiers) {
    unsigned char data[256];
    std::memset(data, 0xFF, sizeof data);
    WriteHeader(0, 5, 0, data);
    EXPECT_EQ(ReadExt(1, 0, 0)->Result, 1u) << "nobody at 00:05.0: no search";

    uint64_t before = machine().ConfigWriteCount({0, 0x1d, 0});
    WriteHeader(0, 0x1d, 0, data);
    EXPECT_EQ(machine().ConfigWriteCount({0, 0x1d, 0}) - before, 64u);
    EXPECT_EQ(ReadExt(1, 0, 0)->Result, 0u) << "the USB function's own identifiers found the window";
}

TEST_F(HeaderWriteTest, SaveResetRestoreBringsTheHeaderBack) {
    const standin::FunctionAddress usb{0, 0x1d, 0};
    // The running configuration differs from power-on.
    ASSERT_TRUE(machine().HardwareWrite(usb, 0x20, 4, 0x00002001));
    ASSERT_TRUE(machine().HardwareWrite(usb, 0x3C, 1, 0x0B));
    ConfigRequest saved = ReadHeader(0, 0x1d, 0);
    ASSERT_TRUE(machine().ResetFunction(usb));
    EXPECT_NE(std::memcmp(ReadHeader(0, 0x1d, 0).Data, saved.Data, 256), 0);
    WriteHeader(0, 0x1d, 0, saved.Data);
    EXPECT_EQ(std::memcmp(ReadHeader(0, 0x1d, 0).Data, saved.Data, 256), 0);
}

// One client's header write is held at its first port access while a second
// client sends one: the second must wait for the first to finish.
TEST_F(HeaderWriteTest, ASecondClientWaitsForAHeaderWriteUnderway) {
    standin::OpenFile* second = nullptr;
    ASSERT_EQ(standin::OpenDevice(L"\\??\\QUORVENAL", &second), STATUS_SUCCESS);
    ConfigRequest saved = ReadHeader(0, 0x1d, 0);
    Reply reply{};
    std::vector<bool> byFirst = AccessesWithASecondClientSent(
        [&] { WriteHeader(0, 0x1d, 0, saved.Data, &reply); },
        [&] {
            ConfigRequest request;
            std::memset(&request, 0, sizeof request);
            request.Device = 0x1d;
            request.Function = 1;
            ULONG returned = 0;
            standin::DeviceControl(second, IOCTL_WRITE_CONFIG, &request, sizeof request, &request,
                                   sizeof request, &returned);
        });
    standin::CloseDevice(second);
    EXPECT_EQ(reply.status, STATUS_SUCCESS);
    EXPECT_TRUE(FirstClientUninterrupted(byFirst));
}

// Several clients write whole headers to the same two functions at once.
// With the port pair serialised, every doubleword that reaches a function is
// one of that function's own header writes, and each header lands whole.
TEST_F(HeaderWriteTest, ConcurrentClientsNeverTearOrMisdirectAHeaderWrite) {
    const standin::FunctionAddress targets[2] = {{0, 0x1d, 0}, {0, 0x1d, 1}};
    std::atomic<int> misdirected{0};
    machine().SetWriteObserver([&](const standin::ConfigWrite& write) {
        if (write.path != standin::WritePath::Ports || write.offset < 0x40) return;
        // Device-specific bytes carry the writer's tag: function number in the top byte.
        if ((write.value >> 24) != write.address.function) ++misdirected;
    });

    const int kClients = 4;
    const int kRounds = 200;
    std::vector<std::thread> clients;
    std::atomic<int> failures{0};
    for (int client = 0; client < kClients; ++client) {
        clients.emplace_back([&, client] {
            standin::OpenFile* file = nullptr;
            if (standin::OpenDevice(L"\\??\\QUORVENAL", &file) != STATUS_SUCCESS) {
                ++failures;
                return;
            }
            const standin::FunctionAddress target = targets[client % 2];
            for (int round = 0; round < kRounds; ++round) {
                ConfigRequest request;
                std::memset(&request, 0, sizeof request);
                request.Bus = target.bus;
                request.Device = target.device;
                request.Function = target.function;
                unsigned char original[0x40];
                machine().ReadPowerOnConfig(target, 0, original, sizeof original);
                std::memcpy(request.Data, original, sizeof original);
                for (unsigned offset = 0x40; offset < 0x100; offset += 4) {
                    request.Data[offset] = static_cast<unsigned char>(client);
                    request.Data[offset + 1] = static_cast<unsigned char>(round);
                    request.Data[offset + 2] = 0x5A;
                    request.Data[offset + 3] = static_cast<unsigned char>(target.function);
                }
                ULONG returned = 0;
                NTSTATUS status = standin::DeviceControl(file, IOCTL_WRITE_CONFIG, &request, sizeof request,
                                                         &request, sizeof request, &returned);
                if (status != STATUS_SUCCESS || returned != sizeof request) ++failures;
            }
            standin::CloseDevice(file);
        });
    }
    for (std::thread& client : clients) client.join();
    machine().SetWriteObserver(nullptr);

    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(misdirected.load(), 0);
    for (const standin::FunctionAddress& target : targets) {
        unsigned char tail[0xC0];
        ASSERT_TRUE(machine().ReadConfig(target, 0x40, tail, sizeof tail));
        // Whole: every doubleword of the last header carries the same writer and round.
        for (unsigned offset = 4; offset < sizeof tail; offset += 4) {
            EXPECT_EQ(tail[offset], tail[0]) << "torn at " << offset + 0x40;
            EXPECT_EQ(tail[offset + 1], tail[1]) << "torn at " << offset + 0x40;
        }
    }
}

}  // namespace
}  // namespace qvtest
