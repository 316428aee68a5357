// The stand-in service control manager with the real driver module: its
// database, its error codes, deletion while handles are open, and a stop
// while the driver's device is still open.
#include <windows.h>
#include <winsvc.h>

#include "service_fixture.h"
#include "win32/process_options.h"
#include "../../ioctl/sys/quorvenal_ioctl.h"

namespace qvtest {

namespace {

class ServiceManagerTest : public ServiceTest {
protected:
    void SetUp() override {
        ServiceTest::SetUp();
        folder_ = MakeFolder("drv");
        PutDriver(folder_);
        manager_ = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(manager_, nullptr);
    }
    void TearDown() override {
        CloseServiceHandle(manager_);
        ServiceTest::TearDown();
    }
    SC_HANDLE Create(const char* name, const std::string& image) {
        return CreateServiceA(manager_, name, name, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                              SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, image.c_str(), NULL, NULL, NULL,
                              NULL, NULL);
    }
    std::string folder_;
    SC_HANDLE manager_ = nullptr;
};

TEST_F(ServiceManagerTest, CreateStartStopDeleteWithTheDriverModule) {
    SC_HANDLE service = Create("QUORVENAL", ImagePath(folder_));
    ASSERT_NE(service, nullptr);
    EXPECT_EQ(ServiceState("QUORVENAL"), (DWORD)SERVICE_STOPPED);
    EXPECT_FALSE(DeviceOpens());

    EXPECT_TRUE(StartServiceA(service, 0, NULL));
    EXPECT_EQ(ServiceState("quorvenal"), (DWORD)SERVICE_RUNNING);  // names match without case
    EXPECT_TRUE(DeviceOpens());
    EXPECT_FALSE(StartServiceA(service, 0, NULL));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SERVICE_ALREADY_RUNNING);

    SERVICE_STATUS status;
    EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(status.dwCurrentState, (DWORD)SERVICE_STOPPED);
    EXPECT_FALSE(DeviceOpens());
    EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SERVICE_NOT_ACTIVE);

    // A second start runs the driver's entry again.
    EXPECT_TRUE(StartServiceA(service, 0, NULL));
    EXPECT_TRUE(DeviceOpens());
    EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));

    EXPECT_TRUE(DeleteService(service));
    EXPECT_EQ(ServiceState("QUORVENAL"), (DWORD)SERVICE_STOPPED);  // still there: a handle is open
    EXPECT_FALSE(DeleteService(service));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SERVICE_MARKED_FOR_DELETE);
    EXPECT_FALSE(StartServiceA(service, 0, NULL));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SERVICE_MARKED_FOR_DELETE);
    EXPECT_EQ(Create("QUORVENAL", ImagePath(folder_)), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SERVICE_MARKED_FOR_DELETE);

    EXPECT_TRUE(CloseServiceHandle(service));
    EXPECT_EQ(ServiceState("QUORVENAL"), 0u);  // gone with the last handle
    EXPECT_FALSE(CloseServiceHandle(service));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
}

TEST_F(ServiceManagerTest, DatabaseErrors) {
    SC_HANDLE service = Create("QUORVENAL", ImagePath(folder_));
    ASSERT_NE(service, nullptr);
    EXPECT_EQ(Create("Quorvenal", ImagePath(folder_)), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SERVICE_EXISTS);
    EXPECT_EQ(OpenServiceA(manager_, "OTHER", SERVICE_ALL_ACCESS), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SERVICE_DOES_NOT_EXIST);
    EXPECT_EQ(Create("bad\\name", ImagePath(folder_)), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_NAME);
    EXPECT_EQ(
        CreateServiceA(manager_, "OTHER", "QUORVENAL", SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                       SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, "Z:\\x.sys", NULL, NULL, NULL, NULL, NULL),
        nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_DUPLICATE_SERVICE_NAME);
    EXPECT_EQ(Create("OTHER", ""), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Create("QUORVENAL", ImagePath(folder_)), nullptr);

    SERVICE_STATUS status;
    EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_PAUSE, &status));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SERVICE_NOT_ACTIVE);
    EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_STOP, NULL));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(StartServiceA(reinterpret_cast<SC_HANDLE>(manager_), 0, NULL));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
    CloseServiceHandle(service);
}

TEST_F(ServiceManagerTest, StartFailuresLeaveTheServiceStopped) {
    std::string broken = MakeFolder("broken");
    PutBrokenDriver(broken);
    const struct {
        const char* name;
        std::string image;
        DWORD error;  // 0: any failure the loader reports
    } cases[] = {
        {"MISSINGFILE", ImagePath(folder_) + ".old", ERROR_FILE_NOT_FOUND},
        {"MISSINGDIR", WindowsPath(folder_) + "\\none\\QUORVENAL.sys", ERROR_PATH_NOT_FOUND},
        {"RELATIVE", "QUORVENAL.sys", ERROR_PATH_NOT_FOUND},
        {"BROKEN", ImagePath(broken), 0},
    };
    for (const auto& c : cases) {
        SC_HANDLE service = Create(c.name, c.image);
        ASSERT_NE(service, nullptr) << c.name;
        SetLastError(0);
        EXPECT_FALSE(StartServiceA(service, 0, NULL)) << c.name;
        if (c.error != 0)
            EXPECT_EQ(GetLastError(), c.error) << c.name;
        else
            EXPECT_NE(GetLastError(), 0u) << c.name;
        EXPECT_EQ(ServiceState(c.name), (DWORD)SERVICE_STOPPED) << c.name;
        CloseServiceHandle(service);
    }
    EXPECT_FALSE(DeviceOpens());
}

TEST_F(ServiceManagerTest, StopWithTheDeviceOpenWaitsForTheLastHandle) {
    ASSERT_EQ(standin::RegisterRunningService("QUORVENAL", ImagePath(folder_)), (DWORD)ERROR_SUCCESS);
    HANDLE device = CreateFileA(QUORVENAL_USER_DEVICE, GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);

    SC_HANDLE service = OpenServiceA(manager_, "QUORVENAL", SERVICE_ALL_ACCESS);
    ASSERT_NE(service, nullptr);
    SERVICE_STATUS status;
    EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(status.dwCurrentState, (DWORD)SERVICE_STOP_PENDING);
    EXPECT_FALSE(DeviceOpens());  // the device is being deleted: no new opens
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    EXPECT_FALSE(StartServiceA(service, 0, NULL));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SERVICE_ALREADY_RUNNING);
    EXPECT_TRUE(DeleteService(service));
    EXPECT_TRUE(CloseServiceHandle(service));

    // The open handle still reaches the loaded driver.
    ConfigRequest request = {};
    DWORD returned = 0;
    EXPECT_TRUE(DeviceIoControl(device, IOCTL_READ_CONFIG, &request, sizeof(request), &request,
                                sizeof(request), &returned, NULL));
    EXPECT_EQ(returned, sizeof(request));
    EXPECT_EQ(ServiceState("QUORVENAL"), (DWORD)SERVICE_STOP_PENDING);

    EXPECT_TRUE(CloseHandle(device));  // the unload runs; the marked service goes
    EXPECT_EQ(ServiceState("QUORVENAL"), 0u);
    EXPECT_FALSE(DeviceOpens());
}

TEST_F(ServiceManagerTest, FailingDriverEntryFailsTheStart) {
    // A second service on the same driver: its DriverEntry finds the device
    // name taken and fails, with the collision's error.
    ASSERT_EQ(standin::RegisterRunningService("QUORVENAL", ImagePath(folder_)), (DWORD)ERROR_SUCCESS);
    SC_HANDLE twin = Create("TWIN", ImagePath(folder_));
    ASSERT_NE(twin, nullptr);
    EXPECT_FALSE(StartServiceA(twin, 0, NULL));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);
    EXPECT_EQ(ServiceState("TWIN"), (DWORD)SERVICE_STOPPED);
    EXPECT_EQ(ServiceState("QUORVENAL"), (DWORD)SERVICE_RUNNING);
    EXPECT_TRUE(DeviceOpens());  // the first driver's device is untouched
    CloseServiceHandle(twin);
}

TEST_F(ServiceManagerTest, WithoutAdministratorRights) {
    ASSERT_EQ(standin::RegisterRunningService("QUORVENAL", ImagePath(folder_)), (DWORD)ERROR_SUCCESS);
    standin::SetAdministrator(false);
    EXPECT_EQ(OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    SC_HANDLE reader = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(OpenServiceA(reader, "QUORVENAL", SERVICE_ALL_ACCESS), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    SC_HANDLE service = OpenServiceA(reader, "QUORVENAL", SERVICE_QUERY_STATUS);
    ASSERT_NE(service, nullptr);
    SERVICE_STATUS status;
    EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    EXPECT_FALSE(DeleteService(service));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    CloseServiceHandle(service);
    CloseServiceHandle(reader);
    EXPECT_FALSE(DeviceOpens()) << "the device is open to SYSTEM and Administrators alone";
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
}

TEST_F(ServiceManagerTest, ManagerOnlyOnThisMachinesActiveDatabase) {
    EXPECT_EQ(OpenSCManagerA("\\\\elsewhere", NULL, SC_MANAGER_ALL_ACCESS), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)RPC_S_SERVER_UNAVAILABLE);
    EXPECT_EQ(OpenSCManagerA(NULL, "Failed", SC_MANAGER_ALL_ACCESS), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_DATABASE_DOES_NOT_EXIST);
    SC_HANDLE manager = OpenSCManagerA(NULL, SERVICES_ACTIVE_DATABASEA, SC_MANAGER_ALL_ACCESS);
    EXPECT_NE(manager, nullptr);
    CloseServiceHandle(manager);
}

}  // namespace

}  // namespace qvtest
