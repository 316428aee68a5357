// Tokens, the default device descriptor, and the access check of an open, as
// Windows makes it: entries in order, a denying entry for a right still asked
// for refuses the open, the open succeeds once every right asked for has been
// allowed by an entry whose SID the token holds.
#include "kernel/security.h"

#include <atomic>
#include <cstring>

namespace standin {
namespace {

std::atomic<CallerToken> callerToken{CallerToken::Administrator};

std::vector<uint8_t> MakeSid(uint8_t authority, std::initializer_list<uint32_t> subs) {
    std::vector<uint8_t> sid = {1, static_cast<uint8_t>(subs.size()), 0, 0, 0, 0, 0, authority};
    for (uint32_t sub : subs) {
        for (int i = 0; i < 4; ++i) sid.push_back(static_cast<uint8_t>(sub >> (8 * i)));
    }
    return sid;
}

const std::vector<uint8_t>& WorldSid() {
    static auto s = MakeSid(1, {0});
    return s;
}
const std::vector<uint8_t>& SystemSid() {
    static auto s = MakeSid(5, {18});
    return s;
}
const std::vector<uint8_t>& AdminsSid() {
    static auto s = MakeSid(5, {32, 544});
    return s;
}
const std::vector<uint8_t>& UsersSid() {
    static auto s = MakeSid(5, {32, 545});
    return s;
}
const std::vector<uint8_t>& AuthenticatedSid() {
    static auto s = MakeSid(5, {11});
    return s;
}
const std::vector<uint8_t>& AdministratorAccountSid() {
    static auto s = MakeSid(5, {21, 1111, 2222, 3333, 1000});
    return s;
}
const std::vector<uint8_t>& UserAccountSid() {
    static auto s = MakeSid(5, {21, 1111, 2222, 3333, 1001});
    return s;
}

std::vector<const std::vector<uint8_t>*> TokenSids(CallerToken token) {
    switch (token) {
        case CallerToken::System: return {&SystemSid(), &AdminsSid(), &WorldSid(), &AuthenticatedSid()};
        case CallerToken::Administrator:
            return {&AdministratorAccountSid(), &AdminsSid(), &UsersSid(), &WorldSid(), &AuthenticatedSid()};
        case CallerToken::User: return {&UserAccountSid(), &UsersSid(), &WorldSid(), &AuthenticatedSid()};
    }
    return {};
}

bool TokenHolds(CallerToken token, const std::vector<uint8_t>& sid) {
    for (const std::vector<uint8_t>* held : TokenSids(token)) {
        if (*held == sid) return true;
    }
    return false;
}

AccessEntry Allow(const std::vector<uint8_t>& sid, ACCESS_MASK mask) {
    AccessEntry entry;
    entry.mask = MapGenericFileAccess(mask);
    entry.sid = sid;
    return entry;
}

}  // namespace

void SetCallerToken(CallerToken token) { callerToken = token; }

CallerToken CurrentCallerToken() { return callerToken.load(); }

DeviceSecurity DefaultDeviceSecurity() {
    DeviceSecurity security;
    security.entries.push_back(Allow(SystemSid(), GENERIC_ALL));
    security.entries.push_back(Allow(AdminsSid(), GENERIC_ALL));
    security.entries.push_back(Allow(WorldSid(), GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE));
    return security;
}

ACCESS_MASK MapGenericFileAccess(ACCESS_MASK access) {
    ACCESS_MASK mapped = access & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
    if (access & GENERIC_READ) mapped |= FILE_GENERIC_READ;
    if (access & GENERIC_WRITE) mapped |= FILE_GENERIC_WRITE;
    if (access & GENERIC_EXECUTE) mapped |= FILE_GENERIC_EXECUTE;
    if (access & GENERIC_ALL) mapped |= FILE_ALL_ACCESS;
    return mapped;
}

NTSTATUS CheckAccess(const DeviceSecurity& security, CallerToken token, ACCESS_MASK desired,
                     ACCESS_MASK* granted) {
    *granted = 0;
    ACCESS_MASK wanted = MapGenericFileAccess(desired);
    bool maximum = (wanted & MAXIMUM_ALLOWED) != 0;
    wanted &= ~static_cast<ACCESS_MASK>(MAXIMUM_ALLOWED);
    if (security.nullDacl) {
        *granted = maximum ? (FILE_ALL_ACCESS | wanted) : wanted;
        return STATUS_SUCCESS;
    }
    ACCESS_MASK allowed = 0;
    ACCESS_MASK denied = 0;
    for (const AccessEntry& entry : security.entries) {
        if (!TokenHolds(token, entry.sid)) continue;
        if (entry.allow) {
            allowed |= entry.mask & ~denied;
        } else {
            denied |= entry.mask & ~allowed;
        }
        if (!maximum && (wanted & ~allowed) == 0) break;  // every right asked for is allowed
    }
    if ((wanted & ~allowed) != 0) return STATUS_ACCESS_DENIED;
    if (maximum && allowed == 0 && wanted == 0) return STATUS_ACCESS_DENIED;
    *granted = maximum ? allowed : wanted;
    return STATUS_SUCCESS;
}

size_t SidLength(const void* sid) {
    const uint8_t* bytes = static_cast<const uint8_t*>(sid);
    return 8 + 4 * static_cast<size_t>(bytes[1]);
}

bool SidIsValid(const void* sid, size_t limit) {
    if (sid == nullptr || limit < 8) return false;
    const uint8_t* bytes = static_cast<const uint8_t*>(sid);
    if (bytes[0] != 1 || bytes[1] > 15) return false;  // SID_REVISION, SID_MAX_SUB_AUTHORITIES
    return SidLength(sid) <= limit;
}

bool ReadDacl(const ACL* acl, std::vector<AccessEntry>* entries) {
    entries->clear();
    if (acl->AclRevision < 2 || acl->AclRevision > 4 || acl->AclSize < sizeof(ACL)) return false;
    const uint8_t* start = reinterpret_cast<const uint8_t*>(acl);
    size_t offset = sizeof(ACL);
    for (unsigned i = 0; i < acl->AceCount; ++i) {
        if (offset + sizeof(ACE_HEADER) > acl->AclSize) return false;
        ACE_HEADER header;
        std::memcpy(&header, start + offset, sizeof header);
        if (header.AceSize < sizeof(ACE_HEADER) || offset + header.AceSize > acl->AclSize) {
            return false;
        }
        if (header.AceType == ACCESS_ALLOWED_ACE_TYPE || header.AceType == ACCESS_DENIED_ACE_TYPE) {
            const size_t sidOffset = offsetof(ACCESS_ALLOWED_ACE, SidStart);
            if (header.AceSize < sidOffset) return false;
            const uint8_t* sid = start + offset + sidOffset;
            if (!SidIsValid(sid, header.AceSize - sidOffset)) return false;
            AccessEntry entry;
            entry.allow = header.AceType == ACCESS_ALLOWED_ACE_TYPE;
            ACCESS_MASK mask;
            std::memcpy(&mask, start + offset + sizeof(ACE_HEADER), sizeof mask);
            entry.mask = MapGenericFileAccess(mask);
            entry.sid.assign(sid, sid + SidLength(sid));
            entries->push_back(entry);
        }
        // Other entry types (audit, object, callback) do not decide an open here.
        offset += header.AceSize;
    }
    return true;
}

}  // namespace standin
