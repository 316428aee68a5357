// A fresh stand-in machine for each test: an empty service database, an
// administrator process, DeviceHandle never opened, and a private temporary
// folder tree that the test may enter. Everything is undone afterwards.
#ifndef QUORVENAL_TESTS_SERVICE_SERVICE_FIXTURE_H
#define QUORVENAL_TESTS_SERVICE_SERVICE_FIXTURE_H

#include <windows.h>
#include <winsvc.h>

#include <gtest/gtest.h>

#include <string>

namespace qvtest {

class ServiceTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A new folder (Linux path) under the test's temporary root.
    std::string MakeFolder(const std::string& name);
    // A new folder whose Windows path is exactly windowsLength characters long.
    std::string MakeFolderOfWindowsLength(size_t windowsLength);
    // Puts the real driver module into folder as QUORVENAL.sys.
    void PutDriver(const std::string& folder);
    // Puts a file that is not a driver into folder as QUORVENAL.sys.
    void PutBrokenDriver(const std::string& folder);
    // Makes folder the current directory.
    void Enter(const std::string& folder);

    static std::string WindowsPath(const std::string& linuxPath);
    // The driver image path of folder, as the program builds it.
    static std::string ImagePath(const std::string& folder);

    // The state of a service (SERVICE_RUNNING, ...), or 0 when it does not exist.
    static DWORD ServiceState(const char* name);
    // Whether the driver's device can be opened now (the handle is closed again).
    static bool DeviceOpens();

    std::string root_;

private:
    std::string savedCwd_;
};

}  // namespace qvtest

#endif
