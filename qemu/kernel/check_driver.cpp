// The driver's entry, unload and the requests it refuses, on the test kernel.
#include <ntddk.h>

#include "bed.h"
#include "checks.h"
#include "driver_image.h"
#include "hal_bus.h"
#include "mm.h"
#include "report.h"

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
    Note("%s: DriverEntry 0x%x; %u bytes of discardable sections released", when, (ULONG)status,
         discarded);
    return status;
}

bool IsDriverRoutine(PVOID routine, const char* symbol) {
    PVOID expected = DriverSymbol(symbol);
    return expected != nullptr && routine == expected;
}

void CheckLoaded(const char* when) {
    PDRIVER_OBJECT driver = IoDriverObject();
    const IoRecord& io = IoState();
    Check(io.deviceAlive && io.deviceNameOk && io.deviceType == FILE_DEVICE_UNKNOWN &&
              io.characteristics == FILE_DEVICE_SECURE_OPEN && !io.exclusive &&
              io.extensionSize == 0,
          "device created", "%s: alive %d name %d type 0x%x characteristics 0x%x exclusive %d ext %u",
          when, io.deviceAlive, io.deviceNameOk, io.deviceType, io.characteristics, io.exclusive,
          io.extensionSize);
    Check(io.linkAlive && io.linkNameOk, "link created", "%s: alive %d names %d", when,
          io.linkAlive, io.linkNameOk);
    Check(IsDriverRoutine((PVOID)driver->MajorFunction[IRP_MJ_CREATE], "DispatchCreateClose") &&
              IsDriverRoutine((PVOID)driver->MajorFunction[IRP_MJ_CLOSE], "DispatchCreateClose") &&
              IsDriverRoutine((PVOID)driver->MajorFunction[IRP_MJ_DEVICE_CONTROL],
                              "DispatchDeviceControl") &&
              IsDriverRoutine((PVOID)driver->DriverUnload, "UnloadDriver"),
          "dispatch table", "%s: create/close/control/unload not the driver's routines", when);
    Check(DriverEcamBase() == kNoEcam, "no base at load", "%s: EcamBase 0x%x", when, DriverEcamBase());
}

}  // namespace

void CheckDriverEntry() {
    IoResetDriverObject();
    PDRIVER_DISPATCH platformDefault = IoDriverObject()->MajorFunction[IRP_MJ_READ];
    NTSTATUS status = RunDriverEntry("first load");
    Check(status == STATUS_SUCCESS, "DriverEntry", "status 0x%x", (ULONG)status);
    CheckLoaded("first load");
    Check(IoDriverObject()->MajorFunction[IRP_MJ_READ] == platformDefault &&
              IoDriverObject()->MajorFunction[IRP_MJ_WRITE] == platformDefault,
          "other major functions keep the default", "read or write replaced");
    ControlOutcome open = SendCreateClose(IRP_MJ_CREATE);
    ControlOutcome close = SendCreateClose(IRP_MJ_CLOSE);
    Check(open.status == STATUS_SUCCESS && open.information == 0 && open.wellCompleted &&
              close.status == STATUS_SUCCESS && close.information == 0 && close.wellCompleted,
          "open and close", "open 0x%x/%u close 0x%x/%u", (ULONG)open.status, open.information,
          (ULONG)close.status, close.information);
    // The handle the program's requests go on, open until the unload.
    OpenProgramFile();
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
          "lengths refused", "272/3856 0x%x, 100/100 0x%x, extended on 272 0x%x",
          (ULONG)unequal.status, (ULONG)odd.status, (ULONG)shortExt.status);
    Check(unknown.status == STATUS_INVALID_DEVICE_REQUEST, "unknown code refused", "0x%x",
          (ULONG)unknown.status);
    Check(longRange.status == STATUS_INVALID_PARAMETER && longRange.information == 4,
          "range length 5 refused", "0x%x information %u", (ULONG)longRange.status,
          longRange.information);
    Check(unequal.wellCompleted && odd.wellCompleted && unknown.wellCompleted &&
              shortExt.wellCompleted && longRange.wellCompleted,
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
          "status 0x%x information %u Result %u data untouched %d", (ULONG)read.status,
          read.information, record.Result, untouched);
    ControlOutcome write = SendDeviceControl(IOCTL_WRITE_EXT_CONFIG, &record, 3856, 3856);
    Check(Answered(write, 3856) && record.Result == 1, "extended write before a base",
          "status 0x%x Result %u", (ULONG)write.status, record.Result);
    Check(MmCounts().maps == 0 && MmCounts().refused == 0, "no mapping without a base",
          "%u mappings made", MmCounts().maps);
    CheckInvariants("extended requests before a base");
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
    OpenProgramFile();

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
    Check(Answered(absentRead, 272) && absentResult == 2 && Answered(noBusRead, 272) &&
              request.Result == 0 && MmCounts().maps == 0 && MmCounts().refused == 0 &&
              DriverEcamBase() == kNoEcam,
          "no search after a read where nothing answers",
          "Results %u and %u, %u mappings, EcamBase 0x%x", absentResult, request.Result,
          MmCounts().maps, DriverEcamBase());

    ControlOutcome write = ProgramWriteConfig(0, absentDevice, 0, ones, &request);
    Check(Answered(write, 272) && request.Result == 1 && DriverEcamBase() == kNoEcam,
          "no base taken for vendor 0xFFFF", "00:%02x.0 Result %u EcamBase 0x%x", absentDevice,
          request.Result, DriverEcamBase());

    // The function's own header, as the scan read it, written back: the
    // search that follows the write finds the base at the function's place.
    MmResetCounts();
    MmTraceStart(trace, 32);
    write = ProgramWriteConfig(target->bus, target->device, target->function, target->header,
                               &request);
    ULONG probes = MmTraceStop();
    ULONG place = EcamPlace(target->bus, target->device, target->function);
    ULONG used = 0;
    bool fits = SearchProbesFit(trace, probes < 32 ? probes : 32, place, bed.expect.ecamBase, &used);
    Check(Answered(write, 272) && request.Result == 1, "header write after reload",
          "status 0x%x Result %u", (ULONG)write.status, request.Result);
    Check(fits && used == probes, "search after a header write probes candidate | place",
          "%u probes, %u fit one search; first at 0x%x, place 0x%x", probes, used,
          probes ? trace[0] : 0, place);
    Check(DriverEcamBase() == bed.expect.ecamBase, "base found again", "EcamBase 0x%x, expected 0x%x",
          DriverEcamBase(), bed.expect.ecamBase);

    ControlOutcome read = ProgramReadConfig(target->bus, target->device, target->function, &request);
    Check(Answered(read, 272) && request.Result == 256 &&
              memcmp(request.Data, target->header, 4) == 0 &&
              memcmp(request.Data + 8, target->header + 8, 4) == 0,
          "read after reload", "status 0x%x Result %u", (ULONG)read.status, request.Result);
    CheckInvariants("reload");
}
