#include "security_rules.h"

namespace kernel_rules {

namespace {

const uint32_t kGenericRead = 0x80000000u;
const uint32_t kGenericWrite = 0x40000000u;
const uint32_t kGenericExecute = 0x20000000u;
const uint32_t kGenericAll = 0x10000000u;
const uint32_t kFileGenericRead = 0x00120089u;
const uint32_t kFileGenericWrite = 0x00120116u;
const uint32_t kFileGenericExecute = 0x001200A0u;
const uint32_t kFileAllAccess = 0x001F01FFu;

const size_t kAclHeaderBytes = 8;  // revision, padding, size, entry count, padding
const size_t kAceHeaderBytes = 4;  // type, flags, size

unsigned ReadWord(const uint8_t* at) { return at[0] | at[1] << 8; }

}  // namespace

uint32_t MapGenericForFiles(uint32_t access) {
    uint32_t mapped = access & ~(kGenericRead | kGenericWrite | kGenericExecute | kGenericAll);
    if (access & kGenericRead) mapped |= kFileGenericRead;
    if (access & kGenericWrite) mapped |= kFileGenericWrite;
    if (access & kGenericExecute) mapped |= kFileGenericExecute;
    if (access & kGenericAll) mapped |= kFileAllAccess;
    return mapped;
}

size_t SidLength(const void* sid) { return 8 + 4 * static_cast<size_t>(static_cast<const uint8_t*>(sid)[1]); }

bool SidValid(const void* sid, size_t limit) {
    if (sid == nullptr || limit < 8) return false;
    const uint8_t* bytes = static_cast<const uint8_t*>(sid);
    if (bytes[0] != 1 || bytes[1] > 15) return false;  // SID_REVISION, SID_MAX_SUB_AUTHORITIES
    return SidLength(sid) <= limit;
}

bool AclEntriesEnd(const void* acl, size_t* end) {
    const uint8_t* bytes = static_cast<const uint8_t*>(acl);
    const unsigned revision = bytes[0];
    const size_t size = ReadWord(bytes + 2);
    const unsigned count = ReadWord(bytes + 4);
    if (revision < 2 || revision > 4 || size < kAclHeaderBytes) return false;
    size_t at = kAclHeaderBytes;
    for (unsigned i = 0; i < count; ++i) {
        if (at + kAceHeaderBytes > size) return false;
        const size_t entry = ReadWord(bytes + at + 2);
        if (entry < kAceHeaderBytes || at + entry > size) return false;
        at += entry;
    }
    *end = at;
    return true;
}

}  // namespace kernel_rules
