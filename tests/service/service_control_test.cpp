// The program's service operations and ManageDriver, diagnostics compared
// byte for byte.
#include <vector>

#include <windows.h>
#include <winsvc.h>

#include "capture_stdout.h"
#include "service_control.h"
#include "service_fixture.h"
#include "win32/process_options.h"

namespace qvtest {

namespace {

class ServiceControlTest : public ServiceTest {
protected:
    void SetUp() override {
        ServiceTest::SetUp();
        folder_ = MakeFolder("drv");
        PutDriver(folder_);
        image_ = ImagePath(folder_);
    }
    // Runs ManageDriver and checks that it leaves no handle open.
    bool Manage(LPCSTR name, LPCSTR path, USHORT code, std::string* out) {
        size_t handles = standin::OpenHandleCount();
        StdoutCapture capture;
        bool result = ManageDriver(name, path, code);
        *out = capture.Finish();
        EXPECT_EQ(standin::OpenHandleCount(), handles) << "ManageDriver left a handle open";
        return result;
    }
    std::string folder_;
    std::string image_;
};

TEST_F(ServiceControlTest, RemoveWithoutServiceStillSucceeds) {
    std::string out;
    EXPECT_TRUE(Manage("QUORVENAL", NULL, kRemoveDriver, &out));
    EXPECT_EQ(out, "OpenService failed!  Error = 1060 \nOpenService failed!  Error = 1060 \n");

    StdoutCapture capture;
    EXPECT_TRUE(UninstallDriverService());
    EXPECT_EQ(capture.Finish(), "OpenService failed!  Error = 1060 \nOpenService failed!  Error = 1060 \n");
}

TEST_F(ServiceControlTest, InstallThenRemove) {
    std::string out;
    EXPECT_TRUE(Manage("QUORVENAL", image_.c_str(), kInstallDriver, &out));
    EXPECT_EQ(out, "");
    EXPECT_EQ(ServiceState("QUORVENAL"), (DWORD)SERVICE_RUNNING);
    EXPECT_TRUE(DeviceOpens());

    EXPECT_TRUE(Manage("QUORVENAL", NULL, kRemoveDriver, &out));
    EXPECT_EQ(out, "");
    EXPECT_EQ(ServiceState("QUORVENAL"), 0u);
    EXPECT_FALSE(DeviceOpens());
}

TEST_F(ServiceControlTest, InstallRegistersADemandStartKernelDriver) {
    std::string out;
    ASSERT_TRUE(Manage("QUORVENAL", image_.c_str(), kInstallDriver, &out));
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceA(manager, "QUORVENAL", SERVICE_QUERY_CONFIG);
    ASSERT_NE(service, nullptr);
    DWORD needed = 0;
    EXPECT_FALSE(QueryServiceConfigA(service, NULL, 0, &needed));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
    std::vector<char> buffer(needed);
    auto* config = reinterpret_cast<LPQUERY_SERVICE_CONFIGA>(buffer.data());
    ASSERT_TRUE(QueryServiceConfigA(service, config, needed, &needed));
    EXPECT_EQ(config->dwServiceType, (DWORD)SERVICE_KERNEL_DRIVER);
    EXPECT_EQ(config->dwStartType, (DWORD)SERVICE_DEMAND_START);
    EXPECT_EQ(config->dwErrorControl, (DWORD)SERVICE_ERROR_NORMAL);
    EXPECT_STREQ(config->lpDisplayName, "QUORVENAL");
    EXPECT_STREQ(config->lpBinaryPathName, image_.c_str());
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

TEST_F(ServiceControlTest, InstallOverARunningServiceSucceeds) {
    ASSERT_EQ(standin::RegisterRunningService("QUORVENAL", image_), (DWORD)ERROR_SUCCESS);
    std::string other = MakeFolder("other");
    std::string out;
    EXPECT_TRUE(Manage("QUORVENAL", ImagePath(other).c_str(), kInstallDriver, &out));
    EXPECT_EQ(out, "");
    EXPECT_EQ(ServiceState("QUORVENAL"), (DWORD)SERVICE_RUNNING);
}

TEST_F(ServiceControlTest, InstallOverAStoppedServiceStartsItWithItsOwnImage) {
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = CreateServiceA(manager, "QUORVENAL", "QUORVENAL", SERVICE_ALL_ACCESS,
                                       SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                       image_.c_str(), NULL, NULL, NULL, NULL, NULL);
    ASSERT_NE(service, nullptr);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);

    // The registration is not updated: the path given now holds no driver.
    std::string empty = MakeFolder("empty");
    std::string out;
    EXPECT_TRUE(Manage("QUORVENAL", ImagePath(empty).c_str(), kInstallDriver, &out));
    EXPECT_EQ(out, "");
    EXPECT_EQ(ServiceState("QUORVENAL"), (DWORD)SERVICE_RUNNING);
}

TEST_F(ServiceControlTest, CreateFailureStopsTheInstall) {
    std::string out;
    EXPECT_FALSE(Manage("bad/name", image_.c_str(), kInstallDriver, &out));
    EXPECT_EQ(out, "CreateService failed!  Error = 123 \n");

    // A service marked for deletion and still held open cannot be created again.
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE held = CreateServiceA(manager, "QUORVENAL", "QUORVENAL", SERVICE_ALL_ACCESS,
                                    SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                    image_.c_str(), NULL, NULL, NULL, NULL, NULL);
    ASSERT_NE(held, nullptr);
    ASSERT_TRUE(DeleteService(held));
    EXPECT_FALSE(Manage("QUORVENAL", image_.c_str(), kInstallDriver, &out));
    EXPECT_EQ(out, "CreateService failed!  Error = 1072 \n");  // no start attempted
    EXPECT_EQ(ServiceState("QUORVENAL"), (DWORD)SERVICE_STOPPED);
    CloseServiceHandle(held);
    CloseServiceHandle(manager);
}

TEST_F(ServiceControlTest, StartFailureIsReportedAndNotRolledBack) {
    std::string broken = MakeFolder("broken");
    PutBrokenDriver(broken);
    std::string out;
    EXPECT_FALSE(Manage("QUORVENAL", ImagePath(broken).c_str(), kInstallDriver, &out));
    ASSERT_EQ(out.rfind("StartService failure! Error = ", 0), 0u) << out;
    EXPECT_EQ(out.substr(out.size() - 2), " \n");
    EXPECT_EQ(out.find("Error = 0 "), std::string::npos) << out;
    EXPECT_EQ(ServiceState("QUORVENAL"), (DWORD)SERVICE_STOPPED);  // left for the caller

    EXPECT_TRUE(Manage("QUORVENAL", NULL, kRemoveDriver, &out));
    EXPECT_EQ(out, "ControlService failed!  Error = 1062 \n");
    EXPECT_EQ(ServiceState("QUORVENAL"), 0u);
}

TEST_F(ServiceControlTest, UnknownCodesAreRejectedAfterTheManagerOpens) {
    for (USHORT code : {USHORT(0), USHORT(3), USHORT(0xFFFF)}) {
        std::string out;
        EXPECT_FALSE(Manage("QUORVENAL", image_.c_str(), code, &out)) << code;
        EXPECT_EQ(out, "Unknown ManageDriver() function. \n") << code;
    }
    // Without rights the manager does not open, so the code is never looked at.
    standin::SetAdministrator(false);
    std::string out;
    EXPECT_FALSE(Manage("QUORVENAL", image_.c_str(), 3, &out));
    EXPECT_EQ(out, "Open SC Manager failed! Error = 5 \n");
}

TEST_F(ServiceControlTest, MissingNameOrPath) {
    const char* invalid = "Invalid Driver or Service provided to ManageDriver() \n";
    std::string out;
    EXPECT_FALSE(Manage("QUORVENAL", NULL, kInstallDriver, &out));
    EXPECT_EQ(out, invalid);
    EXPECT_FALSE(Manage("QUORVENAL", NULL, 0, &out));
    EXPECT_EQ(out, invalid);
    EXPECT_FALSE(Manage(NULL, image_.c_str(), kInstallDriver, &out));
    EXPECT_EQ(out, invalid);
    EXPECT_FALSE(Manage(NULL, NULL, kRemoveDriver, &out));
    EXPECT_EQ(out, invalid);
    // Removal needs no path.
    EXPECT_TRUE(Manage("QUORVENAL", NULL, kRemoveDriver, &out));
    EXPECT_EQ(out, "OpenService failed!  Error = 1060 \nOpenService failed!  Error = 1060 \n");
}

TEST_F(ServiceControlTest, WithoutTheRightToManageServices) {
    ASSERT_EQ(standin::RegisterRunningService("QUORVENAL", image_), (DWORD)ERROR_SUCCESS);
    standin::SetAdministrator(false);
    std::string out;
    EXPECT_FALSE(Manage("QUORVENAL", image_.c_str(), kInstallDriver, &out));
    EXPECT_EQ(out, "Open SC Manager failed! Error = 5 \n");
    EXPECT_FALSE(Manage("QUORVENAL", NULL, kRemoveDriver, &out));
    EXPECT_EQ(out, "Open SC Manager failed! Error = 5 \n");
    EXPECT_EQ(ServiceState("QUORVENAL"), (DWORD)SERVICE_RUNNING);  // untouched
}

TEST_F(ServiceControlTest, PrimitivesReportTheirOwnFailures) {
    ASSERT_EQ(standin::RegisterRunningService("QUORVENAL", image_), (DWORD)ERROR_SUCCESS);
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, nullptr);
    size_t handles = standin::OpenHandleCount();
    StdoutCapture capture;
    EXPECT_TRUE(StartDriverService(manager, "QUORVENAL"));  // already running
    EXPECT_TRUE(StopDriverService(manager, "QUORVENAL"));
    EXPECT_FALSE(StopDriverService(manager, "QUORVENAL"));                                   // 1062
    EXPECT_TRUE(CreateDriverService(manager, "QUORVENAL", "Z:\\elsewhere\\QUORVENAL.sys"));  // exists
    EXPECT_TRUE(StartDriverService(manager, "QUORVENAL"));  // its own image still
    EXPECT_FALSE(StartDriverService(manager, "NOTHERE"));
    EXPECT_FALSE(DeleteDriverService(manager, "NOTHERE"));
    EXPECT_FALSE(StopDriverService(manager, "NOTHERE"));

    SC_HANDLE held = OpenServiceA(manager, "QUORVENAL", SERVICE_ALL_ACCESS);
    ASSERT_NE(held, nullptr);
    EXPECT_TRUE(DeleteDriverService(manager, "QUORVENAL"));
    EXPECT_FALSE(DeleteDriverService(manager, "QUORVENAL"));  // already marked
    EXPECT_TRUE(StopDriverService(manager, "QUORVENAL"));     // a marked service still stops
    EXPECT_EQ(capture.Finish(),
              "ControlService failed!  Error = 1062 \n"
              "OpenService failed!  Error = 1060 \n"
              "OpenService failed!  Error = 1060 \n"
              "OpenService failed!  Error = 1060 \n"
              "DeleteService failed!  Error = 1072 \n");
    CloseServiceHandle(held);
    EXPECT_EQ(standin::OpenHandleCount(), handles);  // each primitive closed what it opened
    EXPECT_EQ(ServiceState("QUORVENAL"), 0u);
    CloseServiceHandle(manager);
}

}  // namespace

}  // namespace qvtest
