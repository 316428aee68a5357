// Header writes against a HAL configuration read on the machine's other
// processor (processors.h): with KeIpiGenericCall the driver holds the other
// processor out of the whole write, whose HAL read then comes after it;
// loaded as on Windows XP (no KeIpiGenericCall) the same read falls between
// the driver's address and data writes, and the data lands in the function
// the HAL addressed. Also a handle opened with MAXIMUM_ALLOWED, which the
// I/O manager's check grants writing.
#include <ntddk.h>

#include "bed.h"
#include "checks.h"
#include "driver_image.h"
#include "io.h"
#include "irql.h"
#include "pci_ports.h"
#include "processors.h"
#include "report.h"

namespace {

const ULONG kInterruptLine = 0x3C;

ConfigRequest gRequest;

ULONG LineOf(const FoundFunction& f) {
    return Mech1ReadDword(f.bus, f.device, f.function, kInterruptLine) & 0xFF;
}

void SetLine(const FoundFunction& f, ULONG line) {
    ULONG dword = Mech1ReadDword(f.bus, f.device, f.function, kInterruptLine);
    Mech1WriteDword(f.bus, f.device, f.function, kInterruptLine, (dword & ~0xFFu) | line);
}

// Whether the function's interrupt line takes a write (the probe's target
// must show where the driver's data went).
bool LineIsWritable(const FoundFunction& f) {
    ULONG before = LineOf(f);
    SetLine(f, before ^ 0x5A);
    bool writable = LineOf(f) == (before ^ 0x5A);
    SetLine(f, before);
    return writable;
}

// The written function: an endpoint behind a bridge; the one the other
// processor's HAL reads: another function with a writable interrupt line.
bool PickPair(const FoundFunction** written, const FoundFunction** read) {
    Bed& bed = TheBed();
    *written = nullptr;
    *read = nullptr;
    for (ULONG i = 0; i < bed.foundCount; ++i) {
        const FoundFunction& f = bed.found[i];
        if (HeaderType(f.header) != 0 || !LineIsWritable(f)) continue;
        if (*written == nullptr && f.bus != 0) {
            *written = &f;
        } else if (*read == nullptr && f.bus == 0) {
            *read = &f;
        }
    }
    return *written != nullptr && *read != nullptr;
}

struct ProbeRun {
    ULONG writtenLine;  // what the header write carried
    ProbeOutcome probe;
    BroadcastCounts broadcasts;
    IrqlCounts irql;
    bool served;
};

ProbeRun WriteWithHalReadOnOtherProcessor(const FoundFunction& written, const FoundFunction& read) {
    ProbeRun run;
    ProgramReadConfig(written.bus, written.device, written.function, &gRequest);
    static UCHAR header[256];
    memcpy(header, gRequest.Data, sizeof header);
    run.writtenLine = header[kInterruptLine] ^ 0x33;
    header[kInterruptLine] = (UCHAR)run.writtenLine;
    ProbeArm(ConfigAddress(written.bus, written.device, written.function, kInterruptLine),
             ConfigAddress(read.bus, read.device, read.function, kInterruptLine));
    BroadcastResetCounts();
    IrqlResetCounts();
    ControlOutcome o = ProgramWriteConfig(written.bus, written.device, written.function, header, &gRequest);
    run.served = Answered(o, 272) && gRequest.Result == 1;
    run.probe = ProbeResult();
    run.broadcasts = BroadcastCountsNow();
    run.irql = IrqlCountsNow();
    ProbeDisarm();
    return run;
}

}  // namespace

void CheckOtherProcessor() {
    const FoundFunction* written = nullptr;
    const FoundFunction* read = nullptr;
    if (!Check(PickPair(&written, &read), "two functions for the other processor's probe",
               "no endpoint behind a bridge and other function with a writable interrupt line")) {
        return;
    }
    ULONG writtenBefore = LineOf(*written);
    ULONG readBefore = LineOf(*read);
    ProbeRun run = WriteWithHalReadOnOtherProcessor(*written, *read);
    Check(run.served && run.probe.triggered && run.probe.deferred && run.probe.done,
          "the other processor's HAL read waits for the header write",
          "served %d, probe triggered %d, held in the broadcast %d, read done %d", run.served,
          run.probe.triggered, run.probe.deferred, run.probe.done);
    Check(run.broadcasts.broadcasts == 1 && run.broadcasts.driverPortsInside == 256 && run.irql.raises == 64,
          "the header write runs inside one broadcast",
          "%u broadcasts, %u of the driver's port accesses inside one, %u raises", run.broadcasts.broadcasts,
          run.broadcasts.driverPortsInside, run.irql.raises);
    Check(LineOf(*written) == run.writtenLine && LineOf(*read) == readBefore &&
              (run.probe.halRead & 0xFF) == readBefore,
          "no byte of the header write lands in another function",
          "%02x:%02x.%x line 0x%02x (wrote 0x%02x); %02x:%02x.%x line 0x%02x (was 0x%02x), HAL read 0x%02x",
          written->bus, written->device, written->function, LineOf(*written), run.writtenLine, read->bus,
          read->device, read->function, LineOf(*read), readBefore, run.probe.halRead & 0xFF);
    SetLine(*written, writtenBefore);
    CheckInvariants("the other processor's probe");
}

void CheckMaximumAllowedHandle() {
    const FoundFunction* written = nullptr;
    const FoundFunction* read = nullptr;
    if (!PickPair(&written, &read)) return;
    static FILE_OBJECT handle;
    ControlOutcome open = OpenFileObject(&handle, true, 0x02000000);  // MAXIMUM_ALLOWED
    if (!Check(open.status == STATUS_SUCCESS, "a MAXIMUM_ALLOWED handle opens", "0x%x", (ULONG)open.status)) {
        return;
    }
    ULONG before = LineOf(*written);
    memset(&gRequest, 0, sizeof gRequest);
    gRequest.Bus = written->bus;
    gRequest.Device = written->device;
    gRequest.Function = written->function;
    SendDeviceControlOn(&handle, IOCTL_READ_CONFIG, &gRequest, 272, 272);
    gRequest.Data[kInterruptLine] = (UCHAR)(before ^ 0x0C);
    ControlOutcome write = SendDeviceControlOn(&handle, IOCTL_WRITE_CONFIG, &gRequest, 272, 272);
    Check(Answered(write, 272) && LineOf(*written) == (before ^ 0x0C), "a MAXIMUM_ALLOWED handle writes",
          "status 0x%x, line 0x%02x (wrote 0x%02x)", (ULONG)write.status, LineOf(*written), before ^ 0x0C);
    SetLine(*written, before);
    CloseFileObject(&handle);
    CheckInvariants("MAXIMUM_ALLOWED handle");
}

void CheckWithoutBroadcast() {
    const FoundFunction* written = nullptr;
    const FoundFunction* read = nullptr;
    if (!PickPair(&written, &read)) return;
    CloseProgramFile();
    CallDriverUnload(IoDriverObject());
    SystemRoutinesAsOnXp(true);
    BroadcastResetCounts();
    NTSTATUS status = ReloadDriver("load as on XP");
    BroadcastCounts lookups = BroadcastCountsNow();
    SystemRoutinesAsOnXp(false);
    Check(status == STATUS_SUCCESS && lookups.broadcastLookups == 1,
          "the driver loads without KeIpiGenericCall", "DriverEntry 0x%x, %u lookups of KeIpiGenericCall",
          (ULONG)status, lookups.broadcastLookups);
    if (status != STATUS_SUCCESS) return;
    ULONG writtenBefore = LineOf(*written);
    ULONG readBefore = LineOf(*read);
    ProbeRun run = WriteWithHalReadOnOtherProcessor(*written, *read);
    // What remains on XP, shown by the same probe: the HAL's address write
    // between the driver's address and data writes sends the data elsewhere.
    Check(
        run.served && run.broadcasts.broadcasts == 0 && run.irql.raises == 64 && run.irql.portsNotRaised == 0,
        "without the broadcast each doubleword still runs at HIGH_LEVEL",
        "served %d, %u broadcasts, %u raises, %u port accesses not raised", run.served,
        run.broadcasts.broadcasts, run.irql.raises, run.irql.portsNotRaised);
    Check(run.probe.triggered && !run.probe.deferred && LineOf(*read) == run.writtenLine &&
              LineOf(*written) == writtenBefore,
          "without the broadcast the other processor's HAL cycle splits the write (the limit on XP)",
          "probe triggered %d deferred %d; %02x:%02x.%x line 0x%02x, %02x:%02x.%x line 0x%02x (wrote 0x%02x)",
          run.probe.triggered, run.probe.deferred, read->bus, read->device, read->function, LineOf(*read),
          written->bus, written->device, written->function, LineOf(*written), run.writtenLine);
    SetLine(*read, readBefore);
    SetLine(*written, writtenBefore);
    CheckInvariants("load as on XP");
}
