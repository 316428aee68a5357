// The access a client asked for when it opened a device: Wine's I/O manager
// does not hand it to the driver (an IRP_MJ_CREATE comes without a security
// context), so the client's part of the test bed (qvaccess.dll) announces
// each open through the hardware pipe just before it makes it, and the
// driver host's part gives it to the driver with the create request.
//
// Wine's open does not wait for the driver's create: the server queues the
// create request and hands the client its handle at once, so a client's
// next open can be announced before the driver host has served the create
// of the one before. Announcements therefore queue up per process, and each
// create takes the oldest: the server queues a process's creates in the
// order of its opens, which is the order of its announcements. An open that
// fails withdraws its announcement (no create comes for it).
#ifndef QUORVENAL_TESTBED_OPEN_ACCESS_H
#define QUORVENAL_TESTBED_OPEN_ACCESS_H

#include <stdint.h>

// Records that process `pid` is about to open a device with `access`.
void AnnounceOpen(uint32_t pid, uint32_t access);
// Process `pid`'s last announcement, taken back: its open failed.
void WithdrawOpen(uint32_t pid);
// The oldest access process `pid` announced and no create has taken yet,
// taken away; false when none.
bool TakeAnnouncedOpen(uint32_t pid, uint32_t* access);

#endif
