// Hands the driver, with each IRP_MJ_CREATE that Wine sends without a
// security context, the one Windows would pass: the access the client
// announced (open_access.h), with the generic rights mapped for files as
// the I/O manager maps them. The driver's create routine is wrapped when its
// entry point has run; the entry point is wrapped when its image is loaded.
#ifndef QUORVENAL_TESTBED_CREATE_CONTEXT_H
#define QUORVENAL_TESTBED_CREATE_CONTEXT_H

// Takes `entry`, a driver image's entry point, and returns the routine to
// call in its place, or null when another image's entry is already wrapped
// (one driver a driver host).
void* WrapDriverEntry(void* entry);

#endif
