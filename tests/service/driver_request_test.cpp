// SendDriverRequest against the real driver: a whole record back counts as
// answered; anything else prints the last error without a line end.
#include <windows.h>

#include <cstring>

#include "capture_stdout.h"
#include "device_channel.h"
#include "driver_request.h"
#include "service_fixture.h"
#include "win32/process_options.h"

namespace qvtest {

namespace {

class DriverRequestTest : public ServiceTest {
protected:
    void SetUp() override {
        ServiceTest::SetUp();
        std::string folder = MakeFolder("drv");
        PutDriver(folder);
        ASSERT_EQ(standin::RegisterRunningService("QUORVENAL", ImagePath(folder)), (DWORD)ERROR_SUCCESS);
        DeviceHandle = CreateFileA(QUORVENAL_USER_DEVICE, GENERIC_READ | GENERIC_WRITE, 0, NULL,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        ASSERT_NE(DeviceHandle, INVALID_HANDLE_VALUE);
    }
};

TEST_F(DriverRequestTest, WholeRecordsAreAnswered) {
    StdoutCapture capture;
    ConfigRequest header = {};
    EXPECT_TRUE(SendDriverRequest(IOCTL_READ_CONFIG, &header, sizeof(header)));
    ConfigRequest absent = {};
    absent.Bus = 0;
    absent.Device = 31;
    absent.Function = 7;
    EXPECT_TRUE(SendDriverRequest(IOCTL_READ_CONFIG, &absent, sizeof(absent)));
    EXPECT_FALSE(FunctionAnswered(absent));
    EXPECT_EQ(capture.Finish(), "");
}

TEST_F(DriverRequestTest, RefusedRequestsPrintTheErrorWithoutLineEnd) {
    ConfigRequest request = {};
    StdoutCapture capture;
    // An unknown code is an invalid device request: ERROR_INVALID_FUNCTION.
    EXPECT_FALSE(SendDriverRequest(IOCTL_READ_CONFIG + 0x100, &request, sizeof(request)));
    // A record of the wrong size is an invalid parameter: ERROR_INVALID_PARAMETER.
    EXPECT_FALSE(SendDriverRequest(IOCTL_READ_CONFIG, &request, 100));
    EXPECT_EQ(capture.Finish(), "Error in DeviceIoControl : 1Error in DeviceIoControl : 87");
}

// A channel opened for reading only, as another client might: the program's
// requests are told apart by the handle's access, and a write prints error 5.
TEST_F(DriverRequestTest, AReadOnlyChannelReadsButItsWritesAreDenied) {
    CloseHandle(DeviceHandle);
    DeviceHandle =
        CreateFileA(QUORVENAL_USER_DEVICE, GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(DeviceHandle, INVALID_HANDLE_VALUE);
    ConfigRequest header = {};
    ExtConfigRequest extended = {};
    StdoutCapture capture;
    EXPECT_TRUE(SendDriverRequest(IOCTL_READ_CONFIG, &header, sizeof(header)));
    EXPECT_FALSE(SendDriverRequest(IOCTL_WRITE_CONFIG, &header, sizeof(header)));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    EXPECT_FALSE(SendDriverRequest(IOCTL_WRITE_EXT_CONFIG, &extended, sizeof(extended)));
    EXPECT_EQ(capture.Finish(), "Error in DeviceIoControl : 5Error in DeviceIoControl : 5");
}

TEST_F(DriverRequestTest, NoChannelIsAnInvalidHandle) {
    CloseHandle(DeviceHandle);
    DeviceHandle = INVALID_HANDLE_VALUE;  // as after a failed open
    ConfigRequest request = {};
    StdoutCapture capture;
    EXPECT_FALSE(SendDriverRequest(IOCTL_READ_CONFIG, &request, sizeof(request)));
    EXPECT_EQ(capture.Finish(), "Error in DeviceIoControl : 6");
}

}  // namespace

namespace {

// The program never closes its channel: the process must end cleanly with
// the device still open and the driver loaded.
TEST_F(DriverRequestTest, ProcessEndsCleanlyWithTheChannelOpen) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ConfigRequest request = {};
            SendDriverRequest(IOCTL_READ_CONFIG, &request, sizeof(request));
            exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace

}  // namespace qvtest
