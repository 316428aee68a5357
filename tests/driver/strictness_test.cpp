// What the stand-in kernel refuses to clean up after a driver, and how it
// hands requests of every transfer method to the driver.
#include <cstring>
#include <string>
#include <vector>

#include "driver_fixture.h"

namespace qvtest {
namespace {

// Loads the misbehaving module under a service name that picks its fault.
standin::LoadedDriver* LoadAs(const char* service, NTSTATUS* status = nullptr) {
    standin::LoadedDriver* driver = nullptr;
    NTSTATUS got = standin::LoadDriver(QV_MISBEHAVING_MODULE, service, &driver);
    if (status != nullptr) *status = got;
    return driver;
}

// Opens the module's device, sends one 272-byte buffered request, closes.
void SendOne(const wchar_t* link) {
    standin::OpenFile* file = nullptr;
    if (standin::OpenDevice(link, &file) != STATUS_SUCCESS) return;
    ConfigRequest request;
    std::memset(&request, 0, sizeof request);
    ULONG returned = 0;
    standin::DeviceControl(file, IOCTL_READ_CONFIG, &request, sizeof request, &request, sizeof request,
                           &returned);
    standin::CloseDevice(file);
}

class StrictnessTest : public ::testing::Test {
protected:
    void SetUp() override {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        standin::SetCurrentMachine(MachineFromText(SmallMachineText()));
    }
};

TEST_F(StrictnessTest, ADriverThatUndoesEverythingLoadsServesAndUnloads) {
    standin::LoadedDriver* driver = LoadAs("TIDY");
    ASSERT_NE(driver, nullptr);
    SendOne(L"\\??\\TIDY");
    standin::UnloadDriver(driver);
    standin::OpenFile* file = nullptr;
    EXPECT_EQ(standin::OpenDevice(L"\\??\\TIDY", &file), STATUS_OBJECT_NAME_NOT_FOUND);
}

TEST_F(StrictnessTest, WhatTheUnloadLeavesEndsTheProcess) {
    EXPECT_DEATH(standin::UnloadDriver(LoadAs("KEEPDEVICE")), "device left behind by the unload routine");
    EXPECT_DEATH(standin::UnloadDriver(LoadAs("KEEPLINK")), "link left behind by the unload routine");
}

TEST_F(StrictnessTest, WhatAFailedDriverEntryLeavesEndsTheProcess) {
    EXPECT_DEATH(LoadAs("FAILDEVICE"), "device left behind by a failed DriverEntry");
    EXPECT_DEATH(LoadAs("FAILLINK"), "link left behind by a failed DriverEntry");
}

TEST_F(StrictnessTest, AMappingLeftByARequestEndsTheProcess) {
    EXPECT_DEATH(
        {
            standin::LoadedDriver* driver = LoadAs("KEEPMAP");
            SendOne(L"\\??\\KEEPMAP");
            standin::UnloadDriver(driver);
        },
        "mapping left behind by a dispatch routine");
}

TEST_F(StrictnessTest, AMutexKeptOrReleasedWithoutHoldingItEndsTheProcess) {
    EXPECT_DEATH(
        {
            standin::LoadedDriver* driver = LoadAs("KEEPMUTEX");
            SendOne(L"\\??\\KEEPMUTEX");
            standin::UnloadDriver(driver);
        },
        "dispatch routine returned holding a mutex");
    EXPECT_DEATH(
        {
            standin::LoadedDriver* driver = LoadAs("FREEMUTEX");
            SendOne(L"\\??\\FREEMUTEX");
            standin::UnloadDriver(driver);
        },
        "release of a mutex the thread does not hold");
    EXPECT_DEATH(
        {
            standin::LoadedDriver* driver = LoadAs("WAITNEXT");
            SendOne(L"\\??\\WAITNEXT");
            standin::UnloadDriver(driver);
        },
        "returned after KeReleaseMutex");
}

TEST_F(StrictnessTest, TheStatusCountsAsItStoodAtCompletion) {
    standin::LoadedDriver* driver = LoadAs("LATESTATUS");
    ASSERT_NE(driver, nullptr);
    standin::OpenFile* file = nullptr;
    ASSERT_EQ(standin::OpenDevice(L"\\??\\LATESTATUS", &file), STATUS_SUCCESS);
    ConfigRequest request;
    std::memset(&request, 0, sizeof request);
    ULONG returned = 0;
    EXPECT_EQ(standin::DeviceControl(file, IOCTL_READ_CONFIG, &request, sizeof request, &request,
                                     sizeof request, &returned),
              STATUS_PENDING);
    standin::CloseDevice(file);
    standin::UnloadDriver(driver);
}

#if defined(__SANITIZE_ADDRESS__)
TEST_F(StrictnessTest, TheSystemBufferHasExactlyTheLengthAsked) {
    // One byte past a 272-byte request is outside the buffer, not in slack.
    EXPECT_DEATH(
        {
            standin::LoadedDriver* driver = LoadAs("OVERRUN");
            SendOne(L"\\??\\OVERRUN");
            standin::UnloadDriver(driver);
        },
        "heap-buffer-overflow");
}
#endif

// QUORVENAL.sys itself: a control code of another transfer method reaches
// the driver, which refuses it as a code it does not serve.
using MethodTest = DriverTest;

TEST_F(MethodTest, CodesOfEveryOtherMethodReachTheDriverAndAreRefused) {
    const ULONG methods[] = {METHOD_IN_DIRECT, METHOD_OUT_DIRECT, METHOD_NEITHER};
    for (ULONG method : methods) {
        ULONG code = (IOCTL_READ_CONFIG & ~3u) | method;
        ConfigRequest request;
        std::memset(&request, 0x5A, sizeof request);
        standin::ResetKernelCounters();
        Reply reply = Send(code, &request, sizeof request);
        EXPECT_EQ(reply.status, STATUS_INVALID_DEVICE_REQUEST) << "method " << method;
        EXPECT_EQ(standin::NtStatusToWin32Error(reply.status), 1u);
        EXPECT_EQ(reply.returned, 0u);
        EXPECT_EQ(standin::GetKernelCounters().requestsCompleted, 1u) << "method " << method;
        EXPECT_EQ(request.Bus, 0x5A5A5A5Au);
    }
}

}  // namespace
}  // namespace qvtest
