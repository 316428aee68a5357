// Counters and the optional access log of the stand-in kernel.
#include "kernel/kernel_trace.h"

#include "kernel_rules/irql_rules.h"

#include <atomic>
#include <cstdio>
#include <mutex>

namespace standin {

namespace {

// Bounds the log so that a long traced run cannot exhaust memory.
constexpr size_t kMaxLogEntries = 4u << 20;

struct TraceState {
    std::mutex lock;
    bool recording = false;
    std::vector<PortAccess> ports;
    std::vector<MappingRecord> mappings;
    KernelCounters counters;
};

thread_local int64_t threadLiveMappings = 0;
std::atomic<int> mutexWaiters{0};

AccessHook& TheAccessHook() {
    static AccessHook* hook = new AccessHook;  // set by a test while no driver runs
    return *hook;
}

TraceState& State() {
    static TraceState* state = new TraceState;  // lives as long as the process
    return *state;
}

}  // namespace

void StartKernelTrace() {
    TraceState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    state.ports.clear();
    state.mappings.clear();
    state.recording = true;
}

void StopKernelTrace() {
    TraceState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    state.recording = false;
}

std::vector<PortAccess> TracedPortAccesses() {
    TraceState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    return state.ports;
}

std::vector<MappingRecord> TracedMappings() {
    TraceState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    return state.mappings;
}

KernelCounters GetKernelCounters() {
    TraceState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    return state.counters;
}

void ResetKernelCounters() {
    TraceState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    int64_t live = state.counters.liveMappings;  // mappings still held stay counted
    int64_t pool = state.counters.livePool;      // and so do pool blocks
    state.counters = KernelCounters();
    state.counters.liveMappings = live;
    state.counters.livePool = pool;
}

int64_t ThreadLiveMappings() { return threadLiveMappings; }

void SetAccessHook(AccessHook hook) { TheAccessHook() = std::move(hook); }

void RunAccessHook(HookedAccess kind, uint64_t where, uint32_t value) {
    if (TheAccessHook()) TheAccessHook()(kind, where, value);
}

int MutexWaiters() { return mutexWaiters.load(); }

void TraceMutexWait(int delta) { mutexWaiters += delta; }

void TracePort(uint16_t port, bool write, uint32_t value) {
    TraceState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    ++(write ? state.counters.portWrites : state.counters.portReads);
    if (state.recording && state.ports.size() < kMaxLogEntries) {
        state.ports.push_back(
            PortAccess{port, write, value, kernel_rules::ProcessorLevel(), state.counters.irqlRaises});
    }
}

void TraceMapping(uint64_t physical, uint64_t length, bool mapped) {
    TraceState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    if (mapped) {
        ++threadLiveMappings;
        ++state.counters.mappingsMade;
        ++state.counters.liveMappings;
    } else {
        ++state.counters.mappingsRefused;
    }
    if (state.recording && state.mappings.size() < kMaxLogEntries) {
        state.mappings.push_back(MappingRecord{physical, length, mapped});
    }
}

void TraceUnmap(bool known) {
    TraceState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    if (known) {
        --threadLiveMappings;
        ++state.counters.unmaps;
        --state.counters.liveMappings;
    } else {
        ++state.counters.badUnmaps;
    }
}

void TraceRuleFault(RuleCounter counter, const char* what) {
    TraceDriverFault(what);
    TraceState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    switch (counter) {
        case RuleCounter::Irql: ++state.counters.irqlFaults; break;
        case RuleCounter::RamMapping: ++state.counters.ramMappings; break;
        case RuleCounter::PoolFree: ++state.counters.badPoolFrees; break;
    }
}

void TraceRaise() {
    TraceState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    ++state.counters.irqlRaises;
}

void TraceMemoryRangeList() {
    TraceState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    ++state.counters.memoryRangeLists;
}

void TracePool(bool allocated) {
    TraceState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    state.counters.livePool += allocated ? 1 : -1;
}

void TraceRegisterAccess(bool write, bool inMapping) {
    if (!inMapping) {
        TraceDriverFault("register access outside every live mapping");
        return;
    }
    TraceState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    ++(write ? state.counters.registerWrites : state.counters.registerReads);
}

void TraceHalRead() {
    TraceState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    ++state.counters.halReads;
}

void TraceCompletion() {
    TraceState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    ++state.counters.requestsCompleted;
}

void TraceDeviceControlResult(int32_t status, uint64_t information) {
    TraceState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    state.counters.lastStatus = status;
    state.counters.lastInformation = information;
}

void TraceDriverFault(const char* what) {
    std::fprintf(stderr, "stand-in kernel: driver fault: %s\n", what);
    TraceState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    ++state.counters.driverFaults;
}

}  // namespace standin
