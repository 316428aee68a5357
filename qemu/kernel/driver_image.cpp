#include "driver_image.h"

#include "irql.h"
#include "text.h"

extern "C" ULONG CallDriverRoutine(const void* routine, const ULONG* arguments, ULONG count, ULONG* broken);

namespace {

const ULONG kImageAreaBytes = 256 * 1024;
const ULONG kMaxSymbols = 24;

struct Symbol {
    char name[48];
    ULONG rva;
};

UCHAR gImageArea[kImageAreaBytes] __attribute__((aligned(4096)));
const UCHAR* gFile;
ULONG gFileSize;
PeImage gImage;
bool gLoaded;
Symbol gSymbols[kMaxSymbols];
ULONG gSymbolCount;
ULONG gBrokenCalls;
ULONG gLastBreak;
const char* gLastBrokenRoutine = "";

ULONG Call(const char* what, const void* routine, const ULONG* arguments, ULONG count) {
    ULONG broken = 0;
    ULONG result = CallDriverRoutine(routine, arguments, count, &broken);
    if (broken != 0) {
        ++gBrokenCalls;
        gLastBreak = broken;
        gLastBrokenRoutine = what;
    }
    return result;
}

bool StartsWith(const char* text, const char* prefix) {
    while (*prefix) {
        if (*text++ != *prefix++) return false;
    }
    return true;
}

}  // namespace

void DriverFileSet(const UCHAR* bytes, ULONG size) {
    gFile = bytes;
    gFileSize = size;
}

const UCHAR* DriverFile() { return gFile; }
ULONG DriverFileSize() { return gFileSize; }

bool DriverImageLoad() {
    gLoaded = false;
    if (gFile == nullptr) {
        memset(&gImage, 0, sizeof gImage);
        TextFormat(gImage.problem, sizeof gImage.problem, "no driver file was handed in");
        return false;
    }
    gLoaded = PeLoad(gFile, gFileSize, gImageArea, kImageAreaBytes, &gImage);
    return gLoaded;
}

const PeImage& DriverImage() { return gImage; }

ULONG DriverImageDiscardInit() { return gLoaded ? PeDiscardSections(gImage) : 0; }

void DriverSymbolsParse(const char* line) {
    gSymbolCount = 0;
    for (const char* p = line; *p;) {
        while (*p == ' ') ++p;
        if (StartsWith(p, "sym.") && gSymbolCount < kMaxSymbols) {
            Symbol& s = gSymbols[gSymbolCount];
            p += 4;
            ULONG n = 0;
            while (*p && *p != '=' && *p != ' ' && n + 1 < sizeof s.name) s.name[n++] = *p++;
            s.name[n] = 0;
            if (*p == '=') {
                ++p;
                if (p[0] == '0' && p[1] == 'x') p += 2;
                ULONG value = 0;
                for (;; ++p) {
                    char c = *p;
                    ULONG digit;
                    if (c >= '0' && c <= '9')
                        digit = c - '0';
                    else if (c >= 'a' && c <= 'f')
                        digit = c - 'a' + 10;
                    else
                        break;
                    value = value << 4 | digit;
                }
                s.rva = value;
                ++gSymbolCount;
            }
        }
        while (*p && *p != ' ') ++p;
    }
}

PVOID DriverSymbol(const char* name) {
    if (!gLoaded) return nullptr;
    for (ULONG i = 0; i < gSymbolCount; ++i) {
        if (TextEqual(gSymbols[i].name, name) && gSymbols[i].rva < gImage.size) {
            return gImage.base + gSymbols[i].rva;
        }
    }
    return nullptr;
}

ULONG DriverEcamBase() {
    volatile ULONG* ecamBase = (volatile ULONG*)DriverSymbol("EcamBase");
    return ecamBase != nullptr ? *ecamBase : 0;
}

NTSTATUS CallDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    ULONG arguments[2] = {(ULONG)(ULONG_PTR)driver, (ULONG)(ULONG_PTR)registryPath};
    NTSTATUS status = (NTSTATUS)Call("DriverEntry", gImage.base + gImage.entryRva, arguments, 2);
    kernel_rules::LeaveDriverRoutine("DriverEntry");
    return status;
}

VOID CallDriverUnload(PDRIVER_OBJECT driver) {
    ULONG arguments[1] = {(ULONG)(ULONG_PTR)driver};
    Call("DriverUnload", (const void*)driver->DriverUnload, arguments, 1);
    kernel_rules::LeaveDriverRoutine("DriverUnload");
}

NTSTATUS CallDispatch(PDRIVER_DISPATCH routine, PDEVICE_OBJECT device, PIRP irp) {
    ULONG arguments[2] = {(ULONG)(ULONG_PTR)device, (ULONG)(ULONG_PTR)irp};
    NTSTATUS status = (NTSTATUS)Call("a dispatch routine", (const void*)routine, arguments, 2);
    kernel_rules::LeaveDriverRoutine("dispatch routine");
    return status;
}

ULONG_PTR CallDriverCallback(PKIPI_BROADCAST_WORKER routine, ULONG_PTR argument) {
    ULONG arguments[1] = {(ULONG)argument};
    return Call("a broadcast routine", (const void*)routine, arguments, 1);
}

ULONG DriverCallsBroken() { return gBrokenCalls; }
ULONG DriverLastBreak() { return gLastBreak; }
const char* DriverLastBrokenRoutine() { return gLastBrokenRoutine; }
