// The test kernel's main line: read the machine's expectations from the
// Multiboot command line, load the driver, run the checks, report on COM1 and
// end QEMU through the isa-debug-exit device (port 0xF4) with the verdict.
//
// Command line: machine=<name> ecam=<hex base>|none [trap=<hex address>]
#include <ntddk.h>

#include "bed.h"
#include "checks.h"
#include "cpu.h"
#include "driver_image.h"
#include "hal_bus.h"
#include "ram_map.h"
#include "report.h"
#include "serial.h"
#include "sha256.h"

namespace {

const ULONG kMultibootMagic = 0x2BADB002;
const ULONG kMultibootHasCommandLine = 1u << 2;
const ULONG kMultibootHasModules = 1u << 3;
const USHORT kDebugExitPort = 0xF4;
// QEMU exits with (value << 1) | 1: 33 for a pass, 35 for a failure.
const UCHAR kExitPass = 0x10;
const UCHAR kExitFail = 0x11;

bool StartsWith(const char* text, const char* prefix) {
    while (*prefix) {
        if (*text++ != *prefix++) return false;
    }
    return true;
}

// Hexadecimal with an optional 0x; `end` gets the first character not taken.
ULONG ParseHex(const char* text, const char** end) {
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text += 2;
    ULONG value = 0;
    for (;; ++text) {
        char c = *text;
        ULONG digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            break;
        value = value << 4 | digit;
    }
    *end = text;
    return value;
}

// Returns false when the command line lacks what the checks need.
bool ReadCommandLine(const char* line, Expectations* expect) {
    bool haveMachine = false;
    bool haveEcam = false;
    expect->ecamBase = kNoEcam;
    expect->trapBase = 0;
    const char* p = line;
    while (*p) {
        while (*p == ' ') ++p;
        const char* end = p;
        if (StartsWith(p, "machine=")) {
            p += 8;
            ULONG n = 0;
            while (*p && *p != ' ' && n + 1 < sizeof expect->machine) expect->machine[n++] = *p++;
            expect->machine[n] = 0;
            haveMachine = n > 0;
            end = p;
        } else if (StartsWith(p, "ecam=none")) {
            end = p + 9;
            haveEcam = true;
        } else if (StartsWith(p, "ecam=")) {
            expect->ecamBase = ParseHex(p + 5, &end);
            haveEcam = true;
        } else if (StartsWith(p, "trap=")) {
            expect->trapBase = ParseHex(p + 5, &end);
        }
        while (*end && *end != ' ') ++end;  // words not known here are skipped
        p = end;
    }
    return haveMachine && haveEcam;
}

[[noreturn]] void Finish(bool pass) {
    SerialPrint("RESULT %s checks=%u failed=%u\n", pass ? "PASS" : "FAIL", ChecksRun(), ChecksFailed());
    __outbyte(kDebugExitPort, pass ? kExitPass : kExitFail);
    for (;;) __asm__ __volatile__("cli; hlt");
}

void RunChecks() {
    CheckDriverEntry();
    if (DriverImage().base == nullptr || DriverImage().problem[0] != 0) Finish(false);
    CheckRefusedRequests();
    CheckExtendedBeforeBase();
    PlantTrap();
    PlantFramebuffer();
    CheckScanAndBase();
    SynchroniseWithHost("scan");
    CheckRangeReads();
    CheckExtendedReads();
    SynchroniseWithHost("extended");
    CheckAddressMasking();
    CheckHeaderWrites();
    CheckOtherProcessor();
    CheckExtendedWrites();
    CheckReadOnlyHandle();
    CheckMaximumAllowedHandle();
    TimeFullScan();
    CheckUnloadAndReload();
    CheckWithoutBroadcast();
    CheckWindowEndingBelowBus255();

    Finish(ChecksFailed() == 0);
}

}  // namespace

extern "C" void KernelMain(ULONG magic, ULONG infoAddress) {
    SerialInitialize();
    SerialPrint("\nQV: quorvenal driver test kernel\n");
    Bed& bed = TheBed();
    const ULONG* info = (const ULONG*)(ULONG_PTR)infoAddress;
    const char* line = "";
    if (magic == kMultibootMagic && (info[0] & kMultibootHasCommandLine) != 0) {
        line = (const char*)(ULONG_PTR)info[4];
    }
    Note("command line: %s", line);
    // The driver file: the first Multiboot module, exactly as the host read it.
    if ((info[0] & kMultibootHasModules) != 0 && info[5] > 0) {
        const ULONG* module = (const ULONG*)(ULONG_PTR)info[6];
        DriverFileSet((const UCHAR*)(ULONG_PTR)module[0], module[1] - module[0]);
        char hex[65];
        Sha256Hex(DriverFile(), DriverFileSize(), hex);
        SerialPrint("PE sha256=%s bytes=%u\n", hex, DriverFileSize());
    }
    DriverSymbolsParse(line);
    if (!Check(RamLearnMap(magic, info), "memory map", "the loader gave no Multiboot memory map")) {
        Finish(false);
    }
    RamPrintMap();
    if (!Check(ReadCommandLine(line, &bed.expect), "command line",
               "needs machine=<name> and ecam=<base>|none")) {
        Finish(false);
    }

    HalLearnBuses();
    Note("machine %s, %u buses exist", bed.expect.machine, HalExistingBusCount());

    // From here on in ring 3, where the driver's port instructions fault and
    // are counted (cpu.h).
    CpuRunInRing3(RunChecks);
}
