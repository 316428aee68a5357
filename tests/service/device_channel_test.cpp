// OpenDeviceChannel and LocateDriverFile from the program's current folder,
// through the real service manager, driver module and files.
#include <windows.h>

#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "capture_stdout.h"
#include "create_file_hook.h"
#include "device_channel.h"
#include "driver_request.h"
#include "service_control.h"
#include "service_fixture.h"
#include "win32/process_options.h"

namespace qvtest {

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

TEST_F(DeviceChannelTest, TheDeviceIsOpenedForReadAndWriteUnsharedWithCreateAlways) {
    std::string folder = MakeFolder("opens");
    PutDriver(folder);
    Enter(folder);
    TakeFileOpens();
    std::string out;
    ASSERT_EQ(Open(&out), 1);
    // The device (absent), the driver file, the device again.
    std::vector<FileOpen> opens = TakeFileOpens();
    ASSERT_EQ(opens.size(), 3u);
    for (size_t i : {0u, 2u}) {
        EXPECT_EQ(opens[i].name, "\\\\.\\QuorVenal") << i;
        EXPECT_EQ(opens[i].access, (DWORD)(GENERIC_READ | GENERIC_WRITE)) << i;
        EXPECT_EQ(opens[i].share, 0u) << i;
        EXPECT_FALSE(opens[i].security) << i;
        EXPECT_EQ(opens[i].disposition, (DWORD)CREATE_ALWAYS) << i;
        EXPECT_EQ(opens[i].flags, (DWORD)FILE_ATTRIBUTE_NORMAL) << i;
    }
    EXPECT_EQ(opens[1].name, ImagePath(folder));
    EXPECT_EQ(opens[1].access, (DWORD)GENERIC_READ);
    EXPECT_EQ(opens[1].share, (DWORD)FILE_SHARE_READ) << "the loader reads it; nobody changes it";
    EXPECT_EQ(opens[1].disposition, (DWORD)OPEN_EXISTING);
    UninstallDriverService();
    CloseHandle(DeviceHandle);
}

// Someone who can write the program's folder tries to swap the driver file
// between the moment it is found and the moment the kernel loads it: it is
// held open, sharing reading only, until the service has started.
TEST_F(DeviceChannelTest, TheDriverFileCannotBeSwappedBeforeItIsLoaded) {
    std::string folder = MakeFolder("swap");
    PutDriver(folder);
    Enter(folder);
    std::string path = ImagePath(folder);
    std::vector<DWORD> errors;
    int loads = 0;
    standin::SetBeforeImageLoad([&](const std::string&) {
        ++loads;
        SetLastError(0);
        HANDLE writer =
            CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
        errors.push_back(GetLastError());
        if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
        errors.push_back(MoveFileA(path.c_str(), (path + ".old").c_str()) ? 0 : GetLastError());
        errors.push_back(DeleteFileA(path.c_str()) ? 0 : GetLastError());
        // Reading stays open to everyone (the loader among them).
        HANDLE reader =
            CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
        errors.push_back(reader == INVALID_HANDLE_VALUE ? GetLastError() : 0);
        if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
    });
    size_t handlesBefore = standin::OpenHandleCount();
    std::string out;
    int opened = Open(&out);
    standin::SetBeforeImageLoad(nullptr);
    ASSERT_EQ(loads, 1);
    EXPECT_EQ(errors, (std::vector<DWORD>{ERROR_SHARING_VIOLATION, ERROR_SHARING_VIOLATION,
                                          ERROR_SHARING_VIOLATION, ERROR_SUCCESS}));
    ASSERT_EQ(opened, 1) << out;
    EXPECT_EQ(ServiceState("QUORVENAL"), (DWORD)SERVICE_RUNNING);
    EXPECT_EQ(standin::OpenHandleCount(), handlesBefore + 1) << "the device handle; the file is let go";
    EXPECT_TRUE(MoveFileA(path.c_str(), (path + ".old").c_str())) << "once the service has started";
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

}  // namespace qvtest
