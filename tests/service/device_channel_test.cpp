// OpenDeviceChannel and LocateDriverFile from the program's current folder,
// through the real service manager, driver module and files.
#include <windows.h>

#include <unistd.h>

#include <cstring>
#include <string>

#include "capture_stdout.h"
#include "device_channel.h"
#include "driver_request.h"
#include "service_control.h"
#include "service_fixture.h"
#include "win32/process_options.h"

namespace {

class DeviceChannelTest : public ServiceTest {
protected:
    void SetUp() override {
        ServiceTest::SetUp();
        memset(buffer_, '#', sizeof(buffer_));
    }
    int Open(std::string* out) {
        StdoutCapture capture;
        int result = OpenDeviceChannel(buffer_);
        *out = capture.Finish();
        return result;
    }
    std::string MissingLine(const std::string& folder) {
        return "Driver: QUORVENAL.SYS is not in the " + WindowsPath(folder) + " directory. \n";
    }
    bool BufferUntouched() const {
        for (char c : buffer_) {
            if (c != '#') return false;
        }
        return true;
    }
    char buffer_[MAX_PATH + 16];  // the tail beyond MAX_PATH must stay untouched
};

TEST_F(DeviceChannelTest, InstallsFromTheCurrentFolderAndReadsAHeader) {
    std::string folder = MakeFolder("prog");
    PutDriver(folder);
    Enter(folder);
    std::string out;
    ASSERT_EQ(Open(&out), 1);
    EXPECT_EQ(out, "");
    EXPECT_NE(DeviceHandle, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(buffer_, ImagePath(folder).c_str());
    EXPECT_EQ(ServiceState("QUORVENAL"), (DWORD)SERVICE_RUNNING);

    ConfigRequest request = {};
    EXPECT_TRUE(SendDriverRequest(IOCTL_READ_CONFIG, &request, sizeof(request)));
    EXPECT_TRUE(FunctionAnswered(request));
    EXPECT_NE(request.Data[0] | request.Data[1] << 8, 0xFFFF);  // a vendor at 0:0.0

    // At exit: the stop waits for DeviceHandle, which the end of the process closes.
    UninstallDriverService();
    EXPECT_EQ(ServiceState("QUORVENAL"), (DWORD)SERVICE_STOP_PENDING);
    CloseHandle(DeviceHandle);
    EXPECT_EQ(ServiceState("QUORVENAL"), 0u);
}

TEST_F(DeviceChannelTest, DriverAlreadyLoadedNeedsNoServiceCall) {
    std::string folder = MakeFolder("earlier");
    PutDriver(folder);
    ASSERT_EQ(standin::RegisterRunningService("QUORVENAL", ImagePath(folder)), (DWORD)ERROR_SUCCESS);
    Enter(MakeFolder("nodriver"));  // any service call would fail to find the driver here
    std::string out;
    EXPECT_EQ(Open(&out), 1);
    EXPECT_EQ(out, "");
    EXPECT_TRUE(BufferUntouched());
    EXPECT_NE(DeviceHandle, INVALID_HANDLE_VALUE);
    EXPECT_NE(DeviceHandle, (HANDLE)0);
}

TEST_F(DeviceChannelTest, DriverFileMissing) {
    std::string folder = MakeFolder("empty");
    Enter(folder);
    std::string out;
    EXPECT_EQ(Open(&out), 0);
    EXPECT_EQ(out, MissingLine(folder));
    EXPECT_EQ(DeviceHandle, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(buffer_, ImagePath(folder).c_str());  // the full path of the driver looked for
    EXPECT_EQ(ServiceState("QUORVENAL"), 0u);
}

TEST_F(DeviceChannelTest, StartedFromAnotherFolder) {
    std::string program = MakeFolder("program");
    PutDriver(program);
    std::string elsewhere = MakeFolder("elsewhere");
    Enter(elsewhere);
    std::string out;
    EXPECT_EQ(Open(&out), 0);
    EXPECT_EQ(out, MissingLine(elsewhere));
    EXPECT_EQ(ServiceState("QUORVENAL"), 0u);
}

TEST_F(DeviceChannelTest, DriverPathThatIsAFolderCountsAsMissing) {
    std::string folder = MakeFolder("dir");
    MakeFolder("dir/QUORVENAL.sys");
    Enter(folder);
    std::string out;
    EXPECT_EQ(Open(&out), 0);
    EXPECT_EQ(out, MissingLine(folder));
}

TEST_F(DeviceChannelTest, FailedInstallIsRemovedAgain) {
    std::string folder = MakeFolder("broken");
    PutBrokenDriver(folder);
    Enter(folder);
    std::string out;
    EXPECT_EQ(Open(&out), 0);
    std::string start = "StartService failure! Error = ";
    ASSERT_EQ(out.rfind(start, 0), 0u) << out;
    size_t end = out.find(" \n");
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(out.substr(end), " \nUnable to install driver.\nControlService failed!  Error = 1062 \n");
    EXPECT_EQ(ServiceState("QUORVENAL"), 0u);  // the partial registration is gone
    EXPECT_EQ(DeviceHandle, INVALID_HANDLE_VALUE);
}

TEST_F(DeviceChannelTest, InstallWithoutRightsFailsAndRemovalFailsToo) {
    std::string folder = MakeFolder("user");
    PutDriver(folder);
    Enter(folder);
    standin::SetAdministrator(false);
    std::string out;
    EXPECT_EQ(Open(&out), 0);
    EXPECT_EQ(out,
              "Open SC Manager failed! Error = 5 \n"
              "Unable to install driver.\n"
              "Open SC Manager failed! Error = 5 \n");
}

TEST_F(DeviceChannelTest, SecondOpenFailingLeavesTheServiceInstalled) {
    // An earlier install left "QUORVENAL" registered with an image that loads
    // but makes no device; the registration is kept, so the start succeeds
    // and the device is still absent.
    std::string folder = MakeFolder("stale");
    PutDriver(folder);
    std::string stale = WindowsPath(QV_DEVICELESS_MODULE);
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = CreateServiceA(manager, "QUORVENAL", "QUORVENAL", SERVICE_ALL_ACCESS,
                                       SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                       stale.c_str(), NULL, NULL, NULL, NULL, NULL);
    ASSERT_NE(service, nullptr);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    Enter(folder);
    std::string out;
    EXPECT_EQ(Open(&out), 0);
    EXPECT_EQ(out, "Error: CreatFile Failed : 2\n");
    EXPECT_EQ(ServiceState("QUORVENAL"), (DWORD)SERVICE_RUNNING);  // nothing removed here
    EXPECT_EQ(DeviceHandle, INVALID_HANDLE_VALUE);
}

TEST_F(DeviceChannelTest, AccessDeniedAtTheFirstOpenInstallsNothing) {
    std::string folder = MakeFolder("denied");
    PutDriver(folder);
    ASSERT_EQ(standin::RegisterRunningService("QUORVENAL", ImagePath(folder)), (DWORD)ERROR_SUCCESS);
    Enter(folder);
    standin::SetAdministrator(false);  // the device is open to administrators alone
    std::string out;
    EXPECT_EQ(Open(&out), 0);
    EXPECT_EQ(out, "CreateFile failed!  ERROR_FILE_NOT_FOUND = 5\n");
    EXPECT_TRUE(BufferUntouched());
    EXPECT_EQ(DeviceHandle, INVALID_HANDLE_VALUE);
}

TEST_F(DeviceChannelTest, UnreadableCurrentDirectory) {
    std::string folder = MakeFolder("vanishing");
    Enter(folder);
    ASSERT_EQ(rmdir(folder.c_str()), 0);
    std::string out;
    EXPECT_EQ(Open(&out), 0);
    EXPECT_EQ(out, "GetCurrentDirectory failed!  Error = 2 \n");
    EXPECT_EQ(ServiceState("QUORVENAL"), 0u);
}

// The driver path is the directory, 14 characters and a terminator in
// MAX_PATH: directories up to 245 characters fit.
TEST_F(DeviceChannelTest, LongestDirectoryThatFitsInstalls) {
    std::string folder = MakeFolderOfWindowsLength(245);
    PutDriver(folder);
    Enter(folder);
    std::string out;
    EXPECT_EQ(Open(&out), 1);
    EXPECT_EQ(out, "");
    EXPECT_EQ(strlen(buffer_), 259u);
    EXPECT_STREQ(buffer_, ImagePath(folder).c_str());
    EXPECT_EQ(buffer_[MAX_PATH], '#');
}

TEST_F(DeviceChannelTest, TooLongDirectoriesAreRefusedAsMissingDriver) {
    for (size_t length : {246u, 259u, 260u, 300u}) {
        SCOPED_TRACE(length);
        std::string folder = MakeFolderOfWindowsLength(length);
        PutDriver(folder);
        Enter(folder);
        memset(buffer_, '#', sizeof(buffer_));
        std::string out;
        EXPECT_EQ(Open(&out), 0);
        EXPECT_EQ(out, MissingLine(folder));
        EXPECT_EQ(buffer_[MAX_PATH], '#');  // nothing written past the buffer
        EXPECT_EQ(ServiceState("QUORVENAL"), 0u);
    }
}

}  // namespace
