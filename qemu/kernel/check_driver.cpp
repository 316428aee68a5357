// The driver's entry, unload and the requests it refuses, on the test kernel.
#include <ntddk.h>

#include "bed.h"
#include "checks.h"
#include "driver_image.h"
#include "hal_bus.h"
#include "mm.h"
#include "pci_ports.h"
#include "report.h"
#include "security.h"

namespace {

UNICODE_STRING gRegistryPath;

// Loads a fresh copy of the image and calls its entry point, as the system
// starts the service; discardable sections go once DriverEntry returns.
NTSTATUS RunDriverEntry(const char* when) {
    if (!Check(DriverImageLoad(), "driver image loaded", "%s: %s", when, DriverImage().problem)) {
        return STATUS_UNSUCCESSFUL;
    }
    const PeImage& image = DriverImage();
    Note("%s: image at 0x%x (linked for 0x%x), %u relocations applied, %u imports bound", when,
         (ULONG)(ULONG_PTR)image.base, image.preferredBase, image.relocations, image.imports);
    // The system loads a driver only when its checksum is right.
    Check(image.checksumInFile == image.checksumComputed, "image checksum",
          "%s: 0x%x in the file, 0x%x computed", when, image.checksumInFile, image.checksumComputed);
    IoResetDriverObject();
    RtlInitUnicodeString(&gRegistryPath,
                         L"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\QUORVENAL");
    NTSTATUS status = CallDriverEntry(IoDriverObject(), &gRegistryPath);
    IoDriverEntryReturned();
    ULONG discarded = DriverImageDiscardInit();
    Note("%s: DriverEntry 0x%x; %u bytes of discardable sections released", when, (ULONG)status, discarded);
    return status;
}

bool IsDriverRoutine(PVOID routine, const char* symbol) {
    PVOID expected = DriverSymbol(symbol);
    return expected != nullptr && routine == expected;
}

bool HasEntry(const SecurityRecord& record, SidKind sid) {
    for (ULONG i = 0; i < record.entryCount && i < kMaxRecordedEntries; ++i) {
        if (record.entrySids[i] == sid && record.entryTypes[i] == ACCESS_ALLOWED_ACE_TYPE &&
            (record.entryMasks[i] & FILE_ALL_ACCESS) == FILE_ALL_ACCESS) {
            return true;
        }
    }
    return false;
}

// The device's DACL: SYSTEM and Administrators with all access, nobody else,
// set before the link existed, through a kernel handle closed again. An
// ordinary user's open is refused before the driver sees it; the program's
// handle (an administrator's, for reading and writing) opens.
void CheckDeviceSecurity(const char* when) {
    const SecurityRecord& record = SecurityState();
    Check(record.daclSet && record.setWithoutLink && !record.daclNull && record.entryCount == 2 &&
              HasEntry(record, kSystemSid) && HasEntry(record, kAdminsSid),
          "device open to SYSTEM and Administrators alone",
          "%s: set %d before link %d null %d entries %u (sids %u %u)", when, record.daclSet,
          record.setWithoutLink, record.daclNull, record.entryCount, record.entrySids[0],
          record.entrySids[1]);
    Check(record.handlesOpen == 0 && record.badCalls == 0, "security calls well formed",
          "%s: %u kernel handles left open, %u malformed calls", when, record.handlesOpen, record.badCalls);
    static FILE_OBJECT userFile;
    ControlOutcome user = OpenFileObject(&userFile, false, FILE_GENERIC_READ);
    ControlOutcome program = OpenProgramFile();
    Check(user.status == STATUS_ACCESS_DENIED && program.status == STATUS_SUCCESS && program.wellCompleted,
          "only an administrator opens the device", "%s: user 0x%x, administrator 0x%x", when,
          (ULONG)user.status, (ULONG)program.status);
}

void CheckLoaded(const char* when) {
    PDRIVER_OBJECT driver = IoDriverObject();
    const IoRecord& io = IoState();
    Check(io.deviceAlive && io.deviceNameOk && io.deviceType == FILE_DEVICE_UNKNOWN &&
              io.characteristics == FILE_DEVICE_SECURE_OPEN && !io.exclusive && io.extensionSize == 0,
          "device created", "%s: alive %d name %d type 0x%x characteristics 0x%x exclusive %d ext %u", when,
          io.deviceAlive, io.deviceNameOk, io.deviceType, io.characteristics, io.exclusive, io.extensionSize);
    Check(io.linkAlive && io.linkNameOk, "link created", "%s: alive %d names %d", when, io.linkAlive,
          io.linkNameOk);
    Check(IsDriverRoutine((PVOID)driver->MajorFunction[IRP_MJ_CREATE], "DispatchCreateClose") &&
              IsDriverRoutine((PVOID)driver->MajorFunction[IRP_MJ_CLOSE], "DispatchCreateClose") &&
              IsDriverRoutine((PVOID)driver->MajorFunction[IRP_MJ_DEVICE_CONTROL], "DispatchDeviceControl") &&
              IsDriverRoutine((PVOID)driver->DriverUnload, "UnloadDriver"),
          "dispatch table", "%s: create/close/control/unload not the driver's routines", when);
    Check(DriverEcamBase() == kNoEcam, "no base at load", "%s: EcamBase 0x%x", when, DriverEcamBase());
}

}  // namespace

NTSTATUS ReloadDriver(const char* when) {
    NTSTATUS status = RunDriverEntry(when);
    if (status == STATUS_SUCCESS) {
        CheckLoaded(when);
        CheckDeviceSecurity(when);
    }
    return status;
}

void CheckDriverEntry() {
    IoResetDriverObject();
    PDRIVER_DISPATCH platformDefault = IoDriverObject()->MajorFunction[IRP_MJ_READ];
    NTSTATUS status = RunDriverEntry("first load");
    Check(status == STATUS_SUCCESS, "DriverEntry", "status 0x%x", (ULONG)status);
    CheckLoaded("first load");
    CheckDeviceSecurity("first load");
    Check(IoDriverObject()->MajorFunction[IRP_MJ_READ] == platformDefault &&
              IoDriverObject()->MajorFunction[IRP_MJ_WRITE] == platformDefault,
          "other major functions keep the default", "read or write replaced");
    ControlOutcome open = SendCreateClose(IRP_MJ_CREATE);
    ControlOutcome close = SendCreateClose(IRP_MJ_CLOSE);
    Check(open.status == STATUS_SUCCESS && open.information == 0 && open.wellCompleted &&
              close.status == STATUS_SUCCESS && close.information == 0 && close.wellCompleted,
          "open and close", "open 0x%x/%u close 0x%x/%u", (ULONG)open.status, open.information,
          (ULONG)close.status, close.information);
}

void CheckRefusedRequests() {
    static ExtConfigRequest record;
    memset(&record, 0x3C, sizeof record);
    ControlOutcome unequal = SendDeviceControl(IOCTL_READ_CONFIG, &record, 272, 3856);
    ControlOutcome odd = SendDeviceControl(IOCTL_READ_CONFIG, &record, 100, 100);
    ControlOutcome unknown = SendDeviceControl(CTL_CODE(0x22, 0x906, 0, 0), &record, 272, 272);
    ControlOutcome shortExt = SendDeviceControl(IOCTL_READ_EXT_CONFIG, &record, 272, 272);
    ConfigRangeRequest* range = (ConfigRangeRequest*)&record;
    range->Length = 5;
    ControlOutcome longRange = SendDeviceControl(IOCTL_READ_CONFIG_RANGE, &record, 272, 272);
    Check(unequal.status == STATUS_INVALID_PARAMETER && odd.status == STATUS_INVALID_PARAMETER &&
              shortExt.status == STATUS_INVALID_PARAMETER,
          "lengths refused", "272/3856 0x%x, 100/100 0x%x, extended on 272 0x%x", (ULONG)unequal.status,
          (ULONG)odd.status, (ULONG)shortExt.status);
    Check(unknown.status == STATUS_INVALID_DEVICE_REQUEST, "unknown code refused", "0x%x",
          (ULONG)unknown.status);
    Check(longRange.status == STATUS_INVALID_PARAMETER && longRange.information == 4,
          "range length 5 refused", "0x%x information %u", (ULONG)longRange.status, longRange.information);
    Check(unequal.wellCompleted && odd.wellCompleted && unknown.wellCompleted && shortExt.wellCompleted &&
              longRange.wellCompleted,
          "refusals completed", "a refused request was not completed once with its status");
    CheckInvariants("refused requests");
}

void CheckExtendedBeforeBase() {
    static ExtConfigRequest record;
    MmResetCounts();
    memset(&record, 0xA5, sizeof record);
    record.Bus = 0;
    record.Device = 0;
    record.Function = 0;
    ControlOutcome read = SendDeviceControl(IOCTL_READ_EXT_CONFIG, &record, 3856, 3856);
    bool untouched = true;
    for (ULONG i = 0; i < sizeof record.ExtData; ++i) untouched = untouched && record.ExtData[i] == 0xA5;
    Check(Answered(read, 3856) && record.Result == 1 && untouched, "extended read before a base",
          "status 0x%x information %u Result %u data untouched %d", (ULONG)read.status, read.information,
          record.Result, untouched);
    ControlOutcome write = SendDeviceControl(IOCTL_WRITE_EXT_CONFIG, &record, 3856, 3856);
    Check(Answered(write, 3856) && record.Result == 1, "extended write before a base",
          "status 0x%x Result %u", (ULONG)write.status, record.Result);
    Check(MmCounts().maps == 0 && MmCounts().refused == 0, "no mapping without a base", "%u mappings made",
          MmCounts().maps);
    CheckInvariants("extended requests before a base");
}

namespace {

// With no base known: ordinary memory at the lowest candidate plus the place
// of an empty address holds two identifiers, and a header write for that
// address carries them. The driver must look for the identifiers the
// hardware holds there (none: nobody answers), take no base, and let no
// extended write for the address reach that memory.
void CheckSpoofedIdentifiers(ULONG absentDevice) {
    Bed& bed = TheBed();
    if (bed.expect.trapBase == 0 || absentDevice == 0) {
        Note("no RAM candidate or no empty address: spoofed identifiers not tried");
        return;
    }
    static UCHAR before[4096];
    static UCHAR header[256];
    static UCHAR pattern[3840];
    static ConfigRequest request;
    static ExtConfigRequest ext;
    ULONG place = EcamPlace(0, absentDevice, 0);
    volatile UCHAR* memory = (volatile UCHAR*)(ULONG_PTR)(bed.expect.trapBase | place);
    const UCHAR spoof[4] = {0xDE, 0xC0, 0xAD, 0x0B};
    for (ULONG i = 0; i < 4; ++i) memory[i] = spoof[i];
    for (ULONG i = 0; i < sizeof before; ++i) before[i] = memory[i];
    memset(header, 0, sizeof header);
    memcpy(header, spoof, sizeof spoof);
    memset(pattern, 0xA5, sizeof pattern);

    MmResetCounts();
    ControlOutcome write = ProgramWriteConfig(0, absentDevice, 0, header, &request);
    ULONG searchMaps = MmCounts().maps;
    ControlOutcome extWrite = ProgramWriteExt(0, absentDevice, 0, pattern, &ext);
    bool unchanged = true;
    for (ULONG i = 0; i < sizeof before; ++i) unchanged = unchanged && memory[i] == before[i];
    Check(Answered(write, 272) && request.Result == 1 && searchMaps == 0 && DriverEcamBase() == kNoEcam,
          "spoofed identifiers take no base", "00:%02x.0 Result %u, %u probes, EcamBase 0x%x", absentDevice,
          request.Result, searchMaps, DriverEcamBase());
    Check(Answered(extWrite, 3856) && ext.Result == 1 && MmCounts().maps == searchMaps && unchanged,
          "no byte of RAM changes after spoofed identifiers",
          "Result %u, %u mappings, RAM at 0x%x unchanged %d", ext.Result, MmCounts().maps - searchMaps,
          bed.expect.trapBase | place, unchanged);
    for (ULONG i = 0; i < 4; ++i) memory[i] = 0;
}

}  // namespace

// A handle opened for reading only: the read codes are served, the two write
// codes refused with STATUS_ACCESS_DENIED, and nothing is written.
void CheckReadOnlyHandle() {
    Bed& bed = TheBed();
    if (!Check(bed.foundCount > 0, "a function for the read-only handle", "none found")) return;
    const FoundFunction& f = bed.found[bed.foundCount - 1];
    static FILE_OBJECT reader;
    static ConfigRequest request;
    static ExtConfigRequest ext;
    ControlOutcome open = OpenFileObject(&reader, true, FILE_GENERIC_READ);
    if (!Check(open.status == STATUS_SUCCESS, "read-only handle opens", "0x%x", (ULONG)open.status)) {
        return;
    }
    memset(&request, 0, sizeof request);
    request.Bus = f.bus;
    request.Device = f.device;
    request.Function = f.function;
    ControlOutcome read = SendDeviceControlOn(&reader, IOCTL_READ_CONFIG, &request, 272, 272);
    Check(Answered(read, 272) && request.Result == 256 && memcmp(request.Data, f.header, 4) == 0,
          "read-only handle reads", "status 0x%x Result %u", (ULONG)read.status, request.Result);

    UCHAR lineBefore = request.Data[0x3C];
    request.Data[0x3C] = (UCHAR)(lineBefore ^ 0x0F);
    request.Result = 0xEEEEEEEE;
    MmResetCounts();
    ControlOutcome write = SendDeviceControlOn(&reader, IOCTL_WRITE_CONFIG, &request, 272, 272);
    memset(&ext, 0x5A, sizeof ext);
    ext.Bus = f.bus;
    ext.Device = f.device;
    ext.Function = f.function;
    ControlOutcome extWrite = SendDeviceControlOn(&reader, IOCTL_WRITE_EXT_CONFIG, &ext, 3856, 3856);
    ULONG line = Mech1ReadDword(f.bus, f.device, f.function, 0x3C) & 0xFF;
    Check(write.status == STATUS_ACCESS_DENIED && write.wellCompleted &&
              extWrite.status == STATUS_ACCESS_DENIED && extWrite.wellCompleted,
          "write codes refused on a read-only handle", "header 0x%x, extended 0x%x", (ULONG)write.status,
          (ULONG)extWrite.status);
    Check(line == lineBefore && MmCounts().maps == 0 && request.Result == 0xEEEEEEEE,
          "nothing written from a read-only handle", "line 0x%x (was 0x%x), %u mappings", line, lineBefore,
          MmCounts().maps);
    CloseFileObject(&reader);
    CheckInvariants("read-only handle");
}

void CheckUnloadAndReload() {
    Bed& bed = TheBed();
    CloseProgramFile();
    CallDriverUnload(IoDriverObject());
    const IoRecord& io = IoState();
    Check(!io.deviceAlive && !io.linkAlive && DriverEcamBase() == kNoEcam, "unload",
          "device %d link %d EcamBase 0x%x", io.deviceAlive, io.linkAlive, DriverEcamBase());

    NTSTATUS status = RunDriverEntry("second load");
    Check(status == STATUS_SUCCESS, "DriverEntry again", "status 0x%x", (ULONG)status);
    CheckLoaded("second load");
    CheckDeviceSecurity("second load");

    // After the reload no base is known. The requests that follow set off
    // the search from a header write, and with a place built from a bus
    // number above 0.
    const FoundFunction* target = nullptr;
    for (ULONG i = 0; i < bed.foundCount && target == nullptr; ++i) {
        if (bed.found[i].bus != 0) target = &bed.found[i];
    }
    if (!Check(target != nullptr, "a function behind a bridge", "none found")) return;

    static ULONG trace[32];
    static ConfigRequest request;
    // A header of all ones written to a device number nothing answers at
    // searches for vendor 0xFFFF, which reads 0xFFFF at the true window's
    // place: no candidate may be taken.
    static UCHAR ones[256];
    memset(ones, 0xFF, sizeof ones);
    ULONG absentDevice = 0;
    for (ULONG device = 1; device < 32 && absentDevice == 0; ++device) {
        bool present = false;
        for (ULONG i = 0; i < bed.foundCount; ++i) {
            present = present || (bed.found[i].bus == 0 && bed.found[i].device == device);
        }
        if (!present) absentDevice = device;
    }
    // Reads where no function answers (Result 2) or no bus exists (Result 0)
    // do not look for the base.
    MmResetCounts();
    ControlOutcome absentRead = ProgramReadConfig(0, absentDevice, 0, &request);
    ULONG absentResult = request.Result;
    ULONG noBus = 255;
    while (noBus > 0 && HalBusExists(noBus)) --noBus;
    ControlOutcome noBusRead = ProgramReadConfig(noBus, 0, 0, &request);
    Check(Answered(absentRead, 272) && absentResult == 2 && Answered(noBusRead, 272) && request.Result == 0 &&
              MmCounts().maps == 0 && MmCounts().refused == 0 && DriverEcamBase() == kNoEcam,
          "no search after a read where nothing answers", "Results %u and %u, %u mappings, EcamBase 0x%x",
          absentResult, request.Result, MmCounts().maps, DriverEcamBase());

    ControlOutcome write = ProgramWriteConfig(0, absentDevice, 0, ones, &request);
    Check(Answered(write, 272) && request.Result == 1 && DriverEcamBase() == kNoEcam,
          "no base taken for vendor 0xFFFF", "00:%02x.0 Result %u EcamBase 0x%x", absentDevice,
          request.Result, DriverEcamBase());

    CheckSpoofedIdentifiers(absentDevice);

    // The function's own header, as the scan read it, written back: the
    // search that follows the write finds the base at the function's place.
    MmResetCounts();
    MmTraceStart(trace, 32);
    write = ProgramWriteConfig(target->bus, target->device, target->function, target->header, &request);
    ULONG probes = MmTraceStop();
    ULONG place = EcamPlace(target->bus, target->device, target->function);
    ULONG used = 0;
    bool fits = SearchProbesFit(trace, probes < 32 ? probes : 32, place, bed.expect.ecamBase, &used);
    Check(Answered(write, 272) && request.Result == 1, "header write after reload", "status 0x%x Result %u",
          (ULONG)write.status, request.Result);
    Check(fits && used == probes, "search after a header write probes candidate | place",
          "%u probes, %u fit one search; first at 0x%x, place 0x%x", probes, used, probes ? trace[0] : 0,
          place);
    Check(DriverEcamBase() == bed.expect.ecamBase, "base found again", "EcamBase 0x%x, expected 0x%x",
          DriverEcamBase(), bed.expect.ecamBase);

    ControlOutcome read = ProgramReadConfig(target->bus, target->device, target->function, &request);
    Check(Answered(read, 272) && request.Result == 256 && memcmp(request.Data, target->header, 4) == 0 &&
              memcmp(request.Data + 8, target->header + 8, 4) == 0,
          "read after reload", "status 0x%x Result %u", (ULONG)read.status, request.Result);
    CheckInvariants("reload");
}
