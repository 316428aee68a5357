// Byte-range reads, and a standard read carried in an extended-size record,
// against the header the scan read.
#include <ntddk.h>

#include "bed.h"
#include "checks.h"
#include "report.h"

namespace {

ExtConfigRequest gRecord;

bool TailAsSent(const UCHAR* bytes, ULONG count, UCHAR fill) {
    for (ULONG i = 0; i < count; ++i) {
        if (bytes[i] != fill) return false;
    }
    return true;
}

}  // namespace

void CheckRangeReads() {
    Bed& bed = TheBed();
    const FoundFunction* target = nullptr;
    for (ULONG i = 0; i < bed.foundCount && target == nullptr; ++i) {
        if (bed.found[i].bus != 0) target = &bed.found[i];
    }
    if (!Check(target != nullptr, "a function behind a bridge", "none found")) return;
    const FoundFunction& f = *target;

    // The identifiers through the first layout; what the driver does not
    // fill comes back as sent.
    ConfigRangeRequest* range = (ConfigRangeRequest*)&gRecord;
    memset(range, 0x6B, sizeof *range);
    range->Bus = f.bus;
    range->Device = f.device;
    range->Function = f.function;
    range->Offset = 0;
    range->Length = 4;
    ControlOutcome o = SendDeviceControl(IOCTL_READ_CONFIG_RANGE, range, 272, 272);
    Check(Answered(o, 272) && range->Result == 4 && memcmp(range->Bytes, f.header, 4) == 0 &&
              TailAsSent(range->Unused, sizeof range->Unused, 0x6B),
          "range read", "%02x:%02x.%x Result %u bytes %02x%02x%02x%02x", f.bus, f.device, f.function,
          range->Result, range->Bytes[0], range->Bytes[1], range->Bytes[2], range->Bytes[3]);

    // The class code through the second layout, whatever Reserved holds.
    ConfigRangeRequest2* range2 = (ConfigRangeRequest2*)&gRecord;
    memset(range2, 0x6B, sizeof *range2);
    range2->Bus = f.bus;
    range2->Device = f.device;
    range2->Function = f.function;
    range2->Reserved = 0xFFFFFFFF;
    range2->Offset = 8;
    range2->Length = 4;
    o = SendDeviceControl(IOCTL_READ_CONFIG_RANGE2, range2, 272, 272);
    Check(Answered(o, 272) && range2->Result == 4 && memcmp(range2->Bytes, f.header + 8, 4) == 0 &&
              TailAsSent(range2->Unused, sizeof range2->Unused, 0x6B),
          "second range layout", "%02x:%02x.%x Result %u", f.bus, f.device, f.function, range2->Result);

    // A standard read in a 3856-byte record uses its first 272 bytes only.
    memset(&gRecord, 0x6B, sizeof gRecord);
    ConfigRequest* header = (ConfigRequest*)&gRecord;
    header->Bus = f.bus;
    header->Device = f.device;
    header->Function = f.function;
    o = SendDeviceControl(IOCTL_READ_CONFIG, &gRecord, 3856, 3856);
    const UCHAR* tail = (const UCHAR*)&gRecord + sizeof(ConfigRequest);
    Check(Answered(o, 3856) && header->Result == 256 && memcmp(header->Data, f.header, 4) == 0 &&
              TailAsSent(tail, sizeof gRecord - sizeof(ConfigRequest), 0x6B),
          "standard read in an extended-size record", "%02x:%02x.%x Result %u", f.bus, f.device, f.function,
          header->Result);
    CheckInvariants("range reads");
}
