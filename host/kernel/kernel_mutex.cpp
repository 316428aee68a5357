// Kernel mutexes: each KMUTEX the stand-in has initialised is backed by a
// host recursive mutex (a kernel mutex may be re-acquired by its owner).
// Releasing a mutex the thread does not hold is a driver fault that ends the
// process, as Windows stops the machine for it; ThreadHeldMutexes lets the
// I/O manager find a routine that returns still holding one, ThreadOwesAWait
// one that released with Wait TRUE and never waited.
#include <ntddk.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "kernel/kernel_trace.h"
#include "kernel_rules/irql_rules.h"

namespace {

struct HostMutex {
    std::recursive_mutex mutex;
    std::atomic<std::thread::id> owner{};
    int depth = 0;  // touched only by the owner
};

struct MutexRegistry {
    std::mutex lock;
    std::map<const void*, std::unique_ptr<HostMutex>> mutexes;
};

thread_local int heldMutexes = 0;
thread_local bool owesAWait = false;

MutexRegistry& Registry() {
    static MutexRegistry* registry = new MutexRegistry;  // lives as long as the process
    return *registry;
}

HostMutex* Lookup(const void* object) {
    MutexRegistry& registry = Registry();
    std::lock_guard<std::mutex> guard(registry.lock);
    auto it = registry.mutexes.find(object);
    return it == registry.mutexes.end() ? nullptr : it->second.get();
}

}  // namespace

namespace standin {

int ThreadHeldMutexes() { return heldMutexes; }

bool ThreadOwesAWait() { return owesAWait; }

}  // namespace standin

extern "C" VOID NTAPI KeInitializeMutex(PKMUTEX Mutex, ULONG Level) {
    (void)Level;
    std::memset(Mutex, 0, sizeof *Mutex);
    MutexRegistry& registry = Registry();
    std::lock_guard<std::mutex> guard(registry.lock);
    auto& slot = registry.mutexes[Mutex];
    if (!slot) slot = std::make_unique<HostMutex>();
    Mutex->Implementation = slot.get();
}

extern "C" NTSTATUS NTAPI KeWaitForSingleObject(PVOID Object, KWAIT_REASON WaitReason,
                                                KPROCESSOR_MODE WaitMode, BOOLEAN Alertable,
                                                PLARGE_INTEGER Timeout) {
    (void)WaitReason;
    (void)WaitMode;
    (void)Alertable;
    // An untimed wait must not come at DISPATCH_LEVEL or above. The fault is
    // counted and the wait still made, so that acquisitions and releases stay
    // paired and a faulty driver cannot hang the tests.
    kernel_rules::EnterRoutine(kernel_rules::Routine::KeWaitForSingleObject);
    (void)Timeout;
    owesAWait = false;
    HostMutex* mutex = Lookup(Object);
    if (mutex == nullptr) {
        standin::TraceDriverFault("wait on an object that is not an initialised mutex");
        return STATUS_INVALID_PARAMETER;
    }
    standin::TraceMutexWait(1);
    mutex->mutex.lock();
    standin::TraceMutexWait(-1);
    mutex->owner = std::this_thread::get_id();
    ++mutex->depth;
    ++heldMutexes;
    return STATUS_SUCCESS;
}

extern "C" LONG NTAPI KeReleaseMutex(PKMUTEX Mutex, BOOLEAN Wait) {
    owesAWait = Wait != FALSE;
    kernel_rules::EnterRoutine(kernel_rules::Routine::KeReleaseMutex);
    HostMutex* mutex = Lookup(Mutex);
    if (mutex == nullptr) {
        standin::TraceDriverFault("release of a mutex that was never initialised");
        return 0;
    }
    if (mutex->owner.load() != std::this_thread::get_id()) {
        standin::TraceDriverFault("release of a mutex the thread does not hold");
        std::abort();
    }
    if (--mutex->depth == 0) mutex->owner = std::thread::id();
    --heldMutexes;
    mutex->mutex.unlock();
    return 0;
}
