// The machine's other processor, as the bed stands it in (the test kernel
// runs on one): it takes part in every KeIpiGenericCall, held inside the
// broadcast while the routine runs on this processor, and a probe can make
// it run a HAL configuration read in the middle of the driver's port
// sequences: its address write just before the driver's data write for a
// chosen address, the rest of its cycle before the driver's next port
// access. Held in a broadcast, it makes the whole read after the broadcast,
// as a processor inside its HAL cycle enters the broadcast only after it.
// Also MmGetSystemRoutineAddress, which can answer as Windows XP's kernel
// does (no KeIpiGenericCall).
#ifndef QVBARE_PROCESSORS_H
#define QVBARE_PROCESSORS_H

#include <ntddk.h>

struct ProbeOutcome {
    bool triggered;  // the driver's data write for the chosen address came
    bool deferred;   // the other processor was held in a broadcast then
    bool done;       // its HAL read is over
    ULONG halRead;   // what the HAL read got
};

// Arms the probe: driverAddress is the 0xCF8 value at whose data write the
// other processor writes halAddress into 0xCF8.
void ProbeArm(ULONG driverAddress, ULONG halAddress);
void ProbeDisarm();
ProbeOutcome ProbeResult();

// Called by the fault handler before it makes a port access of the driver.
void ProbeBeforeDriverPortAccess(USHORT port, bool write);

struct BroadcastCounts {
    ULONG broadcasts;         // KeIpiGenericCall calls
    ULONG driverPortsInside;  // the driver's port accesses inside a broadcast
    ULONG lookups;            // MmGetSystemRoutineAddress calls
    ULONG broadcastLookups;   // of them for KeIpiGenericCall
};
BroadcastCounts BroadcastCountsNow();
void BroadcastResetCounts();

// Makes MmGetSystemRoutineAddress answer as Windows XP's kernel, which does
// not export KeIpiGenericCall, or as later ones.
void SystemRoutinesAsOnXp(bool xp);

#endif
