// The extended space 0x100..0xFFF through the driver, against the test
// kernel's own 32-bit reads of memory-mapped configuration.
#include <ntddk.h>

#include "bed.h"
#include "checks.h"
#include "driver_image.h"
#include "mm.h"
#include "report.h"
#include "serial.h"

namespace {

const UCHAR kPciExpressCapability = 0x10;
const USHORT kAer = 0x0001;
const USHORT kDsn = 0x0003;
const USHORT kAcs = 0x000D;

// The first two extended capabilities of the devices the bed puts in the
// machine, as their models define them.
struct KnownDevice {
    USHORT vendor;
    USHORT device;
    const char* name;
    USHORT first;
    USHORT second;
};
const KnownDevice kKnown[] = {
    {0x8086, 0x10D3, "e1000e", kAer, kDsn},
    {0x1B36, 0x000C, "pcie-root-port", kAer, kAcs},
};

ULONG ExtDword(const UCHAR* extData, ULONG offset) {
    const UCHAR* p = extData + (offset - 0x100);
    return (ULONG)p[0] | (ULONG)p[1] << 8 | (ULONG)p[2] << 16 | (ULONG)p[3] << 24;
}

void SetExtDword(UCHAR* extData, ULONG offset, ULONG value) {
    UCHAR* p = extData + (offset - 0x100);
    for (int i = 0; i < 4; ++i) p[i] = (UCHAR)(value >> (8 * i));
}

// Offset of an extended capability in a 3840-byte extended space, or 0.
ULONG FindExtCapability(const UCHAR* extData, USHORT id) {
    ULONG at = 0x100;
    for (int hops = 0; at >= 0x100 && at <= 0xFFC && hops < 64; ++hops) {
        ULONG header = ExtDword(extData, at);
        if (header == 0 || header == 0xFFFFFFFF) return 0;
        if ((header & 0xFFFF) == id) return at;
        at = (header >> 20) & 0xFFC;
    }
    return 0;
}

// Offsets where two extended spaces differ, printed; the count is returned.
ULONG ReportDifferences(const char* what, const UCHAR* a, const UCHAR* b) {
    ULONG count = 0;
    for (ULONG offset = 0x100; offset < 0x1000; offset += 4) {
        if (ExtDword(a, offset) != ExtDword(b, offset)) {
            if (count < 8) {
                Note("%s: 0x%03x reads 0x%08x, expected 0x%08x", what, offset, ExtDword(a, offset),
                     ExtDword(b, offset));
            }
            ++count;
        }
    }
    return count;
}

void DirectExtSpace(ULONG base, const FoundFunction& f, UCHAR* out) {
    for (ULONG offset = 0x100; offset < 0x1000; offset += 4) {
        SetExtDword(out, offset, DirectEcamDword(base, f.bus, f.device, f.function, offset));
    }
}

ExtConfigRequest gRequest;
UCHAR gDirect[kExtConfigBytes];
UCHAR gOriginal[kExtConfigBytes];
UCHAR gChanged[kExtConfigBytes];

}  // namespace

void CheckExtendedReads() {
    Bed& bed = TheBed();
    ULONG base = bed.expect.ecamBase;
    ULONG known = 0;
    MmResetCounts();
    for (ULONG i = 0; i < bed.foundCount; ++i) {
        const FoundFunction& f = bed.found[i];
        ControlOutcome outcome = ProgramReadExt(f.bus, f.device, f.function, &gRequest);
        if (base == kNoEcam) {
            bool zero = true;
            for (ULONG k = 0; k < kExtConfigBytes; ++k) zero = zero && gRequest.ExtData[k] == 0;
            Check(Answered(outcome, 3856) && gRequest.Result == 1 && zero, "extended read without a base",
                  "%02x:%02x.%x status 0x%x Result %u as sent %d", f.bus, f.device, f.function,
                  (ULONG)outcome.status, gRequest.Result, zero);
            continue;
        }
        DirectExtSpace(base, f, gDirect);
        bool same = ReportDifferences("driver vs memory-mapped read", gRequest.ExtData, gDirect) == 0;
        Check(Answered(outcome, 3856) && gRequest.Result == 0 && same, "extended read matches",
              "%02x:%02x.%x status 0x%x Result %u same %d", f.bus, f.device, f.function,
              (ULONG)outcome.status, gRequest.Result, same);
        if (FindCapability(f.header, kPciExpressCapability) == 0) continue;
        ULONG first = ExtDword(gRequest.ExtData, 0x100);
        ULONG next = (first >> 20) & 0xFFC;
        ULONG second = next >= 0x100 ? ExtDword(gRequest.ExtData, next) : 0;
        SerialPrint("EXTCAP %02x:%02x.%x %08x %03x %08x\n", f.bus, f.device, f.function, first, next, second);
        for (const KnownDevice& k : kKnown) {
            if (VendorOf(f.header) != k.vendor || DeviceIdOf(f.header) != k.device) continue;
            ++known;
            Check((first & 0xFFFF) == k.first && (second & 0xFFFF) == k.second, "extended capabilities",
                  "%02x:%02x.%x %s: 0x100 id 0x%04x, 0x%03x id 0x%04x; "
                  "expected 0x%04x then 0x%04x",
                  f.bus, f.device, f.function, k.name, first & 0xFFFF, next, second & 0xFFFF, k.first,
                  k.second);
        }
    }
    if (base != kNoEcam) {
        Check(known >= 2, "PCI Express functions with known capabilities", "%u seen", known);
        // Each request reads the function's two identifiers at its place in
        // the window first, then its 1,920 halves.
        ULONG expectedMaps = (2 + 1920) * bed.foundCount;
        Check(MmCounts().maps == expectedMaps, "one mapping per 16-bit access",
              "%u mappings for %u reads, expected %u", MmCounts().maps, bed.foundCount, expectedMaps);
        Check(MmCounts().registerReads == expectedMaps && MmCounts().registerWrites == 0,
              "extended reads through READ_REGISTER_USHORT", "%u accessor reads, %u writes for %u mappings",
              MmCounts().registerReads, MmCounts().registerWrites, expectedMaps);
    }
    CheckInvariants("extended reads");
}

void CheckAddressMasking() {
    Bed& bed = TheBed();
    static ConfigRequest plain;
    static ConfigRequest masked;
    const FoundFunction* target = nullptr;
    for (ULONG i = 0; i < bed.foundCount && target == nullptr; ++i) {
        if (bed.found[i].bus != 0 && bed.found[i].function == 0) target = &bed.found[i];
    }
    if (!Check(target != nullptr, "a function behind a bridge", "none found")) return;

    // Device and function go to the platform's read through their low bits
    // only; the bus goes whole, so bus + 256 is a bus that does not exist.
    ProgramReadConfig(target->bus, target->device, target->function, &plain);
    ControlOutcome o = ProgramReadConfig(target->bus, target->device + 32, target->function + 8, &masked);
    Check(Answered(o, 272) && masked.Result == 256 && memcmp(masked.Data, plain.Data, 256) == 0,
          "device and function masked for the platform read", "Result %u", masked.Result);
    o = ProgramReadConfig(target->bus + 256, target->device, target->function, &masked);
    Check(Answered(o, 272) && masked.Result == 0, "bus + 256 goes whole to the platform read", "Result %u",
          masked.Result);

    if (bed.expect.ecamBase == kNoEcam) return;
    static ExtConfigRequest extPlain;
    ProgramReadExt(target->bus, target->device, target->function, &extPlain);
    o = ProgramReadExt(target->bus + 256, target->device + 32, target->function + 8, &gRequest);
    Check(Answered(o, 3856) && gRequest.Result == 0 &&
              memcmp(gRequest.ExtData, extPlain.ExtData, kExtConfigBytes) == 0,
          "bus, device and function masked for memory-mapped reads", "Result %u", gRequest.Result);
    CheckInvariants("masking");
}

void CheckExtendedWrites() {
    Bed& bed = TheBed();
    ULONG base = bed.expect.ecamBase;
    const FoundFunction* target = nullptr;
    for (ULONG i = 0; i < bed.foundCount && target == nullptr; ++i) {
        const FoundFunction& f = bed.found[i];
        if (HeaderType(f.header) == 0 && FindCapability(f.header, kPciExpressCapability) != 0) {
            target = &f;
        }
    }
    if (base == kNoEcam) {
        // No base: nothing is written, whatever the function.
        const FoundFunction& f = bed.found[bed.foundCount - 1];
        memset(gChanged, 0, sizeof gChanged);
        MmResetCounts();
        ControlOutcome o = ProgramWriteExt(f.bus, f.device, f.function, gChanged, &gRequest);
        Check(Answered(o, 3856) && gRequest.Result == 1 && MmCounts().maps == 0,
              "extended write without a base", "Result %u, %u mappings", gRequest.Result, MmCounts().maps);
        return;
    }
    if (!Check(target != nullptr, "a PCI Express endpoint", "none found")) return;
    const FoundFunction& f = *target;

    ProgramReadExt(f.bus, f.device, f.function, &gRequest);
    memcpy(gOriginal, gRequest.ExtData, kExtConfigBytes);
    ULONG aer = FindExtCapability(gOriginal, kAer);
    if (!Check(aer != 0, "AER capability", "%02x:%02x.%x has none", f.bus, f.device, f.function)) return;

    // Severity is writable; the uncorrectable mask is read-only in this
    // model. Bits 12 (poisoned TLP) and 20 (unsupported request) put the
    // change into both 16-bit halves.
    const ULONG kBits = 1u << 12 | 1u << 20;
    ULONG maskAt = aer + 0x08;
    ULONG severityAt = aer + 0x0C;
    memcpy(gChanged, gOriginal, kExtConfigBytes);
    SetExtDword(gChanged, severityAt, ExtDword(gOriginal, severityAt) ^ kBits);
    SetExtDword(gChanged, maskAt, ExtDword(gOriginal, maskAt) ^ kBits);

    MmResetCounts();
    ControlOutcome o = ProgramWriteExt(f.bus, f.device, f.function, gChanged, &gRequest);
    Check(Answered(o, 3856) && gRequest.Result == 0, "extended write served", "status 0x%x Result %u",
          (ULONG)o.status, gRequest.Result);
    Check(MmCounts().maps == 2 + 1920, "extended write maps 1920 halves after the identifiers", "%u mappings",
          MmCounts().maps);
    Check(MmCounts().registerWrites == 1920 && MmCounts().registerReads == 2,
          "extended write through WRITE_REGISTER_USHORT", "%u accessor writes, %u reads (the identifiers)",
          MmCounts().registerWrites, MmCounts().registerReads);

    ProgramReadExt(f.bus, f.device, f.function, &gRequest);
    ULONG severity = ExtDword(gRequest.ExtData, severityAt);
    ULONG mask = ExtDword(gRequest.ExtData, maskAt);
    ULONG directSeverity = DirectEcamDword(base, f.bus, f.device, f.function, severityAt);
    Check(severity == ExtDword(gChanged, severityAt) && directSeverity == severity,
          "writable extended register changed", "severity 0x%08x (memory-mapped 0x%08x), wrote 0x%08x",
          severity, directSeverity, ExtDword(gChanged, severityAt));
    Check(mask == ExtDword(gOriginal, maskAt), "read-only extended register unchanged",
          "mask 0x%08x, was 0x%08x", mask, ExtDword(gOriginal, maskAt));
    // Everything else reads as before (the write carried the values read).
    memcpy(gDirect, gOriginal, kExtConfigBytes);
    SetExtDword(gDirect, severityAt, severity);
    Check(ReportDifferences("after extended write", gRequest.ExtData, gDirect) == 0,
          "rest of the extended space unchanged", "%02x:%02x.%x", f.bus, f.device, f.function);

    ProgramWriteExt(f.bus, f.device, f.function, gOriginal, &gRequest);
    ProgramReadExt(f.bus, f.device, f.function, &gRequest);
    Check(ExtDword(gRequest.ExtData, severityAt) == ExtDword(gOriginal, severityAt),
          "extended write restores", "severity 0x%08x, was 0x%08x", ExtDword(gRequest.ExtData, severityAt),
          ExtDword(gOriginal, severityAt));
    CheckInvariants("extended writes");
}
