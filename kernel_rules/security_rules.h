// The security layouts' rules, as the kernel's routines keep them: the file
// object type's mapping of generic rights, when a SID is well formed, and
// where an ACL's entries end. Plain bytes and masks, no kernel header: the
// stand-in, the QEMU kernel and the Wine bed's create requests use them.
// security_routines.cpp builds the kernel's Rtl security routines on them.
#ifndef KERNEL_RULES_SECURITY_RULES_H
#define KERNEL_RULES_SECURITY_RULES_H

#include <stddef.h>
#include <stdint.h>

namespace kernel_rules {

// GENERIC_READ, _WRITE, _EXECUTE and _ALL mapped to the file rights they
// stand for (FILE_GENERIC_READ, ...), as the I/O manager maps them for a
// device's file objects; other bits are kept (MAXIMUM_ALLOWED among them).
uint32_t MapGenericForFiles(uint32_t access);

// A SID's length from its sub-authority count (8 + 4 per sub-authority).
size_t SidLength(const void* sid);
// Revision 1, at most 15 sub-authorities, and no longer than `limit` bytes.
bool SidValid(const void* sid, size_t limit);

// Where the entries of the ACL at `acl` end (from its start): false when
// its revision is not 2 to 4, its size is below the header's, or an entry
// runs past its size.
bool AclEntriesEnd(const void* acl, size_t* end);

}  // namespace kernel_rules

#endif
