#include "service_fixture.h"

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "device_channel.h"
#include "machine/machine.h"
#include "win32/process_options.h"
#include "../../ioctl/sys/quorvenal_ioctl.h"

namespace qvtest {

namespace {

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
    remove(path);
    return 0;
}

}  // namespace

void ServiceTest::SetUp() {
    standin::SetCurrentMachine(standin::DefaultMachine());
    standin::ResetServiceDatabase();
    standin::SetAdministrator(true);
    DeviceHandle = 0;
    char* cwd = getcwd(nullptr, 0);
    ASSERT_NE(cwd, nullptr);
    savedCwd_ = cwd;
    free(cwd);
    char pattern[] = "/tmp/qvsvc_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
}

void ServiceTest::TearDown() {
    standin::ResetServiceDatabase();  // closes DeviceHandle too, as the end of the process would
    DeviceHandle = 0;
    standin::SetAdministrator(true);
    EXPECT_EQ(chdir(savedCwd_.c_str()), 0);
    nftw(root_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string ServiceTest::MakeFolder(const std::string& name) {
    std::string path = root_ + "/" + name;
    EXPECT_EQ(mkdir(path.c_str(), 0755), 0) << path;
    return path;
}

std::string ServiceTest::MakeFolderOfWindowsLength(size_t windowsLength) {
    std::string path = MakeFolder("long" + std::to_string(windowsLength));
    // Windows form: "Z:" then the Linux path with backslashes.
    while (path.size() + 2 < windowsLength) {
        size_t room = windowsLength - (path.size() + 2) - 1;  // after the separator
        path += "/" + std::string(room > 200 ? 100 : room, 'd');
        EXPECT_EQ(mkdir(path.c_str(), 0755), 0) << path.size();
    }
    EXPECT_EQ(path.size() + 2, windowsLength);
    return path;
}

void ServiceTest::PutDriver(const std::string& folder) {
    std::ifstream in(QV_DRIVER_MODULE, std::ios::binary);
    ASSERT_TRUE(in.good()) << "driver module not built: " << QV_DRIVER_MODULE;
    std::ofstream out(folder + "/QUORVENAL.sys", std::ios::binary);
    out << in.rdbuf();
}

void ServiceTest::PutBrokenDriver(const std::string& folder) {
    std::ofstream out(folder + "/QUORVENAL.sys", std::ios::binary);
    out << "MZ this is no driver image\n";
}

void ServiceTest::Enter(const std::string& folder) { ASSERT_EQ(chdir(folder.c_str()), 0) << folder; }

std::string ServiceTest::WindowsPath(const std::string& linuxPath) {
    return standin::WindowsPathOf(linuxPath);
}

std::string ServiceTest::ImagePath(const std::string& folder) {
    return WindowsPath(folder) + "\\QUORVENAL.sys";
}

DWORD ServiceTest::ServiceState(const char* name) {
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    EXPECT_NE(manager, nullptr);
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_QUERY_STATUS);
    DWORD state = 0;
    if (service != NULL) {
        SERVICE_STATUS status;
        EXPECT_TRUE(QueryServiceStatus(service, &status));
        state = status.dwCurrentState;
        CloseServiceHandle(service);
    } else {
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_SERVICE_DOES_NOT_EXIST);
    }
    CloseServiceHandle(manager);
    return state;
}

bool ServiceTest::DeviceOpens() {
    HANDLE device = CreateFileA(QUORVENAL_USER_DEVICE, GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (device == INVALID_HANDLE_VALUE) return false;
    CloseHandle(device);
    return true;
}

}  // namespace qvtest
