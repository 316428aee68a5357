// Who may open the driver's device, and what a handle opened without write
// access (or whose create did not say it was granted) may do, through the
// real driver and the stand-in I/O manager.
#include "driver_fixture.h"
#include "kernel/object_namespace.h"
#include "kernel/security.h"

namespace qvtest {
namespace {

class DeviceAccessTest : public DriverTest {
protected:
    void TearDown() override {
        standin::SetCallerToken(standin::CallerToken::Administrator);
        DriverTest::TearDown();
    }

    NTSTATUS OpenAs(standin::CallerToken token, const wchar_t* name, ACCESS_MASK access) {
        standin::SetCallerToken(token);
        standin::OpenFile* file = nullptr;
        NTSTATUS status = standin::OpenDevice(name, access, &file);
        standin::CloseDevice(file);
        standin::SetCallerToken(standin::CallerToken::Administrator);
        return status;
    }
};

TEST_F(DeviceAccessTest, AUserWithoutAdministratorRightsCannotOpenTheDeviceAtAll) {
    const ACCESS_MASK accesses[] = {FILE_GENERIC_READ,
                                    FILE_GENERIC_WRITE,
                                    FILE_GENERIC_READ | FILE_GENERIC_WRITE,
                                    GENERIC_READ,
                                    SYNCHRONIZE | FILE_READ_ATTRIBUTES,
                                    MAXIMUM_ALLOWED};
    uint64_t completed = standin::GetKernelCounters().requestsCompleted;
    for (const wchar_t* name : {L"\\??\\QuorVenal", L"\\Device\\QUORVENAL"}) {
        for (ACCESS_MASK access : accesses) {
            EXPECT_EQ(OpenAs(standin::CallerToken::User, name, access), STATUS_ACCESS_DENIED)
                << "access " << std::hex << access;
        }
    }
    EXPECT_EQ(standin::GetKernelCounters().requestsCompleted, completed)
        << "the driver saw no open: the I/O manager refused them";
}

// Names below the device ("\\.\QuorVenal\x") and opens relative to a handle
// of the device reach the driver too; the device's DACL covers them because
// the driver asks for secure opens.
TEST_F(DeviceAccessTest, ANameBelowTheDeviceIsAsClosedToUsersAsTheDevice) {
    uint64_t completed = standin::GetKernelCounters().requestsCompleted;
    for (const wchar_t* name : {L"\\??\\QuorVenal\\x", L"\\Device\\QUORVENAL\\", L"\\??\\QuorVenal\\a\\b"}) {
        EXPECT_EQ(OpenAs(standin::CallerToken::User, name, GENERIC_READ | GENERIC_WRITE),
                  STATUS_ACCESS_DENIED)
            << "a user opened the name below the device";
    }
    EXPECT_EQ(standin::GetKernelCounters().requestsCompleted, completed) << "the driver saw none of them";

    // A relative open on a handle of the device, by a user who got hold of
    // one (inherited or duplicated): checked against the DACL as well.
    standin::SetCallerToken(standin::CallerToken::User);
    for (const wchar_t* name : {L"", L"x"}) {
        standin::OpenFile* relative = nullptr;
        EXPECT_EQ(standin::OpenRelative(file_, name, GENERIC_READ | GENERIC_WRITE, &relative),
                  STATUS_ACCESS_DENIED);
        standin::CloseDevice(relative);
    }
    standin::SetCallerToken(standin::CallerToken::Administrator);
    EXPECT_EQ(
        OpenAs(standin::CallerToken::Administrator, L"\\??\\QuorVenal\\x", GENERIC_READ | GENERIC_WRITE),
        STATUS_SUCCESS);
}

// A handle opened with MAXIMUM_ALLOWED names no right: the I/O manager's
// check grants an administrator writing, and the driver goes by the grant.
TEST_F(DeviceAccessTest, TheWriteRightIsWhatTheCheckGrantedNotWhatWasAsked) {
    ConfigRequest before = ReadHeader(1, 0, 0);
    for (standin::CallerToken token : {standin::CallerToken::System, standin::CallerToken::Administrator}) {
        standin::SetCallerToken(token);
        standin::OpenFile* maximum = nullptr;
        ASSERT_EQ(standin::OpenDevice(L"\\??\\QuorVenal", MAXIMUM_ALLOWED | SYNCHRONIZE, &maximum),
                  STATUS_SUCCESS);
        ConfigRequest request = before;
        request.Data[0x3C] = static_cast<unsigned char>(before.Data[0x3C] + 1 + static_cast<int>(token));
        ULONG returned = 0;
        EXPECT_EQ(standin::DeviceControl(maximum, IOCTL_WRITE_CONFIG, &request, sizeof request, &request,
                                         sizeof request, &returned),
                  STATUS_SUCCESS);
        standin::CloseDevice(maximum);
        unsigned char line = 0;
        ASSERT_TRUE(machine().ReadConfig({1, 0, 0}, 0x3C, &line, 1));
        EXPECT_EQ(line, request.Data[0x3C]);
    }
    standin::SetCallerToken(standin::CallerToken::Administrator);
}

TEST_F(DeviceAccessTest, SystemAndAdministratorsOpenForReadingAndWriting) {
    for (standin::CallerToken token : {standin::CallerToken::System, standin::CallerToken::Administrator}) {
        EXPECT_EQ(OpenAs(token, L"\\??\\QuorVenal", GENERIC_READ | GENERIC_WRITE), STATUS_SUCCESS);
        EXPECT_EQ(OpenAs(token, L"\\??\\QuorVenal", MAXIMUM_ALLOWED), STATUS_SUCCESS);
    }
    EXPECT_EQ(standin::OpenKernelHandleCount(), 0u) << "DriverEntry closed its handle to the device";
}

// The DACL the driver gives its device, read back entry by entry: SYSTEM
// (S-1-5-18) and Administrators (S-1-5-32-544) with all file access, in that
// order, and nobody else. (SYSTEM's token also holds Administrators, so an
// open alone would not show a wrong SYSTEM entry.)
TEST_F(DeviceAccessTest, TheDeviceDaclNamesSystemAndAdministratorsAlone) {
    const std::vector<uint8_t> system = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
    const std::vector<uint8_t> administrators = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
    std::lock_guard<std::mutex> guard(standin::NamespaceLock());
    standin::DeviceRecord* device = standin::ResolveDevice(standin::NormaliseName(L"\\Device\\QUORVENAL"));
    ASSERT_NE(device, nullptr);
    EXPECT_FALSE(device->security.nullDacl);
    ASSERT_EQ(device->security.entries.size(), 2u);
    for (const standin::AccessEntry& entry : device->security.entries) {
        EXPECT_TRUE(entry.allow);
        EXPECT_EQ(entry.mask, (ACCESS_MASK)FILE_ALL_ACCESS);
    }
    EXPECT_EQ(device->security.entries[0].sid, system);
    EXPECT_EQ(device->security.entries[1].sid, administrators);
}

// An administrator's handle opened for reading only.
class ReadOnlyHandleTest : public DriverTest {
protected:
    void SetUp() override {
        DriverTest::SetUp();
        ASSERT_EQ(standin::OpenDevice(L"\\??\\QuorVenal", FILE_GENERIC_READ, &readOnly_), STATUS_SUCCESS);
    }
    void TearDown() override {
        standin::CloseDevice(readOnly_);
        DriverTest::TearDown();
    }

    Reply SendReadOnly(ULONG code, void* record, ULONG length) {
        Reply reply{};
        reply.status =
            standin::DeviceControl(readOnly_, code, record, length, record, length, &reply.returned);
        return reply;
    }

    // Both write codes, with the base known so that an extended write could
    // go through: each is refused, and nothing is written, mapped or sent.
    void ExpectEveryWriteCodeRefused() {
        ReadHeader(1, 0, 0);
        ConfigRequest header;
        std::memset(&header, 0x5A, sizeof header);
        header.Bus = 1;
        header.Device = 0;
        header.Function = 0;
        header.Result = 0xEEEEEEEE;
        auto ext = std::make_unique<ExtConfigRequest>();
        std::memset(ext.get(), 0x5A, sizeof *ext);
        ext->Bus = 1;
        ext->Device = 0;
        ext->Function = 0;
        ext->Result = 0xEEEEEEEE;

        uint64_t writes = machine().ConfigWriteCount();
        standin::StartKernelTrace();
        Reply reply = SendReadOnly(IOCTL_WRITE_CONFIG, &header, sizeof header);
        EXPECT_EQ(reply.status, STATUS_ACCESS_DENIED);
        EXPECT_EQ(reply.returned, 0u);
        EXPECT_EQ(standin::NtStatusToWin32Error(reply.status), 5u);
        reply = SendReadOnly(IOCTL_WRITE_EXT_CONFIG, ext.get(), sizeof *ext);
        EXPECT_EQ(reply.status, STATUS_ACCESS_DENIED);
        EXPECT_EQ(reply.returned, 0u);
        standin::StopKernelTrace();

        EXPECT_EQ(machine().ConfigWriteCount(), writes);
        EXPECT_TRUE(standin::TracedPortAccesses().empty());
        EXPECT_TRUE(standin::TracedMappings().empty());
        EXPECT_EQ(header.Result, 0xEEEEEEEEu) << "no record comes back";
        EXPECT_EQ(ext->Result, 0xEEEEEEEEu);
    }

    standin::OpenFile* readOnly_ = nullptr;
};

TEST_F(ReadOnlyHandleTest, ReadsAreServed) {
    ConfigRequest header;
    std::memset(&header, 0, sizeof header);
    header.Bus = 1;
    Reply reply = SendReadOnly(IOCTL_READ_CONFIG, &header, sizeof header);
    EXPECT_EQ(reply.status, STATUS_SUCCESS);
    EXPECT_EQ(reply.returned, 272u);
    EXPECT_EQ(header.Result, 256u);

    ConfigRangeRequest range;
    std::memset(&range, 0, sizeof range);
    range.Bus = 1;
    range.Length = 4;
    EXPECT_EQ(SendReadOnly(IOCTL_READ_CONFIG_RANGE, &range, sizeof range).status, STATUS_SUCCESS);
    EXPECT_EQ(range.Result, 4u);
    EXPECT_EQ(std::memcmp(range.Bytes, header.Data, 4), 0);

    auto ext = std::make_unique<ExtConfigRequest>();
    std::memset(ext.get(), 0, sizeof *ext);
    ext->Bus = 1;
    EXPECT_EQ(SendReadOnly(IOCTL_READ_EXT_CONFIG, ext.get(), sizeof *ext).status, STATUS_SUCCESS);
    EXPECT_EQ(ext->Result, 0u);
    unsigned char expected[3840];
    ASSERT_TRUE(machine().ReadConfig({1, 0, 0}, 0x100, expected, sizeof expected));
    EXPECT_EQ(std::memcmp(ext->ExtData, expected, sizeof expected), 0);
}

TEST_F(ReadOnlyHandleTest, EveryWriteCodeIsRefusedAndNothingIsWritten) { ExpectEveryWriteCodeRefused(); }

// The write right belongs to each handle: a handle opened for writing by the
// same process does not lend it to the read-only one, before or after.
TEST_F(ReadOnlyHandleTest, TheWriteRightIsPerHandle) {
    ConfigRequest before = ReadHeader(1, 0, 0);
    unsigned char data[256];
    std::memcpy(data, before.Data, sizeof data);
    data[0x3C] = 0x0A;

    Reply writer{};
    WriteHeader(1, 0, 0, data, &writer);
    EXPECT_EQ(writer.status, STATUS_SUCCESS);
    ConfigRequest request;
    std::memset(&request, 0, sizeof request);
    request.Bus = 1;
    std::memcpy(request.Data, data, sizeof data);
    request.Data[0x3C] = 0x0B;
    EXPECT_EQ(SendReadOnly(IOCTL_WRITE_CONFIG, &request, sizeof request).status, STATUS_ACCESS_DENIED);
    unsigned char line = 0;
    ASSERT_TRUE(machine().ReadConfig({1, 0, 0}, 0x3C, &line, 1));
    EXPECT_EQ(line, 0x0A);

    // A handle opened for writing only may write.
    standin::OpenFile* writeOnly = nullptr;
    ASSERT_EQ(standin::OpenDevice(L"\\??\\QuorVenal", FILE_WRITE_DATA, &writeOnly), STATUS_SUCCESS);
    ULONG returned = 0;
    EXPECT_EQ(standin::DeviceControl(writeOnly, IOCTL_WRITE_CONFIG, &request, sizeof request, &request,
                                     sizeof request, &returned),
              STATUS_SUCCESS);
    standin::CloseDevice(writeOnly);
    ASSERT_TRUE(machine().ReadConfig({1, 0, 0}, 0x3C, &line, 1));
    EXPECT_EQ(line, 0x0B);
}

// A create that says nothing of what was granted: no security context (what
// Wine's I/O manager sends), or a context without its access state. The
// open asked for reading and writing and the I/O manager granted both, but
// the driver is not told: the handle reads and never writes.
enum class CreateContext { None, WithoutAccessState };
CreateContext gCreateContext = CreateContext::None;
PDRIVER_DISPATCH gDriversCreate = nullptr;

NTSTATUS NTAPI CreateWithoutTheGrant(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    IO_SECURITY_CONTEXT withoutState;
    if (stack->MajorFunction == IRP_MJ_CREATE) {
        if (gCreateContext == CreateContext::None) {
            stack->Parameters.Create.SecurityContext = NULL;
        } else {
            withoutState = *stack->Parameters.Create.SecurityContext;
            withoutState.AccessState = NULL;
            stack->Parameters.Create.SecurityContext = &withoutState;
        }
    }
    return gDriversCreate(device, irp);
}

class CreateWithoutGrantTest : public ReadOnlyHandleTest,
                               public ::testing::WithParamInterface<CreateContext> {
protected:
    void SetUp() override {
        DriverTest::SetUp();
        gCreateContext = GetParam();
        gDriversCreate = driver_->object.MajorFunction[IRP_MJ_CREATE];
        driver_->object.MajorFunction[IRP_MJ_CREATE] = CreateWithoutTheGrant;
        ASSERT_EQ(standin::OpenDevice(L"\\??\\QuorVenal", GENERIC_READ | GENERIC_WRITE, &readOnly_),
                  STATUS_SUCCESS);
        driver_->object.MajorFunction[IRP_MJ_CREATE] = gDriversCreate;
    }
};

TEST_P(CreateWithoutGrantTest, TheHandleReadsAndEveryWriteCodeIsRefused) {
    ASSERT_NE(standin::HandleGrantedAccess(readOnly_) & FILE_WRITE_DATA, 0u)
        << "the I/O manager granted writing; only the driver is not told";
    ConfigRequest header;
    std::memset(&header, 0, sizeof header);
    header.Bus = 1;
    EXPECT_EQ(SendReadOnly(IOCTL_READ_CONFIG, &header, sizeof header).status, STATUS_SUCCESS);
    EXPECT_EQ(header.Result, 256u);
    ExpectEveryWriteCodeRefused();
}

INSTANTIATE_TEST_SUITE_P(NoGrantSaid, CreateWithoutGrantTest,
                         ::testing::Values(CreateContext::None, CreateContext::WithoutAccessState),
                         [](const ::testing::TestParamInfo<CreateContext>& info) {
                             return info.param == CreateContext::None ? "NoContext" : "NoAccessState";
                         });

}  // namespace
}  // namespace qvtest
