#include "processors.h"

#include "driver_image.h"
#include "irql.h"
#include "kernel_exports.h"
#include "pci_ports.h"
#include "text.h"

namespace {

enum ProbeStage { kProbeOff, kProbeArmed, kProbeAddressGiven, kProbeWaitingForBroadcast, kProbeDone };

ProbeStage gStage = kProbeOff;
ULONG gDriverAddress;
ULONG gHalAddress;
ProbeOutcome gOutcome;
bool gHeld;
bool gAsOnXp;
BroadcastCounts gCounts;

void HalReadAtOnce() {
    __outdword(kConfigAddressPort, gHalAddress);
    gOutcome.halRead = __indword(kConfigDataPort);
    __outdword(kConfigAddressPort, 0);
    gOutcome.done = true;
    gStage = kProbeDone;
}

}  // namespace

void ProbeArm(ULONG driverAddress, ULONG halAddress) {
    gDriverAddress = driverAddress;
    gHalAddress = halAddress;
    memset(&gOutcome, 0, sizeof gOutcome);
    gStage = kProbeArmed;
}

void ProbeDisarm() { gStage = kProbeOff; }

ProbeOutcome ProbeResult() { return gOutcome; }

void ProbeBeforeDriverPortAccess(USHORT port, bool write) {
    if (gHeld) ++gCounts.driverPortsInside;
    if (gStage == kProbeAddressGiven) {
        gOutcome.halRead = __indword(kConfigDataPort);
        __outdword(kConfigAddressPort, 0);
        gOutcome.done = true;
        gStage = kProbeDone;
        return;
    }
    if (gStage != kProbeArmed || !write || port != kConfigDataPort) return;
    if (__indword(kConfigAddressPort) != gDriverAddress) return;
    gOutcome.triggered = true;
    if (gHeld) {
        gOutcome.deferred = true;
        gStage = kProbeWaitingForBroadcast;
        return;
    }
    __outdword(kConfigAddressPort, gHalAddress);
    gStage = kProbeAddressGiven;
}

BroadcastCounts BroadcastCountsNow() { return gCounts; }

void BroadcastResetCounts() { memset(&gCounts, 0, sizeof gCounts); }

void SystemRoutinesAsOnXp(bool xp) { gAsOnXp = xp; }

extern "C" {

// Runs the routine on this processor at IPI_LEVEL; the other processor is
// held meanwhile and makes any HAL read it was given afterwards.
ULONG_PTR NTAPI KeIpiGenericCall(PKIPI_BROADCAST_WORKER BroadcastFunction, ULONG_PTR Context) {
    kernel_rules::EnterRoutine(kernel_rules::Routine::KeIpiGenericCall);
    ++gCounts.broadcasts;
    KIRQL previous = kernel_rules::ExchangeLevel(IPI_LEVEL);
    gHeld = true;
    ULONG_PTR result = CallDriverCallback(BroadcastFunction, Context);
    gHeld = false;
    kernel_rules::ExchangeLevel(previous);
    if (gStage == kProbeWaitingForBroadcast) HalReadAtOnce();
    return result;
}

// The name, in ASCII, looked up among the kernel's exports, then the HAL's.
PVOID NTAPI MmGetSystemRoutineAddress(PUNICODE_STRING SystemRoutineName) {
    if (!kernel_rules::EnterRoutine(kernel_rules::Routine::MmGetSystemRoutineAddress)) return nullptr;
    ++gCounts.lookups;
    char name[64];
    ULONG length = SystemRoutineName != nullptr ? SystemRoutineName->Length / sizeof(WCHAR) : 0;
    if (SystemRoutineName == nullptr || SystemRoutineName->Buffer == nullptr || length + 1 > sizeof name) {
        return nullptr;
    }
    for (ULONG i = 0; i < length; ++i) {
        WCHAR c = SystemRoutineName->Buffer[i];
        if (c == 0 || c > 0x7F) return nullptr;
        name[i] = (char)c;
    }
    name[length] = 0;
    if (TextEqual(name, "KeIpiGenericCall")) {
        ++gCounts.broadcastLookups;
        if (gAsOnXp) return nullptr;
    }
    const void* address = KernelExportAddress("ntoskrnl.exe", name);
    if (address == nullptr) address = KernelExportAddress("hal.dll", name);
    return (PVOID)address;
}

}  // extern "C"
