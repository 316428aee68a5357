// The test bed's hal.dll: Wine loads it (a native override in the prefix)
// when the shipped QUORVENAL.sys is loaded, as the driver imports from the
// HAL. It exports the HAL routines the driver uses, over the simulated
// machine, and on load sets up the rest of the driver's hardware in the
// driver host:
//  - the machine: kBedMachineFile when the prefix holds one, else the
//    built-in default machine (as the Linux launcher without --machine);
//  - the port pair: a first vectored exception handler (port_handler.h);
//  - the kernel routines Wine does not serve: every loaded image that
//    imports from hal.dll gets them through its import address table, now
//    and whenever an image is loaded later (kernel_routines.h);
//  - the pipe of the scripts' hardware actions and of the clients' announced
//    opens (hardware_control.h), and the security context of each open
//    (create_context.h);
// It stays loaded (pinned) for the life of the driver host, so that the
// machine outlives an unload and a new load of the driver, as the stand-in's
// machine outlives them in its process.
#include <windows.h>
#include <psapi.h>

#include <cstring>

#include "bed_files.h"
#include "bed_log.h"
#include "create_context.h"
#include "hardware_control.h"
#include "import_patch.h"
#include "irql.h"
#include "kernel_routines.h"
#include "machine_bridge.h"
#include "port_handler.h"

// ---- The exports (hal.def gives them the HAL's undecorated names). ----

// The level rule of HalGetBusDataByOffset is applied by the stand-in's read
// behind BedHalRead.
extern "C" ULONG NTAPI BedHalGetBusDataByOffset(ULONG busDataType, ULONG bus, ULONG slot, PVOID buffer,
                                                ULONG offset, ULONG length) {
    return BedHalRead(busDataType, bus, slot, buffer, offset, length);
}

extern "C" ULONG NTAPI BedHalGetBusData(ULONG busDataType, ULONG bus, ULONG slot, PVOID buffer,
                                        ULONG length) {
    if (!kernel_rules::EnterRoutine(kernel_rules::Routine::HalGetBusData)) return 0;
    return BedHalRead(busDataType, bus, slot, buffer, 0, length);
}

#if !defined(_WIN64)
// The x86 HAL's IRQL routines; the x64 HAL has none (the x64 driver moves
// CR8 itself, which port_handler.h serves).
extern "C" UCHAR __fastcall BedKfRaiseIrql(UCHAR level) {
    BedIrql before = 0;
    kernel_rules::RaiseLevel(level, &before);
    return before;
}

extern "C" VOID __fastcall BedKfLowerIrql(UCHAR level) {
    BedIrql before = 0;
    kernel_rules::LowerLevel(level, &before);
}

extern "C" UCHAR NTAPI BedKeGetCurrentIrql() { return CurrentIrql(); }
#endif

// ---- Serving the kernel routines to every image that uses this HAL. ----

namespace {

HMODULE self = NULL;

// What the image's entry point RVA can name to reach `target`. On x86 an RVA
// wraps around the 32-bit address space, so it names any address. On x64 the
// kernel adds the 32-bit RVA to the 64-bit base: `target` is reached through
// a jump placed less than 2 GiB above the image.
void* ReachableFromImage(BYTE* base, const IMAGE_NT_HEADERS* nt, void* target) {
#if defined(_WIN64)
    const ULONG_PTR granularity = 0x10000;
    const ULONG_PTR end = reinterpret_cast<ULONG_PTR>(base) + nt->OptionalHeader.SizeOfImage;
    for (ULONG_PTR at = (end + granularity - 1) & ~(granularity - 1);
         at < reinterpret_cast<ULONG_PTR>(base) + 0x7FFF0000; at += granularity) {
        BYTE* page = static_cast<BYTE*>(
            VirtualAlloc(reinterpret_cast<void*>(at), granularity, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        if (page == NULL) continue;
        const BYTE jumpThroughNextQuad[] = {0xFF, 0x25, 0, 0, 0, 0};  // jmp *0(%rip)
        memcpy(page, jumpThroughNextQuad, sizeof jumpThroughNextQuad);
        memcpy(page + sizeof jumpThroughNextQuad, &target, sizeof target);
        DWORD before = 0;
        VirtualProtect(page, granularity, PAGE_EXECUTE_READ, &before);
        FlushInstructionCache(GetCurrentProcess(), page, granularity);
        return page;
    }
    return NULL;
#else
    (void)base;
    (void)nt;
    return target;
#endif
}

// The image whose entry point is wrapped (one driver a driver host): the
// loader may tell of it again.
BYTE* wrappedImage = NULL;

// Points the image's entry point, as the kernel reads it from the image's
// header, at the wrapper.
void WrapEntryPoint(HMODULE image) {
    BYTE* base = reinterpret_cast<BYTE*>(image);
    if (base == wrappedImage) return;
    IMAGE_NT_HEADERS* nt =
        reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    DWORD* entryRva = &nt->OptionalHeader.AddressOfEntryPoint;
    if (*entryRva == 0) return;
    void* wrapper = WrapDriverEntry(base + *entryRva);
    if (wrapper != NULL) wrapper = ReachableFromImage(base, nt, wrapper);
    if (wrapper == NULL) {
        BedLog("the entry point of the image at %p cannot be wrapped", base);
        return;
    }
    DWORD before = 0;
    if (!VirtualProtect(entryRva, sizeof *entryRva, PAGE_READWRITE, &before)) return;
    *entryRva = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(wrapper) - reinterpret_cast<ULONG_PTR>(base));
    VirtualProtect(entryRva, sizeof *entryRva, before, &before);
    wrappedImage = base;
}

void ServeImage(HMODULE image) {
    if (image == self || !ImportsFrom(image, "hal.dll")) return;
    int count = 0;
    const ServedImport* served = ServedKernelRoutines(&count);
    int patched = PatchImports(image, served, count);
    if (patched == 0) return;
    WrapEntryPoint(image);
    char name[MAX_PATH] = "";
    GetModuleFileNameA(image, name, sizeof name);
    BedLog("%s: %d kernel imports served", name, patched);
}

// The loader's notification of a newly loaded image (ntdll's
// LdrRegisterDllNotification), sent once its imports are resolved and
// before its entry point runs.
struct LoadedImage {
    ULONG flags;
    const void* fullName;
    const void* baseName;
    PVOID base;
    ULONG size;
};
const ULONG kImageLoaded = 1;
typedef VOID(CALLBACK* LoadNotification)(ULONG reason, const LoadedImage* image, PVOID context);
typedef LONG(NTAPI* RegisterLoadNotification)(ULONG flags, LoadNotification notification, PVOID context,
                                              PVOID* cookie);

VOID CALLBACK OnImageLoaded(ULONG reason, const LoadedImage* image, PVOID) {
    if (reason == kImageLoaded) ServeImage(static_cast<HMODULE>(image->base));
}

bool WatchImageLoads() {
    RegisterLoadNotification registerNotification = reinterpret_cast<RegisterLoadNotification>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "LdrRegisterDllNotification")));
    PVOID cookie = NULL;
    return registerNotification != NULL && registerNotification(0, OnImageLoaded, NULL, &cookie) >= 0;
}

void ServeLoadedImages() {
    HMODULE images[256];
    DWORD bytes = 0;
    if (!EnumProcessModules(GetCurrentProcess(), images, sizeof images, &bytes)) return;
    for (DWORD i = 0; i < bytes / sizeof images[0] && i < 256; ++i) ServeImage(images[i]);
}

bool Start(HMODULE module) {
    self = module;
    // Pinned: see above.
    HMODULE pinned = NULL;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCSTR>(&Start), &pinned);
    if (!StartIrqlTracking()) return false;
    const char* machineFile =
        GetFileAttributesA(kBedMachineFile) != INVALID_FILE_ATTRIBUTES ? kBedMachineFile : NULL;
    char error[512] = "";
    if (!BedLoadMachine(machineFile, error, sizeof error)) {
        BedLog("hal.dll: the machine cannot be loaded: %s", error);
        return false;
    }
    BedLog("hal.dll: machine %s", machineFile ? machineFile : "(built-in default)");
    if (!InstallPortHandler() || !WatchImageLoads() || !StartHardwareControl()) {
        BedLog("hal.dll: cannot set up the driver host");
        return false;
    }
    ServeLoadedImages();
    return true;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) return Start(instance) ? TRUE : FALSE;
    return TRUE;
}
