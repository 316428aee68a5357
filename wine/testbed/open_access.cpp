#include "open_access.h"

#include <map>
#include <mutex>

namespace {

std::mutex& Lock() {
    static std::mutex* lock = new std::mutex;  // lives as long as the process
    return *lock;
}

std::map<uint32_t, uint32_t>& Announced() {
    static std::map<uint32_t, uint32_t>* announced = new std::map<uint32_t, uint32_t>;
    return *announced;
}

}  // namespace

void AnnounceOpen(uint32_t pid, uint32_t access) {
    std::lock_guard<std::mutex> guard(Lock());
    Announced()[pid] = access;
}

bool TakeAnnouncedOpen(uint32_t pid, uint32_t* access) {
    std::lock_guard<std::mutex> guard(Lock());
    auto it = Announced().find(pid);
    if (it == Announced().end()) return false;
    *access = it->second;
    Announced().erase(it);
    return true;
}
