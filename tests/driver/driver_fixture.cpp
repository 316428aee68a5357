#include "driver_fixture.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

namespace qvtest {

std::string DriverPath() { return QV_BUILD_ROOT "/QUORVENAL.sys"; }

std::unique_ptr<standin::Machine> MachineFromText(const std::string& text) {
    std::string error;
    std::unique_ptr<standin::Machine> machine = standin::LoadMachineText(text, "test.lspci", &error);
    EXPECT_NE(machine, nullptr) << error;
    return machine;
}

namespace {

std::string DataLines(const unsigned char* bytes, unsigned length) {
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned row = 0; row < length; row += 16) {
        char offset[16];
        std::snprintf(offset, sizeof offset, "%02x:", row);
        text += offset;
        for (unsigned i = 0; i < 16; ++i) {
            text += ' ';
            text += kHex[bytes[row + i] >> 4];
            text += kHex[bytes[row + i] & 15];
        }
        text += '\n';
    }
    return text;
}

}  // namespace

std::string FunctionText(const std::string& address, const unsigned char* bytes, unsigned length) {
    return address + " Function: test\n" + DataLines(bytes, length) + "\n";
}

std::string SmallMachineText() {
    unsigned char host[256] = {0x86, 0x80, 0x00, 0x2a, 0x06, 0x00, 0x90, 0x20,
                               0x03, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00, 0x00};
    unsigned char port[256] = {0x86, 0x80, 0x3f, 0x28, 0x07, 0x04, 0x10, 0x00,
                               0x03, 0x00, 0x04, 0x06, 0x10, 0x00, 0x81, 0x00};
    port[0x18] = 0x00;  // primary bus
    port[0x19] = 0x01;  // secondary bus
    port[0x1a] = 0x01;  // subordinate bus
    unsigned char usb0[256] = {0x86, 0x80, 0x34, 0x28, 0x05, 0x00, 0x80, 0x02,
                               0x03, 0x00, 0x03, 0x0c, 0x00, 0x00, 0x80, 0x00};
    unsigned char usb1[256] = {0x86, 0x80, 0x35, 0x28, 0x05, 0x00, 0x80, 0x02,
                               0x03, 0x00, 0x03, 0x0c, 0x00, 0x00, 0x00, 0x00};
    usb0[0x20] = 0x81;  // I/O BAR 4 at 0x1880
    usb0[0x21] = 0x18;
    unsigned char nic[4096] = {0xab, 0x11, 0x63, 0x43, 0x07, 0x04, 0x10, 0x00,
                               0x14, 0x00, 0x00, 0x02, 0x10, 0x00, 0x00, 0x00};
    nic[0x10] = 0x04;  // 64-bit memory BAR 0 at 0xfe000000
    nic[0x13] = 0xfe;
    for (unsigned offset = 0x100; offset < 0x1000; ++offset) {
        nic[offset] = static_cast<unsigned char>(offset * 7 + (offset >> 8));
    }
    // Extended capability at 0x100 (AER, version 1, no next).
    nic[0x100] = 0x01;
    nic[0x101] = 0x00;
    nic[0x102] = 0x01;
    nic[0x103] = 0x00;

    std::string text;
    text += "00:00.0 Host bridge: test\n" + DataLines(host, 256) + "\n";
    text += "00:1c.0 PCI bridge: test\n" + DataLines(port, 256) + "\n";
    text += "00:1d.0 USB controller: test\n" + DataLines(usb0, 256) + "\n";
    text += "00:1d.1 USB controller: test\n" + DataLines(usb1, 256) + "\n";
    text += "01:00.0 Ethernet controller: test\n" + DataLines(nic, 4096) + "\n";
    return text;
}

std::vector<bool> AccessesWithASecondClientSent(const std::function<void()>& first,
                                                const std::function<void()>& second) {
    const std::thread::id firstThread = std::this_thread::get_id();
    std::mutex logLock;
    std::vector<bool> byFirst;
    std::atomic<int> secondAccesses{0};
    std::atomic<bool> secondDone{false};
    std::thread other;
    standin::SetAccessHook([&](standin::HookedAccess, uint64_t, uint32_t) {
        bool mine = std::this_thread::get_id() == firstThread;
        {
            std::lock_guard<std::mutex> guard(logLock);
            byFirst.push_back(mine);
        }
        if (!mine) {
            ++secondAccesses;
            return;
        }
        if (other.joinable()) return;  // held once, at the first access
        other = std::thread([&] {
            second();
            secondDone = true;
        });
        auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (standin::MutexWaiters() == 0 && secondAccesses == 0 && !secondDone &&
               std::chrono::steady_clock::now() < giveUp) {
            std::this_thread::yield();
        }
    });
    first();
    if (other.joinable()) other.join();
    standin::SetAccessHook(nullptr);
    EXPECT_TRUE(secondDone) << "the second client was never sent";
    return byFirst;
}

bool FirstClientUninterrupted(const std::vector<bool>& byFirst) {
    size_t firstBegin = byFirst.size();
    size_t firstEnd = 0;
    for (size_t i = 0; i < byFirst.size(); ++i) {
        if (!byFirst[i]) continue;
        if (firstBegin == byFirst.size()) firstBegin = i;
        firstEnd = i;
    }
    for (size_t i = firstBegin; i < firstEnd; ++i) {
        if (!byFirst[i]) return false;
    }
    return firstBegin < byFirst.size();
}

void DriverTest::SetUp() {
    standin::SetCurrentMachine(MachineFromText(machineText_.empty() ? SmallMachineText() : machineText_));
    standin::ResetKernelCounters();
    LoadAndOpen();
}

// What must hold after anything the driver did, whatever a test sent it: no
// routine called above its IRQL, no page of RAM mapped, every pool block it
// was given freed, the processor back at PASSIVE_LEVEL.
void DriverTest::TearDown() {
    CloseAndUnload();
    standin::KernelCounters counters = standin::GetKernelCounters();
    EXPECT_EQ(counters.irqlFaults, 0u);
    EXPECT_EQ(counters.ramMappings, 0u);
    EXPECT_EQ(counters.livePool, 0);
    EXPECT_EQ(counters.badPoolFrees, 0u);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
}

void DriverTest::LoadAndOpen() {
    ASSERT_EQ(standin::LoadDriver(DriverPath(), "QUORVENAL", &driver_), STATUS_SUCCESS);
    ASSERT_EQ(standin::OpenDevice(L"\\??\\QuorVenal", &file_), STATUS_SUCCESS);
}

void DriverTest::CloseAndUnload() {
    if (file_ != nullptr) standin::CloseDevice(file_);
    file_ = nullptr;
    if (driver_ != nullptr) standin::UnloadDriver(driver_);
    driver_ = nullptr;
}

Reply DriverTest::Send(ULONG code, void* record, ULONG inLength, ULONG outLength) {
    Reply reply{};
    reply.status = standin::DeviceControl(file_, code, record, inLength, record, outLength, &reply.returned);
    return reply;
}

ConfigRequest DriverTest::ReadHeader(unsigned bus, unsigned device, unsigned function, Reply* reply) {
    ConfigRequest request;
    std::memset(&request, 0, sizeof request);
    request.Bus = bus;
    request.Device = device;
    request.Function = function;
    Reply got = Send(IOCTL_READ_CONFIG, &request, sizeof request);
    if (reply) *reply = got;
    return request;
}

ConfigRequest DriverTest::WriteHeader(unsigned bus, unsigned device, unsigned function,
                                      const unsigned char* data, Reply* reply) {
    ConfigRequest request;
    std::memset(&request, 0, sizeof request);
    request.Bus = bus;
    request.Device = device;
    request.Function = function;
    std::memcpy(request.Data, data, sizeof request.Data);
    Reply got = Send(IOCTL_WRITE_CONFIG, &request, sizeof request);
    if (reply) *reply = got;
    return request;
}

std::vector<uint64_t> MappedAddresses() {
    std::vector<uint64_t> addresses;
    for (const standin::MappingRecord& record : standin::TracedMappings()) {
        addresses.push_back(record.physical);
    }
    return addresses;
}

std::unique_ptr<ExtConfigRequest> ExtRecord(unsigned bus, unsigned device, unsigned function,
                                            unsigned char fill) {
    auto request = std::make_unique<ExtConfigRequest>();
    std::memset(request.get(), fill, sizeof *request);
    request->Bus = bus;
    request->Device = device;
    request->Function = function;
    request->Result = 0;
    return request;
}

std::unique_ptr<ExtConfigRequest> DriverTest::ReadExt(unsigned bus, unsigned device, unsigned function,
                                                      Reply* reply) {
    auto request = std::make_unique<ExtConfigRequest>();
    std::memset(request.get(), 0, sizeof *request);
    request->Bus = bus;
    request->Device = device;
    request->Function = function;
    Reply got = Send(IOCTL_READ_EXT_CONFIG, request.get(), sizeof *request);
    if (reply) *reply = got;
    return request;
}

}  // namespace qvtest
