// The stand-in kernel beneath the driver: loading and unloading images, the
// object namespace, handles, METHOD_BUFFERED copying and status mapping.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>
#include <vector>

#include "driver_fixture.h"

namespace qvtest {
namespace {

using KernelTest = DriverTest;

TEST_F(KernelTest, DeviceNamesAreFoundWithoutRegardToCase) {
    const wchar_t* names[] = {L"\\??\\QUORVENAL",       L"\\??\\quorvenal",     L"\\DosDevices\\QuorVenal",
                              L"\\GLOBAL??\\QuorVenal", L"\\Device\\QUORVENAL", L"\\device\\quorvenal"};
    for (const wchar_t* name : names) {
        standin::OpenFile* file = nullptr;
        EXPECT_EQ(standin::OpenDevice(name, &file), STATUS_SUCCESS);
        standin::CloseDevice(file);
    }
    standin::OpenFile* file = nullptr;
    EXPECT_EQ(standin::OpenDevice(L"\\??\\QuorVenal2", &file), STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(file, nullptr);
    EXPECT_EQ(standin::NtStatusToWin32Error(STATUS_OBJECT_NAME_NOT_FOUND), 2u);
}

TEST_F(KernelTest, ManyHandlesOpenAndCloseInAnyOrder) {
    std::vector<standin::OpenFile*> files(200, nullptr);
    for (standin::OpenFile*& file : files) {
        ASSERT_EQ(standin::OpenDevice(L"\\??\\QuorVenal", &file), STATUS_SUCCESS);
    }
    for (size_t i = 0; i < files.size(); i += 2) standin::CloseDevice(files[i]);
    for (size_t i = 1; i < files.size(); i += 2) {
        ConfigRequest request;
        std::memset(&request, 0, sizeof request);
        ULONG returned = 0;
        EXPECT_EQ(standin::DeviceControl(files[i], IOCTL_READ_CONFIG, &request, sizeof request, &request,
                                         sizeof request, &returned),
                  STATUS_SUCCESS);
        EXPECT_EQ(request.Result, 256u);
        standin::CloseDevice(files[i]);
    }
}

TEST_F(KernelTest, NothingIsCopiedBackOnFailureAndOnlyInformationBytesOnSuccess) {
    // Output buffer apart from the input: the reply goes to the output only.
    ConfigRequest in;
    std::memset(&in, 0, sizeof in);
    std::vector<unsigned char> out(sizeof in, 0xEE);
    ULONG returned = 99;
    EXPECT_EQ(standin::DeviceControl(file_, IOCTL_READ_CONFIG, &in, sizeof in, out.data(),
                                     static_cast<ULONG>(out.size()), &returned),
              STATUS_SUCCESS);
    EXPECT_EQ(returned, 272u);
    EXPECT_EQ(in.Result, 0u) << "the input buffer is not written";
    EXPECT_EQ(reinterpret_cast<ConfigRequest*>(out.data())->Result, 256u);

    std::fill(out.begin(), out.end(), 0xEE);
    returned = 99;
    EXPECT_EQ(standin::DeviceControl(file_, 0x222418, &in, sizeof in, out.data(),
                                     static_cast<ULONG>(out.size()), &returned),
              STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(returned, 0u);
    for (unsigned char byte : out) ASSERT_EQ(byte, 0xEE);
}

TEST_F(KernelTest, RequestsOfAnySizeFailCleanly) {
    unsigned char small[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ULONG returned = 99;
    // Lengths no buffer can have: refused before any byte is copied.
    EXPECT_EQ(
        standin::DeviceControl(file_, IOCTL_READ_CONFIG, small, 0xFFFFFFFF, small, 0xFFFFFFFF, &returned),
        STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(standin::DeviceControl(file_, IOCTL_READ_CONFIG, nullptr, 272, nullptr, 272, &returned),
              static_cast<NTSTATUS>(0xC00000E8L));
    // A large real buffer reaches the driver, which refuses its length.
    std::vector<unsigned char> large(1u << 20, 0x6B);
    EXPECT_EQ(Send(IOCTL_READ_CONFIG, large.data(), static_cast<ULONG>(large.size())).status,
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(large[0], 0x6B);
    EXPECT_EQ(small[0], 1);
}

TEST_F(KernelTest, UnloadWaitsForTheLastHandle) {
    standin::OpenFile* second = nullptr;
    ASSERT_EQ(standin::OpenDevice(L"\\??\\QuorVenal", &second), STATUS_SUCCESS);
    standin::UnloadDriver(driver_);
    driver_ = nullptr;
    // The driver stays for its open files; no new file can be opened.
    ConfigRequest request;
    std::memset(&request, 0, sizeof request);
    ULONG returned = 0;
    EXPECT_EQ(standin::DeviceControl(second, IOCTL_READ_CONFIG, &request, sizeof request, &request,
                                     sizeof request, &returned),
              STATUS_SUCCESS);
    standin::OpenFile* third = nullptr;
    EXPECT_EQ(standin::OpenDevice(L"\\??\\QuorVenal", &third), STATUS_DELETE_PENDING);
    standin::CloseDevice(second);
    standin::CloseDevice(file_);
    file_ = nullptr;
    // Unloaded now: the name is gone and the driver loads afresh.
    EXPECT_EQ(standin::OpenDevice(L"\\??\\QuorVenal", &third), STATUS_OBJECT_NAME_NOT_FOUND);
    LoadAndOpen();
}

TEST_F(KernelTest, ASecondLoadIsRefused) {
    standin::LoadedDriver* again = nullptr;
    EXPECT_EQ(standin::LoadDriver(DriverPath(), "QUORVENAL", &again), static_cast<NTSTATUS>(0xC000010EL));
    // Under another service name the image's DriverEntry runs and meets its own device name.
    EXPECT_EQ(standin::LoadDriver(DriverPath(), "OTHER", &again), STATUS_OBJECT_NAME_COLLISION);
    EXPECT_EQ(again, nullptr);
    ConfigRequest request;
    std::memset(&request, 0, sizeof request);
    EXPECT_EQ(Send(IOCTL_READ_CONFIG, &request, sizeof request).status, STATUS_SUCCESS);
}

TEST(KernelLoaderTest, MissingOrForeignImagesAreRefusedCleanly) {
    standin::LoadedDriver* driver = nullptr;
    EXPECT_EQ(standin::LoadDriver(QV_BUILD_ROOT "/no-such-driver.sys", "X", &driver),
              STATUS_OBJECT_NAME_NOT_FOUND);
    const std::string junk = QV_BUILD_ROOT "/driver-test-junk.sys";
    std::ofstream(junk) << "this is not a driver image";
    EXPECT_EQ(standin::LoadDriver(junk, "X", &driver), STATUS_INVALID_IMAGE_FORMAT);
    EXPECT_EQ(driver, nullptr);
    std::remove(junk.c_str());
    EXPECT_EQ(standin::NtStatusToWin32Error(STATUS_INVALID_IMAGE_FORMAT), 193u);
}

TEST(KernelLoaderTest, DriverEntryFailureLeavesNothingBehind) {
    // The link name is taken: DriverEntry must delete its device and fail.
    UNICODE_STRING link;
    UNICODE_STRING target;
    RtlInitUnicodeString(&link, L"\\DosDevices\\QUORVENAL");
    RtlInitUnicodeString(&target, L"\\Device\\Elsewhere");
    ASSERT_EQ(IoCreateSymbolicLink(&link, &target), STATUS_SUCCESS);
    standin::LoadedDriver* driver = nullptr;
    EXPECT_EQ(standin::LoadDriver(DriverPath(), "QUORVENAL", &driver), STATUS_OBJECT_NAME_COLLISION);
    standin::OpenFile* file = nullptr;
    EXPECT_EQ(standin::OpenDevice(L"\\Device\\QUORVENAL", &file), STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(IoDeleteSymbolicLink(&link), STATUS_SUCCESS);
    EXPECT_EQ(IoDeleteSymbolicLink(&link), STATUS_OBJECT_NAME_NOT_FOUND);
    // With the name free again the driver loads.
    ASSERT_EQ(standin::LoadDriver(DriverPath(), "QUORVENAL", &driver), STATUS_SUCCESS);
    standin::UnloadDriver(driver);
}

TEST(KernelPrimitivesTest, CountedStringsAndStatusMapping) {
    UNICODE_STRING text;
    RtlInitUnicodeString(&text, L"\\Device\\X");
    EXPECT_EQ(text.Length, 9 * sizeof(WCHAR));
    EXPECT_EQ(text.MaximumLength, 10 * sizeof(WCHAR));
    RtlInitUnicodeString(&text, NULL);
    EXPECT_EQ(text.Length, 0);
    EXPECT_EQ(text.Buffer, nullptr);
    EXPECT_EQ(standin::NtStatusToWin32Error(STATUS_SUCCESS), 0u);
    EXPECT_EQ(standin::NtStatusToWin32Error(STATUS_ACCESS_DENIED), 5u);
    EXPECT_EQ(standin::NtStatusToWin32Error(static_cast<NTSTATUS>(0xC0FFEE00)), 317u);
}

TEST(KernelPrimitivesTest, MappingsOfNothingFailAndMemoryMappingsShareItsBytes) {
    standin::SetCurrentMachine(MachineFromText("# quorvenal memory 0x100000 0x2000\n" + SmallMachineText()));
    PHYSICAL_ADDRESS address;
    address.QuadPart = 0x90000000;
    EXPECT_EQ(MmMapIoSpace(address, 2, MmNonCached), nullptr);
    address.QuadPart = 0x101FFF;  // runs off the end of memory
    EXPECT_EQ(MmMapIoSpace(address, 4, MmNonCached), nullptr);

    // Crossing a page: a mapping whose register accesses reach the memory
    // one by one, when they are made; a plain store through it reaches
    // nothing, now or when it is released.
    address.QuadPart = 0x100ffe;
    unsigned char* crossing = static_cast<unsigned char*>(MmMapIoSpace(address, 4, MmNonCached));
    ASSERT_NE(crossing, nullptr);
    address.QuadPart = 0x100ffe;
    unsigned char* direct = static_cast<unsigned char*>(MmMapIoSpace(address, 2, MmNonCached));
    ASSERT_NE(direct, nullptr);
    WRITE_REGISTER_USHORT(reinterpret_cast<PUSHORT>(crossing), 0x0201);
    EXPECT_EQ(direct[0], 1) << "the register write reached the memory at once";
    EXPECT_EQ(direct[1], 2);
    direct[0] = 7;
    EXPECT_EQ(READ_REGISTER_USHORT(reinterpret_cast<PUSHORT>(crossing)), 0x0207);
    std::memcpy(crossing + 2, "\x03\x04", 2);
    MmUnmapIoSpace(crossing, 4);
    address.QuadPart = 0x101000;
    unsigned char* next = static_cast<unsigned char*>(MmMapIoSpace(address, 2, MmNonCached));
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(next[0], 0) << "a plain store is not a write";
    MmUnmapIoSpace(next, 2);
    MmUnmapIoSpace(direct, 2);

    uint64_t bad = standin::GetKernelCounters().badUnmaps;
    MmUnmapIoSpace(direct, 2);  // released twice
    EXPECT_EQ(standin::GetKernelCounters().badUnmaps, bad + 1);
}

TEST(KernelPrimitivesTest, KernelMutexIsRecursiveForItsOwnerAndExcludesOthers) {
    static KMUTEX mutex;
    KeInitializeMutex(&mutex, 0);
    ASSERT_EQ(KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, NULL), STATUS_SUCCESS);
    ASSERT_EQ(KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, NULL), STATUS_SUCCESS);
    bool entered = false;
    std::thread other([&] {
        KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, NULL);
        entered = true;
        KeReleaseMutex(&mutex, FALSE);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(entered);
    KeReleaseMutex(&mutex, FALSE);
    KeReleaseMutex(&mutex, FALSE);
    other.join();
    EXPECT_TRUE(entered);
}

}  // namespace
}  // namespace qvtest
