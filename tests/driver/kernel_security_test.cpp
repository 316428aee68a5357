// The stand-in kernel's security model beneath the driver: the default
// descriptor of a device, the access check, the ACL and descriptor routines
// and kernel handles, as Windows has them.
#include <ntifs.h>

#include "driver_fixture.h"
#include "kernel/object_namespace.h"
#include "kernel/security.h"

namespace qvtest {
namespace {

using standin::CallerToken;

const unsigned char kSystemSid[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
const unsigned char kAdminsSid[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
const unsigned char kWorldSid[] = {1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};

NTSTATUS Check(const standin::DeviceSecurity& security, CallerToken token, ACCESS_MASK desired,
               ACCESS_MASK* granted = nullptr) {
    ACCESS_MASK ignored = 0;
    return standin::CheckAccess(security, token, desired, granted ? granted : &ignored);
}

TEST(KernelSecurityTest, WindowsDefaultDeviceSecurityLetsEveryoneReadAndWrite) {
    standin::DeviceSecurity security = standin::DefaultDeviceSecurity();
    ACCESS_MASK granted = 0;
    EXPECT_EQ(Check(security, CallerToken::User, GENERIC_READ | GENERIC_WRITE, &granted), STATUS_SUCCESS);
    EXPECT_EQ(granted, static_cast<ACCESS_MASK>(FILE_GENERIC_READ | FILE_GENERIC_WRITE));
    EXPECT_EQ(Check(security, CallerToken::User, WRITE_DAC), STATUS_ACCESS_DENIED);
    EXPECT_EQ(Check(security, CallerToken::Administrator, WRITE_DAC), STATUS_SUCCESS);
    EXPECT_EQ(Check(security, CallerToken::System, GENERIC_ALL, &granted), STATUS_SUCCESS);
    EXPECT_EQ(granted, static_cast<ACCESS_MASK>(FILE_ALL_ACCESS));
    EXPECT_EQ(Check(security, CallerToken::User, MAXIMUM_ALLOWED, &granted), STATUS_SUCCESS);
    EXPECT_EQ(granted & WRITE_DAC, 0u);
    EXPECT_NE(granted & FILE_WRITE_DATA, 0u);
}

TEST(KernelSecurityTest, EntriesAreWeighedInOrderAndANullDaclAdmitsEveryone) {
    standin::DeviceSecurity security;
    standin::AccessEntry deny;
    deny.allow = false;
    deny.mask = FILE_WRITE_DATA;
    deny.sid.assign(kAdminsSid, kAdminsSid + sizeof kAdminsSid);
    standin::AccessEntry allow;
    allow.mask = FILE_ALL_ACCESS;
    allow.sid.assign(kWorldSid, kWorldSid + sizeof kWorldSid);
    security.entries = {deny, allow};
    EXPECT_EQ(Check(security, CallerToken::Administrator, FILE_WRITE_DATA), STATUS_ACCESS_DENIED);
    EXPECT_EQ(Check(security, CallerToken::Administrator, FILE_READ_DATA), STATUS_SUCCESS);
    EXPECT_EQ(Check(security, CallerToken::User, FILE_WRITE_DATA), STATUS_SUCCESS);
    security.entries = {allow, deny};  // allowed before the denial is met
    EXPECT_EQ(Check(security, CallerToken::Administrator, FILE_WRITE_DATA), STATUS_SUCCESS);

    security.entries.clear();  // an empty DACL grants nothing
    EXPECT_EQ(Check(security, CallerToken::System, FILE_READ_DATA), STATUS_ACCESS_DENIED);
    security.nullDacl = true;
    EXPECT_EQ(Check(security, CallerToken::User, GENERIC_ALL), STATUS_SUCCESS);
}

TEST(KernelSecurityTest, AclRoutinesKeepToTheirBuffersAndRevisions) {
    SECURITY_DESCRIPTOR descriptor;
    EXPECT_EQ(RtlCreateSecurityDescriptor(&descriptor, 2), STATUS_UNKNOWN_REVISION);
    ASSERT_EQ(RtlCreateSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION), STATUS_SUCCESS);

    alignas(4) unsigned char buffer[64];
    PACL acl = reinterpret_cast<PACL>(buffer);
    EXPECT_EQ(RtlCreateAcl(acl, sizeof(ACL) - 1, ACL_REVISION), STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(RtlCreateAcl(acl, sizeof buffer, 9), STATUS_INVALID_PARAMETER);
    // Room for the header and one entry with the SYSTEM SID (8 + 20 bytes), not two.
    ASSERT_EQ(RtlCreateAcl(acl, 8 + 20 + 8, ACL_REVISION), STATUS_SUCCESS);
    EXPECT_EQ(RtlAddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, (PSID)kSystemSid), STATUS_SUCCESS);
    EXPECT_EQ(RtlAddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, (PSID)kAdminsSid),
              STATUS_ALLOTTED_SPACE_EXCEEDED);
    EXPECT_EQ(acl->AceCount, 1);
    unsigned char badSid[12] = {2, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};  // revision 2
    EXPECT_EQ(RtlAddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, badSid), STATUS_INVALID_SID);
    EXPECT_EQ(RtlAddAccessAllowedAce(acl, 5, FILE_ALL_ACCESS, (PSID)kSystemSid), STATUS_REVISION_MISMATCH);
    EXPECT_EQ(acl->AceCount, 1);

    // A DACL set, then taken away: only the flag goes, the pointer stays.
    ASSERT_EQ(RtlSetDaclSecurityDescriptor(&descriptor, TRUE, acl, TRUE), STATUS_SUCCESS);
    EXPECT_EQ(descriptor.Control, SE_DACL_PRESENT | SE_DACL_DEFAULTED);
    ASSERT_EQ(RtlSetDaclSecurityDescriptor(&descriptor, FALSE, NULL, FALSE), STATUS_SUCCESS);
    EXPECT_EQ(descriptor.Control & SE_DACL_PRESENT, 0);
    EXPECT_EQ(descriptor.Dacl, acl);
    descriptor.Control |= SE_SELF_RELATIVE;
    EXPECT_EQ(RtlSetDaclSecurityDescriptor(&descriptor, TRUE, acl, FALSE), STATUS_INVALID_SECURITY_DESCR);

    std::vector<standin::AccessEntry> entries;
    ASSERT_TRUE(standin::ReadDacl(acl, &entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].mask, static_cast<ACCESS_MASK>(FILE_ALL_ACCESS));
    EXPECT_EQ(entries[0].sid, std::vector<uint8_t>(kSystemSid, kSystemSid + sizeof kSystemSid));
    acl->AceCount = 3;  // entries running past the ACL's size
    EXPECT_FALSE(standin::ReadDacl(acl, &entries));
}

// A device of the loaded driver: a kernel handle without WRITE_DAC cannot
// change its DACL, a malformed DACL is refused and leaves the old one, and a
// handle closed twice is a driver fault.
class KernelHandleTest : public DriverTest {
protected:
    PDEVICE_OBJECT Device() { return driver_ == nullptr ? nullptr : driver_->object.DeviceObject; }
    // A kernel handle to the driver's device with `access`.
    void OpenKernelHandle(ACCESS_MASK access, HANDLE* handle) {
        ASSERT_NE(Device(), nullptr);
        ASSERT_EQ(ObOpenObjectByPointer(Device(), OBJ_KERNEL_HANDLE, NULL, access, NULL, KernelMode, handle),
                  STATUS_SUCCESS);
    }
};

TEST_F(KernelHandleTest, SettingADaclNeedsWriteDacAndAWellFormedAcl) {
    HANDLE reader = NULL;
    ASSERT_NO_FATAL_FAILURE(OpenKernelHandle(READ_CONTROL, &reader));
    SECURITY_DESCRIPTOR descriptor;
    RtlCreateSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    RtlSetDaclSecurityDescriptor(&descriptor, TRUE, NULL, FALSE);  // NULL DACL: everyone
    EXPECT_EQ(ZwSetSecurityObject(reader, DACL_SECURITY_INFORMATION, &descriptor), STATUS_ACCESS_DENIED);
    EXPECT_EQ(ZwClose(reader), STATUS_SUCCESS);

    HANDLE writer = NULL;
    ASSERT_NO_FATAL_FAILURE(OpenKernelHandle(WRITE_DAC, &writer));
    alignas(4) unsigned char buffer[16];
    PACL acl = reinterpret_cast<PACL>(buffer);
    ASSERT_EQ(RtlCreateAcl(acl, sizeof buffer, ACL_REVISION), STATUS_SUCCESS);
    acl->AceCount = 1;  // an entry that is not there
    RtlSetDaclSecurityDescriptor(&descriptor, TRUE, acl, FALSE);
    EXPECT_EQ(ZwSetSecurityObject(writer, DACL_SECURITY_INFORMATION, &descriptor), STATUS_INVALID_ACL);
    EXPECT_EQ(ZwSetSecurityObject(writer, OWNER_SECURITY_INFORMATION, &descriptor), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(ZwClose(writer), STATUS_SUCCESS);

    // The driver's DACL still stands: a user is refused.
    standin::SetCallerToken(CallerToken::User);
    standin::OpenFile* file = nullptr;
    EXPECT_EQ(standin::OpenDevice(L"\\??\\QuorVenal", FILE_GENERIC_READ, &file), STATUS_ACCESS_DENIED);
    standin::SetCallerToken(CallerToken::Administrator);

    uint64_t faults = standin::GetKernelCounters().driverFaults;
    EXPECT_EQ(ZwClose(writer), STATUS_INVALID_HANDLE);
    EXPECT_EQ(standin::GetKernelCounters().driverFaults, faults + 1);
    EXPECT_EQ(standin::OpenKernelHandleCount(), 0u);
}

// The object routines keep their level: above PASSIVE_LEVEL a kernel handle
// is not handed out, and setting a DACL is a fault that is still carried out.
TEST_F(KernelHandleTest, ObjectRoutinesAboveTheirLevelAreFaults) {
    HANDLE writer = NULL;
    ASSERT_NO_FATAL_FAILURE(OpenKernelHandle(WRITE_DAC, &writer));
    SECURITY_DESCRIPTOR descriptor;
    RtlCreateSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    alignas(4) unsigned char buffer[64];
    PACL acl = reinterpret_cast<PACL>(buffer);
    ASSERT_EQ(RtlCreateAcl(acl, sizeof buffer, ACL_REVISION), STATUS_SUCCESS);
    ASSERT_EQ(RtlAddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, (PSID)kSystemSid), STATUS_SUCCESS);
    RtlSetDaclSecurityDescriptor(&descriptor, TRUE, acl, FALSE);

    standin::ResetKernelCounters();
    KIRQL previous;
    KeRaiseIrql(DISPATCH_LEVEL, &previous);
    HANDLE refused = reinterpret_cast<HANDLE>(1);
    EXPECT_EQ(ObOpenObjectByPointer(Device(), OBJ_KERNEL_HANDLE, NULL, WRITE_DAC, NULL, KernelMode, &refused),
              STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(refused, (HANDLE)NULL);
    EXPECT_EQ(ZwSetSecurityObject(writer, DACL_SECURITY_INFORMATION, &descriptor), STATUS_SUCCESS);
    KeLowerIrql(previous);
    EXPECT_EQ(standin::GetKernelCounters().irqlFaults, 2u);
    EXPECT_EQ(standin::GetKernelCounters().driverFaults, 2u);
    standin::ResetKernelCounters();  // the faults were this test's own doing
    EXPECT_EQ(ZwClose(writer), STATUS_SUCCESS);
    EXPECT_EQ(standin::OpenKernelHandleCount(), 0u);

    // The DACL set at DISPATCH_LEVEL stands: it names SYSTEM alone.
    standin::OpenFile* file = nullptr;
    EXPECT_EQ(standin::OpenDevice(L"\\??\\QuorVenal", FILE_GENERIC_READ, &file), STATUS_ACCESS_DENIED);
}

// What the I/O manager hands the driver at IRP_MJ_CREATE, as IopParseDevice
// does: DesiredAccess is what was asked (generic rights mapped, before the
// check), AccessState->PreviouslyGrantedAccess what the check granted, and
// the file object's FileName what follows the device's name.
struct SeenCreate {
    ACCESS_MASK desired = 0;
    bool hasState = false;
    ACCESS_MASK granted = 0;
    std::wstring fileName;
    bool related = false;
};
SeenCreate gSeen;
PDRIVER_DISPATCH gDriversCreate;

NTSTATUS NTAPI NoteCreate(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (stack->MajorFunction == IRP_MJ_CREATE) {
        PIO_SECURITY_CONTEXT context = stack->Parameters.Create.SecurityContext;
        gSeen.desired = context->DesiredAccess;
        gSeen.hasState = context->AccessState != NULL;
        gSeen.granted = gSeen.hasState ? context->AccessState->PreviouslyGrantedAccess : 0;
        gSeen.fileName = standin::FromUnicodeString(&stack->FileObject->FileName);
        gSeen.related = stack->FileObject->RelatedFileObject != NULL;
    }
    return gDriversCreate(device, irp);
}

class CreateContextTest : public DriverTest {
protected:
    void SetUp() override {
        DriverTest::SetUp();
        gDriversCreate = driver_->object.MajorFunction[IRP_MJ_CREATE];
        driver_->object.MajorFunction[IRP_MJ_CREATE] = NoteCreate;
    }
    void TearDown() override {
        driver_->object.MajorFunction[IRP_MJ_CREATE] = gDriversCreate;
        driver_->object.DeviceObject->Characteristics |= FILE_DEVICE_SECURE_OPEN;
        standin::SetCallerToken(CallerToken::Administrator);
        DriverTest::TearDown();
    }
    NTSTATUS Open(const wchar_t* name, ACCESS_MASK access) {
        gSeen = SeenCreate();
        standin::OpenFile* file = nullptr;
        NTSTATUS status = standin::OpenDevice(name, access, &file);
        standin::CloseDevice(file);
        return status;
    }
};

TEST_F(CreateContextTest, DesiredAccessIsWhatWasAskedAndTheGrantIsInTheAccessState) {
    ASSERT_EQ(Open(L"\\??\\QuorVenal", GENERIC_READ | GENERIC_WRITE), STATUS_SUCCESS);
    EXPECT_EQ(gSeen.desired, static_cast<ACCESS_MASK>(FILE_GENERIC_READ | FILE_GENERIC_WRITE));
    ASSERT_TRUE(gSeen.hasState);
    EXPECT_EQ(gSeen.granted, static_cast<ACCESS_MASK>(FILE_GENERIC_READ | FILE_GENERIC_WRITE));
    EXPECT_EQ(gSeen.fileName, L"");

    ASSERT_EQ(Open(L"\\??\\QuorVenal", MAXIMUM_ALLOWED), STATUS_SUCCESS);
    EXPECT_EQ(gSeen.desired, static_cast<ACCESS_MASK>(MAXIMUM_ALLOWED)) << "the bit alone, as asked";
    EXPECT_EQ(gSeen.granted, static_cast<ACCESS_MASK>(FILE_ALL_ACCESS))
        << "what the DACL gives Administrators";

    ASSERT_EQ(Open(L"\\??\\QuorVenal\\Below\\x", FILE_GENERIC_READ), STATUS_SUCCESS);
    EXPECT_EQ(gSeen.fileName, L"\\Below\\x") << "the caller's spelling";
    EXPECT_EQ(gSeen.granted, static_cast<ACCESS_MASK>(FILE_GENERIC_READ))
        << "checked: the device asks for secure opens";
}

// Without FILE_DEVICE_SECURE_OPEN a name below the device is checked only
// for traverse: a user reaches the driver, and nothing is granted.
TEST_F(CreateContextTest, WithoutSecureOpensANameBelowTheDeviceIsNotChecked) {
    driver_->object.DeviceObject->Characteristics &= ~FILE_DEVICE_SECURE_OPEN;
    standin::SetCallerToken(CallerToken::User);
    EXPECT_EQ(Open(L"\\??\\QuorVenal", GENERIC_READ), STATUS_ACCESS_DENIED) << "the device itself still is";
    ASSERT_EQ(Open(L"\\??\\QuorVenal\\x", GENERIC_READ | GENERIC_WRITE), STATUS_SUCCESS);
    EXPECT_EQ(gSeen.desired, static_cast<ACCESS_MASK>(FILE_GENERIC_READ | FILE_GENERIC_WRITE));
    EXPECT_EQ(gSeen.granted, 0u);
    EXPECT_EQ(gSeen.fileName, L"\\x");

    standin::SetCallerToken(CallerToken::Administrator);
    standin::OpenFile* device = nullptr;
    ASSERT_EQ(standin::OpenDevice(L"\\??\\QuorVenal", FILE_GENERIC_READ, &device), STATUS_SUCCESS);
    standin::SetCallerToken(CallerToken::User);
    gSeen = SeenCreate();
    standin::OpenFile* relative = nullptr;
    EXPECT_EQ(standin::OpenRelative(device, L"y", GENERIC_READ, &relative), STATUS_SUCCESS);
    EXPECT_TRUE(gSeen.related);
    EXPECT_EQ(gSeen.fileName, L"y");
    standin::CloseDevice(relative);
    standin::CloseDevice(device);
}

// A code that names an access is checked against what the handle holds.
TEST_F(CreateContextTest, ACodeThatNamesAnAccessNeedsItOnTheHandle) {
    standin::OpenFile* reader = nullptr;
    ASSERT_EQ(standin::OpenDevice(L"\\??\\QuorVenal", FILE_GENERIC_READ, &reader), STATUS_SUCCESS);
    EXPECT_EQ(standin::HandleGrantedAccess(reader), static_cast<ACCESS_MASK>(FILE_GENERIC_READ));
    ConfigRequest request;
    std::memset(&request, 0, sizeof request);
    ULONG returned = 0;
    const ULONG writeAccessCode = CTL_CODE(QUORVENAL_DEVICE_TYPE, 0x900, METHOD_BUFFERED, FILE_WRITE_ACCESS);
    const ULONG readAccessCode = CTL_CODE(QUORVENAL_DEVICE_TYPE, 0x900, METHOD_BUFFERED, FILE_READ_ACCESS);
    uint64_t completed = standin::GetKernelCounters().requestsCompleted;
    EXPECT_EQ(standin::DeviceControl(reader, writeAccessCode, &request, sizeof request, &request,
                                     sizeof request, &returned),
              STATUS_ACCESS_DENIED);
    EXPECT_EQ(standin::GetKernelCounters().requestsCompleted, completed) << "refused before the driver";
    EXPECT_EQ(standin::DeviceControl(reader, readAccessCode, &request, sizeof request, &request,
                                     sizeof request, &returned),
              STATUS_INVALID_DEVICE_REQUEST)
        << "reached the driver, which does not serve the code";
    standin::CloseDevice(reader);
}

}  // namespace
}  // namespace qvtest
