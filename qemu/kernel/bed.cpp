#include "bed.h"

#include "device_memory.h"
#include "driver_image.h"
#include "hal_bus.h"
#include "irql.h"
#include "mm.h"
#include "pool.h"
#include "ram_map.h"
#include "security.h"
#include "report.h"

namespace {
Bed gBed;
}  // namespace

Bed& TheBed() { return gBed; }

ControlOutcome ProgramReadConfig(ULONG bus, ULONG device, ULONG function, ConfigRequest* request) {
    memset(request, 0, sizeof *request);
    request->Bus = bus;
    request->Device = device;
    request->Function = function;
    return SendDeviceControl(IOCTL_READ_CONFIG, request, sizeof *request, sizeof *request);
}

ControlOutcome ProgramWriteConfig(ULONG bus, ULONG device, ULONG function, const UCHAR* data,
                                  ConfigRequest* request) {
    memset(request, 0, sizeof *request);
    request->Bus = bus;
    request->Device = device;
    request->Function = function;
    memcpy(request->Data, data, sizeof request->Data);
    return SendDeviceControl(IOCTL_WRITE_CONFIG, request, sizeof *request, sizeof *request);
}

ControlOutcome ProgramReadExt(ULONG bus, ULONG device, ULONG function, ExtConfigRequest* request) {
    memset(request, 0, sizeof *request);
    request->Bus = bus;
    request->Device = device;
    request->Function = function;
    return SendDeviceControl(IOCTL_READ_EXT_CONFIG, request, sizeof *request, sizeof *request);
}

ControlOutcome ProgramWriteExt(ULONG bus, ULONG device, ULONG function, const UCHAR* extData,
                               ExtConfigRequest* request) {
    memset(request, 0, sizeof *request);
    request->Bus = bus;
    request->Device = device;
    request->Function = function;
    memcpy(request->ExtData, extData, sizeof request->ExtData);
    return SendDeviceControl(IOCTL_WRITE_EXT_CONFIG, request, sizeof *request, sizeof *request);
}

bool Answered(const ControlOutcome& outcome, ULONG recordBytes) {
    return outcome.status == STATUS_SUCCESS && outcome.information == recordBytes && outcome.wellCompleted;
}

ULONG HeaderType(const UCHAR* header) { return header[0x0E] & 0x7F; }
USHORT VendorOf(const UCHAR* header) { return (USHORT)(header[0] | header[1] << 8); }
USHORT DeviceIdOf(const UCHAR* header) { return (USHORT)(header[2] | header[3] << 8); }

ULONG FindCapability(const UCHAR* header, UCHAR id) {
    if ((header[0x06] & 0x10) == 0) return 0;  // no capability list
    ULONG pointerAt = HeaderType(header) == 2 ? 0x14 : 0x34;
    ULONG at = header[pointerAt] & 0xFC;
    for (int hops = 0; at >= 0x40 && hops < 48; ++hops) {
        if (header[at] == id) return at;
        at = header[at + 1] & 0xFC;
    }
    return 0;
}

ULONG EcamPlace(ULONG bus, ULONG device, ULONG function) {
    return (bus & 0xFF) << 20 | (device & 0x1F) << 15 | (function & 7) << 12;
}

ULONG DirectEcamDword(ULONG base, ULONG bus, ULONG device, ULONG function, ULONG offset) {
    ULONG address = base | EcamPlace(bus, device, function) | (offset & 0xFFC);
    return *(volatile ULONG*)(ULONG_PTR)address;
}

bool SearchProbesFit(const ULONG* trace, ULONG count, ULONG place, ULONG base, ULONG* used) {
    ULONG last = base == kNoEcam ? 15 : base >> 28;
    ULONG nearDevices = CandidatesMeetingDeviceMemory(place);
    ULONG lowest = place;
    if (!LowestFunctionPlace(place >> 20, &lowest)) lowest = place;
    ULONG at = 0;
    for (ULONG candidate = 1; candidate <= last; ++candidate) {
        ULONG probe = candidate << 28 | place;
        // RAM and device memory are never mapped: they read as 0xFFFF.
        if (RamPageHolds(probe) || (nearDevices >> (candidate - 1) & 1) != 0) {
            if (candidate == last) {
                *used = at;
                return base == kNoEcam;
            }
            continue;
        }
        if (at >= count || trace[at] != probe) break;
        ++at;
        bool deviceRead = at < count && trace[at] == probe + 2;
        if (deviceRead) ++at;
        if (candidate == last) {
            // A base found through a function above the lowest bus holds
            // that bus's first function at its place too.
            bool confirmed =
                (lowest >> 20) == (place >> 20) ||
                (at + 1 < count && trace[at] == (base | lowest) && trace[at + 1] == (base | lowest) + 2);
            if (deviceRead && confirmed && (lowest >> 20) != (place >> 20)) at += 2;
            *used = at;
            return base == kNoEcam || (deviceRead && confirmed);
        }
    }
    *used = at;
    return false;
}

void CheckInvariants(const char* when) {
    MappingCounts m = MmCounts();
    const IoRecord& io = IoState();
    Check(m.outstanding == 0 && m.badUnmaps == 0 && m.maxOutstanding <= 1, "mappings released",
          "%s: %u alive, %u bad unmaps, %u alive at once", when, m.outstanding, m.badUnmaps,
          m.maxOutstanding);
    Check(m.notTwoBytes == 0 && m.notUncached == 0 && m.refused == 0, "mappings of 2 uncached bytes",
          "%s: %u not 2 bytes, %u not uncached, %u refused", when, m.notTwoBytes, m.notUncached, m.refused);
    Check(HalMalformedCalls() == 0, "HAL calls well formed",
          "%s: %u calls with a bad slot number or bus data type", when, HalMalformedCalls());
    Check(io.mutexDepth == 0 && io.badReleases == 0, "locks released",
          "%s: %u acquisitions held, %u releases of a free mutex", when, io.mutexDepth, io.badReleases);
    Check(io.boostsNotZero == 0, "completed without boost", "%s: %u completions with a boost", when,
          io.boostsNotZero);
    Check(m.ramMappings == 0, "no RAM mapped", "%s: %u mappings of a page of RAM", when, m.ramMappings);
    Check(m.registerOutside == 0, "register accesses inside their mappings",
          "%s: %u accesses outside every mapping", when, m.registerOutside);
    PoolCounts pool = PoolCountsNow();
    Check(pool.outstanding == 0 && pool.badFrees == 0, "RAM lists freed",
          "%s: %u pool blocks not freed, %u bad frees", when, pool.outstanding, pool.badFrees);
    IrqlCounts irql = IrqlCountsNow();
    Check(IrqlCurrent() == PASSIVE_LEVEL && irql.callsRaised == 0 && irql.badRaises == 0 &&
              irql.badLowers == 0 && irql.returnedRaised == 0 && irql.portsNotRaised == 0 &&
              irql.sequencesNotFour == 0,
          "IRQL rules kept",
          "%s: level %u, %u calls above their level, %u bad raises, %u bad lowers, %u returns "
          "raised, %u port accesses not raised, %u raises not of four port accesses",
          when, IrqlCurrent(), irql.callsRaised, irql.badRaises, irql.badLowers, irql.returnedRaised,
          irql.portsNotRaised, irql.sequencesNotFour);
    Check(SecurityState().handlesOpen == 0 && SecurityState().badCloses == 0, "object handles closed",
          "%s: %u open, %u bad closes", when, SecurityState().handlesOpen, SecurityState().badCloses);
    Check(DriverCallsBroken() == 0, "driver routines keep the stdcall convention",
          "%s: %u calls broke it, the last into %s (%s%s%s)", when, DriverCallsBroken(),
          DriverLastBrokenRoutine(), DriverLastBreak() & 1 ? "arguments not removed from the stack; " : "",
          DriverLastBreak() & 2 ? "EBX/ESI/EDI not preserved; " : "",
          DriverLastBreak() & 4 ? "EBP not preserved" : "");
}
