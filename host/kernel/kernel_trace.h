// What the stand-in kernel did, for tests and tools to inspect: counters that
// always run, and a log of port accesses and I/O-space mappings that runs
// between StartKernelTrace and StopKernelTrace.
#ifndef STANDIN_KERNEL_TRACE_H
#define STANDIN_KERNEL_TRACE_H

#include <cstdint>
#include <functional>
#include <vector>

namespace standin {

struct PortAccess {
    uint16_t port;
    bool write;
    uint32_t value;  // the value written, or the value read
    uint8_t irql;    // the processor's IRQL at the access
    uint64_t raise;  // how many KfRaiseIrql calls came before it
};

struct MappingRecord {
    uint64_t physical;
    uint64_t length;
    bool mapped;  // false: nothing there, MmMapIoSpace returned NULL
};

struct KernelCounters {
    uint64_t portReads = 0;
    uint64_t portWrites = 0;
    uint64_t mappingsMade = 0;
    uint64_t mappingsRefused = 0;
    uint64_t unmaps = 0;
    uint64_t badUnmaps = 0;    // an address or length that no mapping had
    int64_t liveMappings = 0;  // made and not yet released
    uint64_t halReads = 0;
    uint64_t requestsCompleted = 0;
    uint64_t driverFaults = 0;  // requests not completed, completed twice, or overlong replies
    int32_t lastStatus = 0;     // IoStatus of the last device-control request completed
    uint64_t lastInformation = 0;
    uint64_t irqlRaises = 0;        // KfRaiseIrql calls
    uint64_t irqlFaults = 0;        // routines called above their IRQL, bad raises and lowers
    uint64_t ramMappings = 0;       // MmMapIoSpace calls that reached a page of RAM
    uint64_t memoryRangeLists = 0;  // MmGetPhysicalMemoryRanges calls answered with a list
    int64_t livePool = 0;           // pool blocks handed out and not yet freed
    uint64_t badPoolFrees = 0;      // ExFreePool of a block the kernel did not hand out
    uint64_t registerReads = 0;     // READ_REGISTER_USHORT calls inside a live mapping
    uint64_t registerWrites = 0;    // WRITE_REGISTER_USHORT calls inside a live mapping
};

void StartKernelTrace();  // clears the log and starts recording
void StopKernelTrace();
std::vector<PortAccess> TracedPortAccesses();
std::vector<MappingRecord> TracedMappings();
KernelCounters GetKernelCounters();
void ResetKernelCounters();
// Mappings made and not yet released by the calling thread (unmaps of other
// threads' mappings count against it); the I/O manager compares it around a
// driver's routines to find a mapping left behind.
int64_t ThreadLiveMappings();

// For tests of concurrency: a hook called on every port access and every
// MmMapIoSpace, in the thread that makes it, before it reaches the machine
// (empty: none); and how many threads are in KeWaitForSingleObject now.
enum class HookedAccess { PortRead, PortWrite, Mapping };
using AccessHook = std::function<void(HookedAccess kind, uint64_t where, uint32_t value)>;
void SetAccessHook(AccessHook hook);
void RunAccessHook(HookedAccess kind, uint64_t where, uint32_t value);
int MutexWaiters();
// Kernel mutexes the calling thread holds (each acquisition counted).
int ThreadHeldMutexes();
// Whether the calling thread released a mutex with Wait TRUE and has not
// waited since (Windows keeps it at raised IRQL until it does).
bool ThreadOwesAWait();
void TraceMutexWait(int delta);

// Makes MmGetPhysicalMemoryRanges answer NULL (no pool) until set back.
void SetMemoryRangesUnavailable(bool unavailable);

// Used by the stand-in kernel itself.
// A broken kernel rule (kernel_rules/fault.h): a driver fault, counted
// also under the rule's own counter.
enum class RuleCounter { Irql, RamMapping, PoolFree };
void TraceRuleFault(RuleCounter counter, const char* what);
void TraceRaise();
void TraceMemoryRangeList();
void TracePool(bool allocated);  // a block handed out, or a block freed
void TraceRegisterAccess(bool write, bool inMapping);
void TracePort(uint16_t port, bool write, uint32_t value);
void TraceMapping(uint64_t physical, uint64_t length, bool mapped);
void TraceUnmap(bool known);
void TraceHalRead();
void TraceCompletion();
void TraceDeviceControlResult(int32_t status, uint64_t information);
void TraceDriverFault(const char* what);

}  // namespace standin

#endif
