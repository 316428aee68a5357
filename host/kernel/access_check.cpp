// Tokens, the default device descriptor, and the access check of an open, as
// Windows makes it: entries in order, a denying entry for a right still asked
// for refuses the open, the open succeeds once every right asked for has been
// allowed by an entry whose SID the token holds.
#include "kernel/security.h"

#include <atomic>
#include <cstring>

#include "kernel_rules/security_rules.h"

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
    entry.mask = kernel_rules::MapGenericForFiles(mask);
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

NTSTATUS CheckAccess(const DeviceSecurity& security, CallerToken token, ACCESS_MASK desired,
                     ACCESS_MASK* granted) {
    *granted = 0;
    ACCESS_MASK wanted = kernel_rules::MapGenericForFiles(desired);
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

bool ReadDacl(const ACL* acl, std::vector<AccessEntry>* entries) {
    entries->clear();
    size_t end = 0;
    if (!kernel_rules::AclEntriesEnd(acl, &end)) return false;
    const uint8_t* start = reinterpret_cast<const uint8_t*>(acl);
    size_t offset = sizeof(ACL);
    for (unsigned i = 0; i < acl->AceCount; ++i) {
        ACE_HEADER header;
        std::memcpy(&header, start + offset, sizeof header);
        if (header.AceType == ACCESS_ALLOWED_ACE_TYPE || header.AceType == ACCESS_DENIED_ACE_TYPE) {
            const size_t sidOffset = offsetof(ACCESS_ALLOWED_ACE, SidStart);
            if (header.AceSize < sidOffset) return false;
            const uint8_t* sid = start + offset + sidOffset;
            if (!kernel_rules::SidValid(sid, header.AceSize - sidOffset)) return false;
            AccessEntry entry;
            entry.allow = header.AceType == ACCESS_ALLOWED_ACE_TYPE;
            ACCESS_MASK mask;
            std::memcpy(&mask, start + offset + sizeof(ACE_HEADER), sizeof mask);
            entry.mask = kernel_rules::MapGenericForFiles(mask);
            entry.sid.assign(sid, sid + kernel_rules::SidLength(sid));
            entries->push_back(entry);
        }
        // Other entry types (audit, object, callback) do not decide an open here.
        offset += header.AceSize;
    }
    return true;
}

}  // namespace standin
