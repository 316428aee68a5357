// Kernel mutexes: each KMUTEX the stand-in has initialised is backed by a
// host recursive mutex (a kernel mutex may be re-acquired by its owner).
#include <ntddk.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "kernel/kernel_trace.h"

namespace {

struct MutexRegistry {
    std::mutex lock;
    std::map<const void*, std::unique_ptr<std::recursive_mutex>> mutexes;
};

MutexRegistry& Registry() {
    static MutexRegistry* registry = new MutexRegistry;  // lives as long as the process
    return *registry;
}

std::recursive_mutex* Lookup(const void* object) {
    MutexRegistry& registry = Registry();
    std::lock_guard<std::mutex> guard(registry.lock);
    auto it = registry.mutexes.find(object);
    return it == registry.mutexes.end() ? nullptr : it->second.get();
}

}  // namespace

extern "C" VOID NTAPI KeInitializeMutex(PKMUTEX Mutex, ULONG Level) {
    (void)Level;
    std::memset(Mutex, 0, sizeof *Mutex);
    MutexRegistry& registry = Registry();
    std::lock_guard<std::mutex> guard(registry.lock);
    auto& slot = registry.mutexes[Mutex];
    if (!slot) slot = std::make_unique<std::recursive_mutex>();
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
    standin::RequireIrqlAtMost(APC_LEVEL, "KeWaitForSingleObject");
    (void)Timeout;
    std::recursive_mutex* mutex = Lookup(Object);
    if (mutex == nullptr) {
        standin::TraceDriverFault("wait on an object that is not an initialised mutex");
        return STATUS_INVALID_PARAMETER;
    }
    mutex->lock();
    return STATUS_SUCCESS;
}

extern "C" LONG NTAPI KeReleaseMutex(PKMUTEX Mutex, BOOLEAN Wait) {
    (void)Wait;
    standin::RequireIrqlAtMost(DISPATCH_LEVEL, "KeReleaseMutex");
    std::recursive_mutex* mutex = Lookup(Mutex);
    if (mutex == nullptr) {
        standin::TraceDriverFault("release of a mutex that was never initialised");
        return 0;
    }
    mutex->unlock();
    return 0;
}
