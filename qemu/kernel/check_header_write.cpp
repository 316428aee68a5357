// Header writes through the driver's port path: the function's own header,
// read first, written back with its interrupt line changed.
#include <ntddk.h>

#include "bed.h"
#include "checks.h"
#include "driver_image.h"
#include "hal_bus.h"
#include "irql.h"
#include "pci_ports.h"
#include "report.h"

namespace {

const ULONG kInterruptLine = 0x3C;
const UCHAR kPciExpressCapability = 0x10;

ConfigRequest gRequest;
UCHAR gBefore[256];
UCHAR gChanged[256];

// Bytes whose bits clear when written with 1 may read differently after the
// header is written back with the values read: the status register and the
// PCI Express device and link status registers.
bool MayClearOnWrite(const UCHAR* header, ULONG offset) {
    if (offset == 0x06 || offset == 0x07) return true;
    ULONG express = FindCapability(header, kPciExpressCapability);
    if (express == 0) return false;
    return offset == express + 0x0A || offset == express + 0x0B || offset == express + 0x12 ||
           offset == express + 0x13;
}

// Writes `data` to the function with the address register preset to
// `sentinel`; checks the request and that the driver kept the register: what
// each HAL read during the request found there, and what it holds after,
// is the sentinel, or the 0 that an earlier HAL read left.
void WriteWithSentinel(const FoundFunction& f, const UCHAR* data, ULONG sentinel, const char* what) {
    __outdword(kConfigAddressPort, sentinel);
    HalAddressWatchStart(sentinel);
    IrqlResetCounts();
    ControlOutcome o = ProgramWriteConfig(f.bus, f.device, f.function, data, &gRequest);
    IrqlCounts irql = IrqlCountsNow();
    ULONG after = __indword(kConfigAddressPort);
    ULONG halReads = HalAddressWatchReads();
    ULONG foundByHal = 0;
    bool keptForHal = HalAddressWatchKept(&foundByHal);
    // Raise, save, address, data, restore, lower: 64 times, four port
    // accesses under each raise, none outside one. The driver's own port
    // instructions are seen through the fault handler (cpu.h).
    Check(irql.raises == 64 && irql.portsRaised == 256 && irql.portsNotRaised == 0 &&
              irql.sequencesNotFour == 0,
          "port sequences at HIGH_LEVEL",
          "%s %02x:%02x.%x: %u raises, %u port accesses raised, %u not, %u raises not of four", what, f.bus,
          f.device, f.function, irql.raises, irql.portsRaised, irql.portsNotRaised, irql.sequencesNotFour);
    Check(Answered(o, 272) && gRequest.Result == 1, "header write served",
          "%s %02x:%02x.%x status 0x%x Result %u", what, f.bus, f.device, f.function, (ULONG)o.status,
          gRequest.Result);
    Check(keptForHal && (after == sentinel || (after == 0 && halReads > 0)),
          "0xCF8 kept across the header write",
          "%s %02x:%02x.%x: 0x%08x before, 0x%08x after, %u HAL reads, first to find another "
          "value found 0x%08x",
          what, f.bus, f.device, f.function, sentinel, after, halReads, foundByHal);
}

void WriteAndReadBack(const FoundFunction& f, ULONG sentinel) {
    ProgramReadConfig(f.bus, f.device, f.function, &gRequest);
    memcpy(gBefore, gRequest.Data, sizeof gBefore);
    memcpy(gChanged, gBefore, sizeof gChanged);
    gChanged[kInterruptLine] = (UCHAR)(gBefore[kInterruptLine] ^ 0x5A);

    WriteWithSentinel(f, gChanged, sentinel, "changed");

    ProgramReadConfig(f.bus, f.device, f.function, &gRequest);
    Check(gRequest.Data[kInterruptLine] == gChanged[kInterruptLine],
          "header write reads back through the ports", "%02x:%02x.%x line 0x%02x, wrote 0x%02x", f.bus,
          f.device, f.function, gRequest.Data[kInterruptLine], gChanged[kInterruptLine]);
    ULONG others = 0;
    for (ULONG offset = 0; offset < 256; ++offset) {
        if (offset == kInterruptLine || MayClearOnWrite(gBefore, offset)) continue;
        if (gRequest.Data[offset] != gBefore[offset]) {
            if (others < 8) {
                Note("after header write %02x:%02x.%x: 0x%02x reads 0x%02x, was 0x%02x", f.bus, f.device,
                     f.function, offset, gRequest.Data[offset], gBefore[offset]);
            }
            ++others;
        }
    }
    Check(others == 0, "rest of the header unchanged", "%u bytes differ", others);
    ULONG base = TheBed().expect.ecamBase;
    if (base != kNoEcam) {
        ULONG mapped = DirectEcamDword(base, f.bus, f.device, f.function, kInterruptLine) & 0xFF;
        Check(mapped == gChanged[kInterruptLine], "header write reads back memory-mapped",
              "%02x:%02x.%x line 0x%02x, wrote 0x%02x", f.bus, f.device, f.function, mapped,
              gChanged[kInterruptLine]);
    }

    WriteWithSentinel(f, gBefore, sentinel ^ 0x00010100, "restore");
    ProgramReadConfig(f.bus, f.device, f.function, &gRequest);
    Check(gRequest.Data[kInterruptLine] == gBefore[kInterruptLine], "header write restores",
          "%02x:%02x.%x line 0x%02x, was 0x%02x", f.bus, f.device, f.function, gRequest.Data[kInterruptLine],
          gBefore[kInterruptLine]);
}

}  // namespace

void CheckHeaderWrites() {
    Bed& bed = TheBed();
    const FoundFunction* behindBridge = nullptr;
    const FoundFunction* laterFunction = nullptr;
    for (ULONG i = 0; i < bed.foundCount; ++i) {
        const FoundFunction& f = bed.found[i];
        if (HeaderType(f.header) != 0) continue;
        if (behindBridge == nullptr && f.bus != 0) behindBridge = &f;
        if (laterFunction == nullptr && f.function != 0) laterFunction = &f;
    }
    // An enabled address and one with the enable bit clear.
    if (Check(behindBridge != nullptr, "an endpoint behind a bridge", "none found")) {
        WriteAndReadBack(*behindBridge, 0x80000008u);
    }
    if (Check(laterFunction != nullptr, "a function numbered above 0", "none found")) {
        WriteAndReadBack(*laterFunction, 0x0012FE40u);
    }

    // A header of all ones to a device number that nothing answers at: the
    // request succeeds, the port pair is restored, and the search that
    // follows finds no candidate for vendor 0xFFFF.
    ULONG device = 31;
    for (ULONG i = 0; i < bed.foundCount; ++i) {
        if (bed.found[i].bus == 0 && bed.found[i].device == device) device = 30;
    }
    ULONG baseBefore = DriverEcamBase();
    FoundFunction absent;
    absent.bus = 0;
    absent.device = device;
    absent.function = 0;
    memset(gChanged, 0xFF, sizeof gChanged);
    WriteWithSentinel(absent, gChanged, 0x80000010u, "absent");
    Check(DriverEcamBase() == baseBefore, "no base taken for vendor 0xFFFF", "EcamBase 0x%x, was 0x%x",
          DriverEcamBase(), baseBefore);
    CheckInvariants("header writes");
}
