// The stand-in's files, paths and current directory, with Windows' answers.
#include <windows.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>

#include "service_fixture.h"
#include "win32/process_options.h"

namespace qvtest {

namespace {

HANDLE OpenForRead(const std::string& path, DWORD share = 0, DWORD disposition = OPEN_EXISTING) {
    return CreateFileA(path.c_str(), GENERIC_READ, share, NULL, disposition, FILE_ATTRIBUTE_NORMAL, NULL);
}

void WriteText(const std::string& linuxPath, const std::string& text) {
    std::ofstream out(linuxPath, std::ios::binary);
    out << text;
}

using Win32FilesTest = ServiceTest;

TEST_F(Win32FilesTest, CurrentDirectoryIsTheLinuxFolderOnDriveZ) {
    std::string folder = MakeFolder("here");
    Enter(folder);
    std::string expected = "Z:" + folder;
    for (char& c : expected) c = c == '/' ? '\\' : c;

    char buffer[MAX_PATH];
    DWORD length = GetCurrentDirectoryA(MAX_PATH, buffer);
    EXPECT_EQ(length, expected.size());
    EXPECT_STREQ(buffer, expected.c_str());

    // Too small by one: nothing written, the size needed (with terminator) returned.
    char small[64];
    memset(small, '#', sizeof(small));
    EXPECT_EQ(GetCurrentDirectoryA(static_cast<DWORD>(expected.size()), small), expected.size() + 1);
    EXPECT_EQ(small[0], '#');
    EXPECT_EQ(GetCurrentDirectoryA(0, NULL), expected.size() + 1);
}

TEST_F(Win32FilesTest, RemovedCurrentDirectoryCannotBeRead) {
    std::string folder = MakeFolder("gone");
    Enter(folder);
    ASSERT_EQ(rmdir(folder.c_str()), 0);
    char buffer[MAX_PATH];
    SetLastError(0);
    EXPECT_EQ(GetCurrentDirectoryA(MAX_PATH, buffer), 0u);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
}

TEST_F(Win32FilesTest, OpensByAbsoluteRelativeAndRootedWindowsPaths) {
    std::string folder = MakeFolder("files");
    WriteText(folder + "/Data.bin", "abc");
    Enter(folder);
    std::string windowsFolder = WindowsPath(folder);
    std::string rooted = windowsFolder.substr(2);  // "\tmp\..."
    const std::string names[] = {
        windowsFolder + "\\Data.bin", "Data.bin",
        ".\\sub\\..\\Data.bin",       rooted + "\\Data.bin",
        "z:" + rooted + "/Data.bin",  windowsFolder + "\\\\DATA.BIN"};  // doubled separator, other case
    for (const std::string& name : names) {
        HANDLE file = OpenForRead(name);
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << name;
        char text[8] = {};
        DWORD read = 0;
        EXPECT_TRUE(ReadFile(file, text, sizeof(text), &read, NULL)) << name;
        EXPECT_EQ(std::string(text, read), "abc") << name;
        EXPECT_TRUE(CloseHandle(file));
    }
}

TEST_F(Win32FilesTest, OpenFailuresCarryWindowsErrors) {
    std::string folder = MakeFolder("errs");
    std::string windowsFolder = WindowsPath(folder);
    struct Case {
        std::string name;
        DWORD error;
    } cases[] = {
        {windowsFolder + "\\missing.sys", ERROR_FILE_NOT_FOUND},
        {windowsFolder + "\\nofolder\\missing.sys", ERROR_PATH_NOT_FOUND},
        {windowsFolder, ERROR_ACCESS_DENIED},  // a folder is no file
        {"C:\\Windows\\notepad.exe", ERROR_PATH_NOT_FOUND},
        {"\\\\server\\share\\x", ERROR_BAD_NETPATH},
        {windowsFolder + "\\bad|name", ERROR_INVALID_NAME},
        {"", ERROR_PATH_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_EQ(OpenForRead(c.name), INVALID_HANDLE_VALUE) << c.name;
        EXPECT_EQ(GetLastError(), c.error) << c.name;
    }
    SetLastError(0);
    EXPECT_EQ(CreateFileA(NULL, GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
    EXPECT_EQ(OpenForRead(windowsFolder + "\\x", 0, 9), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
}

TEST_F(Win32FilesTest, DispositionsCreateTruncateAndReportExisting) {
    std::string folder = MakeFolder("disp");
    std::string name = WindowsPath(folder) + "\\out.txt";
    HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SUCCESS);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, "hello", 5, &written, NULL));
    EXPECT_EQ(written, 5u);
    EXPECT_TRUE(CloseHandle(file));

    EXPECT_EQ(CreateFileA(name.c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_EXISTS);

    file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);
    EXPECT_TRUE(CloseHandle(file));
    struct stat info;
    ASSERT_EQ(stat((folder + "/out.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_size, 0);  // truncated
}

TEST_F(Win32FilesTest, ShareModeZeroKeepsOtherOpensOut) {
    std::string folder = MakeFolder("share");
    WriteText(folder + "/f", "x");
    std::string name = WindowsPath(folder) + "\\f";
    HANDLE first = OpenForRead(name, 0);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    EXPECT_EQ(OpenForRead(name, FILE_SHARE_READ), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION);
    EXPECT_TRUE(CloseHandle(first));

    HANDLE shared = OpenForRead(name, FILE_SHARE_READ);
    ASSERT_NE(shared, INVALID_HANDLE_VALUE);
    HANDLE second = OpenForRead(name, FILE_SHARE_READ);
    EXPECT_NE(second, INVALID_HANDLE_VALUE);
    CloseHandle(second);
    CloseHandle(shared);
}

TEST_F(Win32FilesTest, ClosedAndForeignHandlesAreRefused) {
    std::string folder = MakeFolder("handles");
    WriteText(folder + "/f", "x");
    HANDLE file = OpenForRead(WindowsPath(folder) + "\\f");
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    size_t before = standin::OpenHandleCount();
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ(standin::OpenHandleCount(), before - 1);
    EXPECT_FALSE(CloseHandle(file));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
    EXPECT_FALSE(CloseHandle(NULL));

    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, nullptr);
    EXPECT_FALSE(CloseHandle(reinterpret_cast<HANDLE>(manager)));  // not a file handle
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
    EXPECT_TRUE(CloseServiceHandle(manager));
}

TEST_F(Win32FilesTest, ControlRequestsNeedADeviceHandle) {
    std::string folder = MakeFolder("ioctl");
    WriteText(folder + "/f", "x");
    HANDLE file = OpenForRead(WindowsPath(folder) + "\\f");
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    char record[272] = {};
    DWORD returned = 99;
    EXPECT_FALSE(DeviceIoControl(file, 0x222400, record, 272, record, 272, &returned, NULL));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_FUNCTION);
    CloseHandle(file);
    EXPECT_FALSE(DeviceIoControl(file, 0x222400, record, 272, record, 272, &returned, NULL));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
}

TEST_F(Win32FilesTest, MissingDeviceIsFileNotFound) {
    EXPECT_EQ(CreateFileA("\\\\.\\NoSuchDevice", GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, NULL),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
}

}  // namespace

}  // namespace qvtest
