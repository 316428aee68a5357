// The kernel's routines that build a security descriptor and its DACL in
// the caller's memory, in their Windows layouts, with the checks and failure
// statuses Windows has. Compiled against the bed's own <ntddk.h>: the
// stand-in's (host layouts) or the QEMU kernel's (32-bit Windows layouts).
#include <ntddk.h>

#include "security_rules.h"

extern "C" {
NTSTATUS NTAPI RtlCreateAcl(PACL Acl, ULONG AclLength, ULONG AclRevision);
NTSTATUS NTAPI RtlAddAccessAllowedAce(PACL Acl, ULONG AceRevision, ACCESS_MASK AccessMask, PSID Sid);
}

namespace {

const NTSTATUS kSuccess = (NTSTATUS)0x00000000L;
const NTSTATUS kInvalidParameter = (NTSTATUS)0xC000000DL;
const NTSTATUS kBufferTooSmall = (NTSTATUS)0xC0000023L;
const NTSTATUS kRevisionMismatch = (NTSTATUS)0xC0000059L;
const NTSTATUS kUnknownRevision = (NTSTATUS)0xC0000058L;
const NTSTATUS kInvalidAcl = (NTSTATUS)0xC0000077L;
const NTSTATUS kInvalidSid = (NTSTATUS)0xC0000078L;
const NTSTATUS kInvalidSecurityDescr = (NTSTATUS)0xC0000079L;
const NTSTATUS kAllottedSpaceExceeded = (NTSTATUS)0xC0000099L;

const size_t kLongestSid = 8 + 4 * 15;
const size_t kAceHeaderAndMask = 8;

}  // namespace

extern "C" {

ULONG NTAPI RtlLengthSid(PSID Sid) { return static_cast<ULONG>(kernel_rules::SidLength(Sid)); }

NTSTATUS NTAPI RtlCreateSecurityDescriptor(PSECURITY_DESCRIPTOR SecurityDescriptor, ULONG Revision) {
    if (Revision != SECURITY_DESCRIPTOR_REVISION) return kUnknownRevision;
    PISECURITY_DESCRIPTOR descriptor = static_cast<PISECURITY_DESCRIPTOR>(SecurityDescriptor);
    __builtin_memset(descriptor, 0, sizeof *descriptor);
    descriptor->Revision = SECURITY_DESCRIPTOR_REVISION;
    return kSuccess;
}

// Without a DACL only the flag is cleared; the pointer stays as it was.
NTSTATUS NTAPI RtlSetDaclSecurityDescriptor(PSECURITY_DESCRIPTOR SecurityDescriptor, BOOLEAN DaclPresent,
                                            PACL Dacl, BOOLEAN DaclDefaulted) {
    PISECURITY_DESCRIPTOR descriptor = static_cast<PISECURITY_DESCRIPTOR>(SecurityDescriptor);
    if (descriptor->Revision != SECURITY_DESCRIPTOR_REVISION) return kUnknownRevision;
    if (descriptor->Control & SE_SELF_RELATIVE) return kInvalidSecurityDescr;
    if (!DaclPresent) {
        descriptor->Control &= ~SE_DACL_PRESENT;
        return kSuccess;
    }
    descriptor->Control |= SE_DACL_PRESENT;
    descriptor->Dacl = Dacl;
    if (DaclDefaulted) {
        descriptor->Control |= SE_DACL_DEFAULTED;
    } else {
        descriptor->Control &= ~SE_DACL_DEFAULTED;
    }
    return kSuccess;
}

NTSTATUS NTAPI RtlCreateAcl(PACL Acl, ULONG AclLength, ULONG AclRevision) {
    if (AclLength < sizeof(ACL)) return kBufferTooSmall;
    if (AclRevision < 2 || AclRevision > 4 || AclLength > 0xFFFF) return kInvalidParameter;
    __builtin_memset(Acl, 0, sizeof(ACL));
    Acl->AclRevision = static_cast<UCHAR>(AclRevision);
    Acl->AclSize = static_cast<USHORT>(AclLength & ~3u);
    return kSuccess;
}

NTSTATUS NTAPI RtlAddAccessAllowedAce(PACL Acl, ULONG AceRevision, ACCESS_MASK AccessMask, PSID Sid) {
    if (!kernel_rules::SidValid(Sid, kLongestSid)) return kInvalidSid;
    if (AceRevision < 2 || AceRevision > 4) return kRevisionMismatch;
    size_t end = 0;
    if (!kernel_rules::AclEntriesEnd(Acl, &end)) return kInvalidAcl;
    const size_t sidBytes = kernel_rules::SidLength(Sid);
    const size_t aceBytes = kAceHeaderAndMask + sidBytes;
    if (end + aceBytes > Acl->AclSize) return kAllottedSpaceExceeded;
    UCHAR* ace = reinterpret_cast<UCHAR*>(Acl) + end;
    ACE_HEADER header;
    header.AceType = ACCESS_ALLOWED_ACE_TYPE;
    header.AceFlags = 0;
    header.AceSize = static_cast<USHORT>(aceBytes);
    __builtin_memcpy(ace, &header, sizeof header);
    __builtin_memcpy(ace + sizeof header, &AccessMask, sizeof AccessMask);
    __builtin_memcpy(ace + kAceHeaderAndMask, Sid, sidBytes);
    ++Acl->AceCount;
    if (AceRevision > Acl->AclRevision) Acl->AclRevision = static_cast<UCHAR>(AceRevision);
    return kSuccess;
}

}  // extern "C"
