// The stand-in kernel's security model for devices: the token of the calling
// process (SYSTEM, an administrator, an ordinary user), a device's security
// (Windows' default descriptor until its driver sets a DACL), and the access
// check the I/O manager makes when a device is opened.
#ifndef STANDIN_SECURITY_H
#define STANDIN_SECURITY_H

#include <ntddk.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace standin {

// Whose token the calling process runs with. An administrator's token is
// the elevated one (Administrators enabled).
enum class CallerToken { System, Administrator, User };
void SetCallerToken(CallerToken token);
CallerToken CurrentCallerToken();

// One access-control entry as a device keeps it: the SID's bytes and the
// mask with generic rights already mapped to file rights.
struct AccessEntry {
    bool allow = true;
    ACCESS_MASK mask = 0;
    std::vector<uint8_t> sid;
};

// A device's discretionary access. Devices start with Windows' default
// descriptor for a device created without one: all access for SYSTEM and
// Administrators, GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE for
// everyone else. A NULL DACL (present but empty pointer) grants everyone
// everything; an empty DACL grants nothing.
struct DeviceSecurity {
    bool nullDacl = false;
    std::vector<AccessEntry> entries;
};
DeviceSecurity DefaultDeviceSecurity();

// The access check of an open: STATUS_SUCCESS with *granted the access
// granted (MAXIMUM_ALLOWED resolved), or STATUS_ACCESS_DENIED.
NTSTATUS CheckAccess(const DeviceSecurity& security, CallerToken token, ACCESS_MASK desired,
                     ACCESS_MASK* granted);

// Reads a DACL in its Windows layout into entries; false when it is malformed.
bool ReadDacl(const ACL* acl, std::vector<AccessEntry>* entries);

// Kernel handles that drivers opened and have not closed.
size_t OpenKernelHandleCount();

}  // namespace standin

#endif
