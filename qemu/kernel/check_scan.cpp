// The bus scan as the program runs it, and the driver's base search that the
// scan's reads set off.
#include <ntddk.h>

#include "bed.h"
#include "checks.h"
#include "cpu.h"
#include "driver_image.h"
#include "hal_bus.h"
#include "mm.h"
#include "pci_ports.h"
#include "pool.h"
#include "ram_map.h"
#include "report.h"
#include "serial.h"

namespace {

struct ScanTally {
    ULONG requests;
    ULONG functions;
    bool allAnswered;     // every request succeeded and returned 272 bytes
    ULONG badCounts;      // Result other than 0 / 2 / 256, or at the wrong kind of bus
    ULONG absentNotFfff;  // Result 2 whose vendor identifier is not 0xFFFF
};

// Every bus, device and function number, 65,536 requests built as the
// program builds them. Unlike the program's list, which stops at the first
// function number that does not answer, this probes all eight, so that a
// function after a gap (q35's 00:1f.2 after an absent 00:1f.1) is compared
// too.
ScanTally FullScan(bool keep) {
    static ConfigRequest request;
    Bed& bed = TheBed();
    ScanTally tally = {0, 0, true, 0, 0};
    for (ULONG bus = 0; bus < 256; ++bus) {
        for (ULONG device = 0; device < 32; ++device) {
            for (ULONG function = 0; function < 8; ++function) {
                ControlOutcome outcome = ProgramReadConfig(bus, device, function, &request);
                ++tally.requests;
                if (!Answered(outcome, sizeof request)) {
                    tally.allAnswered = false;
                    return tally;
                }
                if (request.Result == 0) {
                    if (HalBusExists(bus)) ++tally.badCounts;
                    continue;
                }
                if (request.Result == 2) {
                    if (!HalBusExists(bus)) ++tally.badCounts;
                    if (VendorOf(request.Data) != 0xFFFF) ++tally.absentNotFfff;
                    continue;
                }
                if (request.Result != 256) ++tally.badCounts;
                ++tally.functions;
                if (keep && bed.foundCount < kMaxFound) {
                    FoundFunction& f = bed.found[bed.foundCount++];
                    f.bus = bus;
                    f.device = device;
                    f.function = function;
                    memcpy(f.header, request.Data, sizeof f.header);
                }
            }
        }
    }
    return tally;
}

const ULONG kTraceCapacity = 1024;
ULONG gTrace[kTraceCapacity];

}  // namespace

void PlantTrap() {
    Bed& bed = TheBed();
    if (bed.expect.trapBase == 0) {
        Note("no RAM candidate to plant a stray vendor identifier in");
        return;
    }
    ULONG id = Mech1ReadDword(0, 0, 0, 0);
    volatile USHORT* trap = (volatile USHORT*)(ULONG_PTR)bed.expect.trapBase;
    trap[0] = (USHORT)id;            // the vendor identifier of 00:00.0 ...
    trap[1] = (USHORT) ~(id >> 16);  // ... but not its device identifier
    Check(trap[0] == (USHORT)id && trap[1] == (USHORT) ~(id >> 16), "stray vendor id planted in RAM",
          "RAM at 0x%x does not hold what was written", bed.expect.trapBase);
}

namespace {

const ULONG kFramebufferBase = 0xC0000000;
bool gFramebufferPlanted;

}  // namespace

void PlantFramebuffer() {
    Bed& bed = TheBed();
    gFramebufferPlanted = false;
    if (bed.expect.ecamBase != kNoEcam || RamPageHolds(kFramebufferBase)) return;
    for (ULONG device = 0; device < 32; ++device) {
        ULONG id = Mech1ReadDword(0, device, 0, 0);
        if ((id & 0xFFFF) == 0xFFFF || (Mech1ReadDword(0, device, 0, 0x08) >> 16) != 0x0300) continue;
        ULONG bar = Mech1ReadDword(0, device, 0, 0x10);
        if ((bar & 1) != 0) continue;  // not a memory BAR
        Mech1WriteDword(0, device, 0, 0x10, kFramebufferBase | (bar & 0xF));
        Mech1WriteDword(0, device, 0, 0x04, Mech1ReadDword(0, device, 0, 0x04) | 0x2);  // memory decode on
        ULONG host = Mech1ReadDword(0, 0, 0, 0);
        volatile ULONG* framebuffer = (volatile ULONG*)(ULONG_PTR)kFramebufferBase;
        *framebuffer = host;
        gFramebufferPlanted =
            Check(*framebuffer == host && (Mech1ReadDword(0, device, 0, 0x10) & ~0xFu) == kFramebufferBase,
                  "00:00.0's identifiers drawn in a framebuffer at 0xC0000000",
                  "00:%02x.0's BAR 0x%x, framebuffer reads 0x%x", device, Mech1ReadDword(0, device, 0, 0x10),
                  *framebuffer);
        return;
    }
    Note("no display controller on bus 0: no framebuffer planted");
}

void CheckScanAndBase() {
    Bed& bed = TheBed();
    bed.foundCount = 0;
    MmResetCounts();
    PoolResetCounts();
    MmTraceStart(gTrace, kTraceCapacity);
    ScanTally tally = FullScan(true);
    ULONG probes = MmTraceStop();
    MappingCounts mappings = MmCounts();
    PoolCounts pool = PoolCountsNow();

    SerialPrint("SCAN functions=%u requests=%u buses=%u\n", tally.functions, tally.requests,
                HalExistingBusCount());
    SerialPrint("SCAN mappings=%u ram-mappings=%u ram-lists=%u\n", mappings.maps, mappings.ramMappings,
                pool.lists);
    for (ULONG i = 0; i < bed.foundCount; ++i) {
        const FoundFunction& f = bed.found[i];
        SerialPrint("FUNC %02x:%02x.%x %04x:%04x %02x%02x%02x\n", f.bus, f.device, f.function,
                    VendorOf(f.header), DeviceIdOf(f.header), f.header[0x0B], f.header[0x0A], f.header[0x09]);
    }
    Check(tally.allAnswered && tally.requests == 65536, "scan requests answered", "stopped after %u requests",
          tally.requests);
    Check(tally.badCounts == 0 && tally.absentNotFfff == 0, "scan results",
          "%u results that do not fit the bus, %u absent functions without 0xFFFF", tally.badCounts,
          tally.absentNotFfff);
    Check(tally.functions == bed.foundCount && bed.foundCount > 0, "functions kept", "%u found, %u kept",
          tally.functions, bed.foundCount);

    // Where the search looked: the first present function is 00:00.0, so the
    // first probes are the bare candidates in ascending order.
    if (bed.expect.ecamBase != kNoEcam) {
        ULONG used = 0;
        bool fits = SearchProbesFit(gTrace, probes, 0, bed.expect.ecamBase, &used);
        Check(DriverEcamBase() == bed.expect.ecamBase, "base found", "EcamBase 0x%x, expected 0x%x",
              DriverEcamBase(), bed.expect.ecamBase);
        Check(fits && used == probes, "search order",
              "%u probes, %u of them one search up to the base; first 0x%x, last 0x%x", probes, used,
              probes ? gTrace[0] : 0, probes ? gTrace[(probes - 1) % kTraceCapacity] : 0);
    } else {
        // No base on this machine: every read of a present function searches
        // all fifteen candidates again, each at the function's own place.
        ULONG at = 0;
        bool fits = probes <= kTraceCapacity;
        for (ULONG k = 0; k < bed.foundCount && fits; ++k) {
            const FoundFunction& f = bed.found[k];
            ULONG used = 0;
            fits = SearchProbesFit(gTrace + at, probes - at, EcamPlace(f.bus, f.device, f.function), kNoEcam,
                                   &used);
            at += used;
        }
        Check(DriverEcamBase() == kNoEcam, "no base found", "EcamBase 0x%x", DriverEcamBase());
        Check(fits && at == probes, "search repeated per function", "%u probes for %u functions, %u fit",
              probes, bed.foundCount, at);
        ULONG inFramebuffer = 0;
        for (ULONG i = 0; i < probes && i < kTraceCapacity; ++i) {
            if (gTrace[i] >= kFramebufferBase && gTrace[i] < kFramebufferBase + 0x10000000) ++inFramebuffer;
        }
        if (gFramebufferPlanted) {
            Check(inFramebuffer == 0, "the search passes over the framebuffer", "%u probes in it",
                  inFramebuffer);
        }
    }
    // One RAM list per search, each freed: one search on a machine with a
    // window (00:00.0 finds it), one per present function on one without.
    ULONG searches = bed.expect.ecamBase != kNoEcam ? 1 : bed.foundCount;
    Check(pool.lists == searches && pool.frees == searches, "one RAM list per search",
          "%u lists, %u freed, for %u searches", pool.lists, pool.frees, searches);
    Check(mappings.ramMappings == 0, "the scan maps no RAM", "%u mappings of a page of RAM",
          mappings.ramMappings);
    Check(mappings.registerReads == mappings.maps && mappings.registerWrites == 0,
          "search probes through READ_REGISTER_USHORT", "%u accessor reads, %u writes, %u mappings",
          mappings.registerReads, mappings.registerWrites, mappings.maps);
    if (bed.expect.trapBase != 0) {
        ULONG trapProbes = 0;
        for (ULONG i = 0; i < probes && i < kTraceCapacity; ++i) {
            if ((gTrace[i] & 0xF0000000u) == bed.expect.trapBase) ++trapProbes;
        }
        Check(RamPageHolds(bed.expect.trapBase) && trapProbes == 0 && DriverEcamBase() != bed.expect.trapBase,
              "RAM at the trap never probed", "trap in RAM: %d, %u probes there, EcamBase 0x%x",
              RamPageHolds(bed.expect.trapBase) ? 1 : 0, trapProbes, DriverEcamBase());
    }
    CheckInvariants("scan");
}

namespace {

ULONGLONG ReadTimeStamp() {
    ULONG low;
    ULONG high;
    __asm__ __volatile__("rdtsc" : "=a"(low), "=d"(high));
    return (ULONGLONG)high << 32 | low;
}

struct ProgramScanTally {
    ULONG requests;
    ULONG functions;
    bool allAnswered;
};

// The scan as the program sends it: bus, device, function ascending; a
// Result of 0 or 2 ends that device (no further function numbers of it).
ProgramScanTally ProgramOrderScan() {
    static ConfigRequest request;
    ProgramScanTally tally = {0, 0, true};
    for (ULONG bus = 0; bus < 256; ++bus) {
        for (ULONG device = 0; device < 32; ++device) {
            for (ULONG function = 0; function < 8; ++function) {
                ControlOutcome outcome = ProgramReadConfig(bus, device, function, &request);
                ++tally.requests;
                if (!Answered(outcome, sizeof request)) {
                    tally.allAnswered = false;
                    return tally;
                }
                if (request.Result == 0 || request.Result == 2) break;
                ++tally.functions;
            }
        }
    }
    return tally;
}

// The same configuration reads with nothing around them: where the HAL
// would read (a bus that exists), the vendor identifier, and for a present
// function its 64 header doublewords, through mechanism #1; the same skip
// rules. Returns the number of requests the program would have sent.
volatile ULONG gBareSink;  // keeps the reads the loop makes

ULONG BarePortProbes(ULONG* functions) {
    ULONG requests = 0;
    *functions = 0;
    for (ULONG bus = 0; bus < 256; ++bus) {
        bool exists = HalBusExists(bus);
        for (ULONG device = 0; device < 32; ++device) {
            for (ULONG function = 0; function < 8; ++function) {
                ++requests;
                if (!exists) break;
                ULONG id = Mech1ReadDword(bus, device, function, 0);
                if ((id & 0xFFFF) == 0xFFFF) break;
                for (ULONG offset = 0; offset < 256; offset += 4) {
                    gBareSink = Mech1ReadDword(bus, device, function, offset);
                }
                ++*functions;
            }
        }
    }
    return requests;
}

bool WasFound(ULONG bus, ULONG device, ULONG function) {
    const Bed& bed = TheBed();
    for (ULONG i = 0; i < bed.foundCount; ++i) {
        const FoundFunction& f = bed.found[i];
        if (f.bus == bus && f.device == device && f.function == function) return true;
    }
    return false;
}

}  // namespace

void TimeFullScan() {
    Bed& bed = TheBed();
    // Both loops at the processor's speed: no faults on the configuration ports.
    CpuTrapConfigPorts(false);
    SerialPrint("TIME full-scan begin\n");
    ULONGLONG start = ReadTimeStamp();
    ProgramScanTally tally = ProgramOrderScan();
    ULONGLONG driverCycles = ReadTimeStamp() - start;
    SerialPrint("TIME full-scan end requests=%u functions=%u\n", tally.requests, tally.functions);
    SerialPrint("TIME bare-probes begin\n");
    ULONG bareFunctions = 0;
    start = ReadTimeStamp();
    ULONG bareRequests = BarePortProbes(&bareFunctions);
    ULONGLONG bareCycles = ReadTimeStamp() - start;
    SerialPrint("TIME bare-probes end requests=%u functions=%u\n", bareRequests, bareFunctions);
    CpuTrapConfigPorts(true);
    // Kilocycles keep both figures within 32 bits; the ratio in hundredths.
    ULONG driverK = (ULONG)(driverCycles / 1000);
    ULONG bareK = (ULONG)(bareCycles / 1000);
    ULONG hundredths = bareK != 0 ? (ULONG)((ULONGLONG)driverK * 100 / bareK) : 0;
    SerialPrint("TIME scan-ratio driver_kcycles=%u bare_kcycles=%u ratio=%u.%02u\n", driverK, bareK,
                hundredths / 100, hundredths % 100);
    // The functions the program lists: those with every lower function
    // number of their device present (none after a gap such as q35's 00:1f.1).
    ULONG listed = 0;
    for (ULONG i = 0; i < bed.foundCount; ++i) {
        const FoundFunction& f = bed.found[i];
        bool noGap = true;
        for (ULONG lower = 0; lower < f.function && noGap; ++lower) {
            noGap = WasFound(f.bus, f.device, lower);
        }
        if (noGap) ++listed;
    }
    Check(tally.allAnswered && tally.functions == listed, "program-order scan finds what the program lists",
          "%u functions, %u expected from the first scan", tally.functions, listed);
    Check(bareRequests == tally.requests && bareFunctions == tally.functions,
          "bare probes follow the same requests", "%u requests and %u functions, the driver's scan %u and %u",
          bareRequests, bareFunctions, tally.requests, tally.functions);
    CheckInvariants("program-order scan");
}
