// A window that ends below bus 255, on q35: the kernel shrinks the chipset's
// window to 128 MiB at its base 0xE0000000 (PCIEXBAR; buses 0..0x7f) and
// moves the root port in front of the second e1000e to bus 0x81, where the
// port pair still reaches it but the window does not: its place there is
// past the window's end. A fresh driver searching from 81:00.0 finds no base
// there; found from 00:00.0, the window serves bus 1 and refuses 81:00.0,
// and no byte of the extended write reaches any function.
//
// QEMU 7.2 keeps bits 27 and 26 of PCIEXBAR clear whatever the length, so a
// window between candidates (64 MiB at 0xF8000000) cannot be made here; the
// stand-in shows that case (WindowAt0xF8000000Test).
#include <ntddk.h>

#include "bed.h"
#include "checks.h"
#include "driver_image.h"
#include "hal_bus.h"
#include "io.h"
#include "mm.h"
#include "pci_ports.h"
#include "report.h"

namespace {

const ULONG kShortWindow = 0xE0000000;
const ULONG kBusPastTheEnd = 0x81;
const ULONG kPciExBar = 0x60;               // q35 host bridge: PCIEXBAR, low doubleword
const ULONG kPciExBar128MiB = 1u << 1 | 1;  // length 128 MiB, enabled

struct Twins {
    const FoundFunction* inWindow;  // stays where it is
    const FoundFunction* moved;     // its root port goes to bus 0x81
    ULONG rootDevice;
    ULONG rootFunction;
};

// Two functions of the same model behind their own root ports on bus 0.
bool FindTwins(Twins* twins) {
    Bed& bed = TheBed();
    for (ULONG i = 0; i < bed.foundCount; ++i) {
        for (ULONG j = i + 1; j < bed.foundCount; ++j) {
            const FoundFunction& a = bed.found[i];
            const FoundFunction& b = bed.found[j];
            if (a.bus == 0 || b.bus <= a.bus || memcmp(a.header, b.header, 4) != 0) continue;
            for (ULONG device = 0; device < 32; ++device) {
                for (ULONG function = 0; function < 8; ++function) {
                    ULONG numbers = Mech1ReadDword(0, device, function, 0x18);
                    if ((numbers & 0xFFFF) == 0xFFFF) continue;
                    if (((numbers >> 8) & 0xFF) == b.bus && ((numbers >> 16) & 0xFF) == b.bus) {
                        *twins = {&a, &b, device, function};
                        return true;
                    }
                }
            }
        }
    }
    return false;
}

void SetBusNumbers(ULONG device, ULONG function, ULONG secondary) {
    ULONG numbers = Mech1ReadDword(0, device, function, 0x18);
    Mech1WriteDword(0, device, function, 0x18, (numbers & 0xFF0000FFu) | secondary << 8 | secondary << 16);
}

ULONG SpaceSum(const FoundFunction& f, ULONG bus) {
    ULONG sum = 0;
    for (ULONG offset = 0x100; offset < 0x1000; offset += 4) {
        sum = sum * 31 + Mech1ReadDword(bus, f.device, f.function, 0) +
              DirectEcamDword(kShortWindow, bus, f.device, f.function, offset);
    }
    return sum;
}

}  // namespace

void CheckWindowEndingBelowBus255() {
    Bed& bed = TheBed();
    Twins twins;
    if (bed.expect.ecamBase == kNoEcam || !FindTwins(&twins)) {
        Note("no memory-mapped configuration or no twin functions: a window ending below bus 255 not tried");
        return;
    }
    ULONG oldBar = Mech1ReadDword(0, 0, 0, kPciExBar);
    ULONG movedBus = twins.moved->bus;
    Mech1WriteDword(0, 0, 0, kPciExBar, kShortWindow | kPciExBar128MiB);
    SetBusNumbers(twins.rootDevice, twins.rootFunction, kBusPastTheEnd);
    HalLearnBuses();
    const FoundFunction& inWindow = *twins.inWindow;
    bool shaped =
        DirectEcamDword(kShortWindow, 0, 0, 0, 0) == Mech1ReadDword(0, 0, 0, 0) &&
        DirectEcamDword(kShortWindow, kBusPastTheEnd, 0, 0, 0) != Mech1ReadDword(kBusPastTheEnd, 0, 0, 0) &&
        (Mech1ReadDword(kBusPastTheEnd, 0, 0, 0) & 0xFFFF) != 0xFFFF;
    if (Check(shaped, "a 128 MiB window at 0xE0000000 and a function on bus 0x81 past its end",
              "00:00.0 at the base 0x%x, bus 0x81's place 0x%x, 81:00.0 through the ports 0x%x",
              DirectEcamDword(kShortWindow, 0, 0, 0, 0),
              DirectEcamDword(kShortWindow, kBusPastTheEnd, 0, 0, 0),
              Mech1ReadDword(kBusPastTheEnd, 0, 0, 0))) {
        CloseProgramFile();
        CallDriverUnload(IoDriverObject());
        ReloadDriver("load with a window ending at bus 0x7f");
        static ConfigRequest request;
        static ExtConfigRequest ext;
        static UCHAR pattern[3840];
        ControlOutcome past = ProgramReadConfig(kBusPastTheEnd, 0, 0, &request);
        ULONG baseAfterPast = DriverEcamBase();
        ProgramReadConfig(0, 0, 0, &request);
        ULONG before = SpaceSum(inWindow, inWindow.bus);
        MmResetCounts();
        memset(pattern, 0x5A, sizeof pattern);
        ControlOutcome write = ProgramWriteExt(kBusPastTheEnd, 0, 0, pattern, &ext);
        ULONG writeMaps = MmCounts().maps;
        ULONG writeResult = ext.Result;
        ControlOutcome served = ProgramReadExt(inWindow.bus, inWindow.device, inWindow.function, &ext);
        Check(Answered(past, 272) && baseAfterPast == kNoEcam && DriverEcamBase() == kShortWindow,
              "no base from a bus past the window's end; found from 00:00.0",
              "EcamBase 0x%x after 81:00.0, 0x%x after 00:00.0", baseAfterPast, DriverEcamBase());
        Check(Answered(write, 3856) && writeResult == 1 && writeMaps <= 2 &&
                  SpaceSum(inWindow, inWindow.bus) == before,
              "a bus past the window's end is refused", "Result %u, %u mappings for the write to 81:00.0",
              writeResult, writeMaps);
        Check(Answered(served, 3856) && ext.Result == 0, "the short window serves the buses it has",
              "%02x:%02x.%x Result %u", inWindow.bus, inWindow.device, inWindow.function, ext.Result);
        CheckInvariants("a window ending below bus 255");
    }
    SetBusNumbers(twins.rootDevice, twins.rootFunction, movedBus);
    Mech1WriteDword(0, 0, 0, kPciExBar, oldBar);
    HalLearnBuses();
}
