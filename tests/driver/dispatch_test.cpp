// Request validation and routing of the driver, through the I/O manager's
// real METHOD_BUFFERED path with the caller's own buffers.
#include <vector>

#include "driver_fixture.h"
#include "kernel/object_namespace.h"

namespace qvtest {
namespace {

using DispatchTest = DriverTest;

const ULONG kAllCodes[] = {IOCTL_READ_CONFIG,        IOCTL_WRITE_CONFIG,    IOCTL_READ_CONFIG_RANGE,
                           IOCTL_READ_CONFIG_RANGE2, IOCTL_READ_EXT_CONFIG, IOCTL_WRITE_EXT_CONFIG};

TEST_F(DispatchTest, ReadsAPresentHeaderWhole) {
    Reply reply{};
    ConfigRequest request = ReadHeader(1, 0, 0, &reply);
    EXPECT_EQ(reply.status, STATUS_SUCCESS);
    EXPECT_EQ(reply.returned, 272u);
    EXPECT_EQ(request.Result, 256u);
    unsigned char expected[256];
    ASSERT_TRUE(machine().ReadConfig({1, 0, 0}, 0, expected, 256));
    EXPECT_EQ(std::memcmp(request.Data, expected, 256), 0);
}

TEST_F(DispatchTest, LengthChecksRefuseBeforeLookingAtTheCode) {
    std::vector<unsigned char> buffer(4096, 0x5A);
    struct Case {
        ULONG in;
        ULONG out;
    } cases[] = {{0, 272},   {0, 0},     {272, 0},   {272, 3856}, {3856, 272},
                 {100, 100}, {271, 271}, {273, 273}, {4096, 4096}};
    for (const Case& c : cases) {
        for (ULONG code : kAllCodes) {
            std::vector<unsigned char> sent = buffer;
            Reply reply = Send(code, sent.data(), c.in, c.out);
            EXPECT_EQ(reply.status, STATUS_INVALID_PARAMETER) << c.in << "/" << c.out;
            EXPECT_EQ(reply.returned, 0u);
            EXPECT_EQ(sent, buffer) << "a refused request must not come back";
            EXPECT_EQ(standin::GetKernelCounters().lastInformation, 0u);
        }
        // Even an unknown code fails the length test first.
        std::vector<unsigned char> sent = buffer;
        EXPECT_EQ(Send(0x222418, sent.data(), c.in, c.out).status, STATUS_INVALID_PARAMETER);
    }
    EXPECT_EQ(standin::NtStatusToWin32Error(STATUS_INVALID_PARAMETER), 87u);
}

TEST_F(DispatchTest, UnknownCodesAreInvalidDeviceRequests) {
    const ULONG unknown[] = {0x222418, 0x2223FC, 0x220000, 0x00222400 | 0x4000, 0};
    for (ULONG code : unknown) {
        ConfigRequest request;
        std::memset(&request, 0x33, sizeof request);
        ConfigRequest before = request;
        Reply reply = Send(code, &request, sizeof request);
        EXPECT_EQ(reply.status, STATUS_INVALID_DEVICE_REQUEST) << std::hex << code;
        EXPECT_EQ(std::memcmp(&request, &before, sizeof request), 0);
    }
    EXPECT_EQ(standin::NtStatusToWin32Error(STATUS_INVALID_DEVICE_REQUEST), 1u);
}

TEST_F(DispatchTest, AbsentFunctionAndAbsentBusShowOnlyInResult) {
    standin::ResetKernelCounters();
    Reply reply{};
    ConfigRequest absent = ReadHeader(0, 5, 0, &reply);
    EXPECT_EQ(reply.status, STATUS_SUCCESS);
    EXPECT_EQ(reply.returned, 272u);
    EXPECT_EQ(absent.Result, 2u);
    EXPECT_EQ(absent.Data[0], 0xFF);
    EXPECT_EQ(absent.Data[1], 0xFF);

    ConfigRequest noBus = ReadHeader(0x42, 0, 0, &reply);
    EXPECT_EQ(reply.status, STATUS_SUCCESS);
    EXPECT_EQ(noBus.Result, 0u);
    // Bus 256 goes whole to the HAL: no such bus, though bus 0 exists.
    EXPECT_EQ(ReadHeader(256, 0, 0).Result, 0u);
    // No base search for a function that is not there.
    EXPECT_EQ(standin::GetKernelCounters().mappingsMade, 0u);
    EXPECT_EQ(standin::GetKernelCounters().mappingsRefused, 0u);
}

TEST_F(DispatchTest, DeviceAndFunctionUseOnlyTheirLowBits) {
    ConfigRequest plain = ReadHeader(0, 0x1d, 1);
    ConfigRequest masked = ReadHeader(0, 0x1d + 32, 1 + 8);
    EXPECT_EQ(plain.Result, 256u);
    EXPECT_EQ(masked.Result, 256u);
    EXPECT_EQ(std::memcmp(plain.Data, masked.Data, 256), 0);
    EXPECT_EQ(masked.Device, 0x1du + 32) << "the record comes back as sent";
}

TEST_F(DispatchTest, StandardCodeOnTheLargeRecordUsesItsFirst272Bytes) {
    std::vector<unsigned char> record(3856);
    for (size_t i = 0; i < record.size(); ++i) record[i] = static_cast<unsigned char>(i * 13);
    ConfigRequest* header = reinterpret_cast<ConfigRequest*>(record.data());
    header->Bus = 0;
    header->Device = 0;
    header->Function = 0;
    std::vector<unsigned char> sent = record;
    Reply reply = Send(IOCTL_READ_CONFIG, record.data(), 3856);
    EXPECT_EQ(reply.status, STATUS_SUCCESS);
    EXPECT_EQ(reply.returned, 3856u);
    EXPECT_EQ(header->Result, 256u);
    EXPECT_EQ(header->Data[0], 0x86);
    EXPECT_TRUE(std::equal(record.begin() + 272, record.end(), sent.begin() + 272));
}

TEST_F(DispatchTest, ExtendedCodeOnTheSmallRecordIsRefused) {
    for (ULONG code : {IOCTL_READ_EXT_CONFIG, IOCTL_WRITE_EXT_CONFIG}) {
        ReadHeader(0, 0, 0);  // the base is known from here on
        ConfigRequest request;
        std::memset(&request, 0, sizeof request);
        request.Bus = 1;
        Reply reply = Send(code, &request, sizeof request);
        EXPECT_EQ(reply.status, STATUS_INVALID_PARAMETER);
        EXPECT_EQ(reply.returned, 0u);
    }
}

TEST_F(DispatchTest, RangeReadsInBothLayouts) {
    ConfigRangeRequest range;
    std::memset(&range, 0, sizeof range);
    range.Bus = 1;
    range.Offset = 2;
    range.Length = 4;
    std::memset(range.Unused, 0x77, sizeof range.Unused);
    Reply reply = Send(IOCTL_READ_CONFIG_RANGE, &range, sizeof range);
    EXPECT_EQ(reply.status, STATUS_SUCCESS);
    EXPECT_EQ(reply.returned, 272u);
    EXPECT_EQ(range.Result, 4u);
    const unsigned char expected[] = {0x63, 0x43, 0x07, 0x04};  // device id, command
    EXPECT_EQ(std::memcmp(range.Bytes, expected, 4), 0);
    EXPECT_EQ(range.Unused[0], 0x77);
    EXPECT_EQ(range.Unused[243], 0x77);

    for (ULONG reserved : {0u, 0xFFFFFFFFu, 0x12345678u}) {
        ConfigRangeRequest2 shifted;
        std::memset(&shifted, 0, sizeof shifted);
        shifted.Bus = 1;
        shifted.Reserved = reserved;
        shifted.Offset = 2;
        shifted.Length = 4;
        reply = Send(IOCTL_READ_CONFIG_RANGE2, &shifted, sizeof shifted);
        EXPECT_EQ(reply.status, STATUS_SUCCESS);
        EXPECT_EQ(shifted.Result, 4u);
        EXPECT_EQ(std::memcmp(shifted.Bytes, expected, 4), 0);
        EXPECT_EQ(shifted.Reserved, reserved);
    }
}

TEST_F(DispatchTest, RangeLengthAboveFourFailsWithInformationFour) {
    for (ULONG length : {5u, 6u, 0x80000000u, 0xFFFFFFFFu}) {
        for (ULONG code : {IOCTL_READ_CONFIG_RANGE, IOCTL_READ_CONFIG_RANGE2}) {
            ConfigRangeRequest2 request;
            std::memset(&request, 0, sizeof request);
            if (code == IOCTL_READ_CONFIG_RANGE) {
                reinterpret_cast<ConfigRangeRequest*>(&request)->Length = length;
            } else {
                request.Length = length;
            }
            Reply reply = Send(code, &request, sizeof request);
            EXPECT_EQ(reply.status, STATUS_INVALID_PARAMETER) << length;
            EXPECT_EQ(reply.returned, 0u);
            EXPECT_EQ(standin::GetKernelCounters().lastInformation, 4u);
        }
    }
}

TEST_F(DispatchTest, RangeLengthZeroAndOffsetsAtTheEnd) {
    ConfigRangeRequest range;
    std::memset(&range, 0, sizeof range);
    range.Offset = 0;
    range.Length = 0;
    EXPECT_EQ(Send(IOCTL_READ_CONFIG_RANGE, &range, sizeof range).status, STATUS_SUCCESS);
    EXPECT_EQ(range.Result, 0u);

    range.Offset = 0xFE;
    range.Length = 4;
    EXPECT_EQ(Send(IOCTL_READ_CONFIG_RANGE, &range, sizeof range).status, STATUS_SUCCESS);
    EXPECT_EQ(range.Result, 2u) << "the HAL reads up to the end of the 256-byte header";

    range.Offset = 0x100;  // the offset goes to the HAL untested
    EXPECT_EQ(Send(IOCTL_READ_CONFIG_RANGE, &range, sizeof range).status, STATUS_SUCCESS);
    EXPECT_EQ(range.Result, 0u);
}

TEST_F(DispatchTest, WriteConfigReportsOneEvenWhereNobodyAnswers) {
    unsigned char data[256];
    std::memset(data, 0x11, sizeof data);
    uint64_t writesBefore = machine().ConfigWriteCount();
    Reply reply{};
    ConfigRequest request = WriteHeader(0, 9, 3, data, &reply);
    EXPECT_EQ(reply.status, STATUS_SUCCESS);
    EXPECT_EQ(reply.returned, 272u);
    EXPECT_EQ(request.Result, 1u);
    EXPECT_EQ(machine().ConfigWriteCount(), writesBefore);
}

TEST_F(DispatchTest, TheDeviceAndTheDispatchTableAreAsDriverEntryMakesThem) {
    PDEVICE_OBJECT device = driver_->object.DeviceObject;
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->NextDevice, nullptr);  // one device
    EXPECT_EQ(device->DeviceType, static_cast<ULONG>(FILE_DEVICE_UNKNOWN));
    EXPECT_EQ(device->Characteristics, static_cast<ULONG>(FILE_DEVICE_SECURE_OPEN));
    EXPECT_FALSE(device->Exclusive);
    EXPECT_EQ(device->DeviceExtension, nullptr);
    // Every major function but the three served keeps the kernel's refusal.
    const DRIVER_OBJECT& object = driver_->object;
    PDRIVER_DISPATCH refuse = object.MajorFunction[IRP_MJ_CLEANUP];
    for (int major = 0; major <= IRP_MJ_MAXIMUM_FUNCTION; ++major) {
        bool served = major == IRP_MJ_CREATE || major == IRP_MJ_CLOSE || major == IRP_MJ_DEVICE_CONTROL;
        EXPECT_EQ(object.MajorFunction[major] != refuse, served) << "major " << major;
    }
    EXPECT_EQ(object.MajorFunction[IRP_MJ_CREATE], object.MajorFunction[IRP_MJ_CLOSE]);
    EXPECT_NE(object.DriverUnload, nullptr);
}

TEST_F(DispatchTest, EveryRequestIsCompletedExactlyOnce) {
    standin::ResetKernelCounters();
    ReadHeader(0, 0, 0);
    ConfigRequest bad;
    std::memset(&bad, 0, sizeof bad);
    Send(0x222418, &bad, sizeof bad);
    Send(IOCTL_READ_CONFIG, &bad, 0, 272);
    standin::KernelCounters counters = standin::GetKernelCounters();
    EXPECT_EQ(counters.requestsCompleted, 3u);
    EXPECT_EQ(counters.driverFaults, 0u);
}

}  // namespace
}  // namespace qvtest
