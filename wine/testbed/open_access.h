// The access a client asked for when it opened a device: Wine's I/O manager
// does not hand it to the driver (an IRP_MJ_CREATE comes without a security
// context), so the client's part of the test bed (qvaccess.dll) announces
// each open through the hardware pipe just before it makes it, and the
// driver host's part gives it to the driver with the create request.
#ifndef QUORVENAL_TESTBED_OPEN_ACCESS_H
#define QUORVENAL_TESTBED_OPEN_ACCESS_H

#include <stdint.h>

// Records that process `pid` is about to open a device with `access`; it
// replaces what the process announced before (a thread opens one at a time).
void AnnounceOpen(uint32_t pid, uint32_t access);
// The access process `pid` announced last, taken away; false when none.
bool TakeAnnouncedOpen(uint32_t pid, uint32_t* access);

#endif
