// The test kernel's object security: security descriptors and ACLs built in their Windows layouts, kernel
// handles to the device, and the DACL a driver sets on it, recorded for the
// checks and applied to the opens the test kernel's I/O manager makes.
#ifndef QVBARE_SECURITY_H
#define QVBARE_SECURITY_H

#include <ntifs.h>

const ULONG kMaxRecordedEntries = 4;

enum SidKind { kOtherSid = 0, kSystemSid, kAdminsSid, kWorldSid, kUsersSid };

struct SecurityRecord {
    bool daclSet;          // a DACL was applied to the device
    bool setWithoutLink;   // ... while the device had no link yet
    bool daclNull;         // the descriptor carried no DACL: everyone has all access
    ULONG entryCount;
    ULONG entryTypes[kMaxRecordedEntries];
    ACCESS_MASK entryMasks[kMaxRecordedEntries];  // generic rights mapped to file rights
    SidKind entrySids[kMaxRecordedEntries];
    ULONG handlesOpen;     // kernel handles opened and not closed
    ULONG badCalls;        // malformed calls: unknown handle or object, bad revision, ...
};

const SecurityRecord& SecurityState();
// The device is new (DriverEntry again): Windows' default security until a DACL is set.
void SecurityResetDevice();

// Whether the device's security lets a caller open it for `desired`. An
// administrator's token holds Administrators, Users and Everyone; an ordinary
// user's Users and Everyone. `granted` gets the access.
bool SecurityGrants(bool administrator, ACCESS_MASK desired, ACCESS_MASK* granted);

#endif
