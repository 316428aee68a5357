#include "open_access.h"

#include <deque>
#include <map>
#include <mutex>

namespace {

std::mutex& Lock() {
    static std::mutex* lock = new std::mutex;  // lives as long as the process
    return *lock;
}

std::map<uint32_t, std::deque<uint32_t>>& Announced() {
    static auto* announced = new std::map<uint32_t, std::deque<uint32_t>>;
    return *announced;
}

}  // namespace

void AnnounceOpen(uint32_t pid, uint32_t access) {
    std::lock_guard<std::mutex> guard(Lock());
    Announced()[pid].push_back(access);
}

void WithdrawOpen(uint32_t pid) {
    std::lock_guard<std::mutex> guard(Lock());
    auto it = Announced().find(pid);
    if (it == Announced().end()) return;
    it->second.pop_back();
    if (it->second.empty()) Announced().erase(it);
}

bool TakeAnnouncedOpen(uint32_t pid, uint32_t* access) {
    std::lock_guard<std::mutex> guard(Lock());
    auto it = Announced().find(pid);
    if (it == Announced().end()) return false;
    *access = it->second.front();
    it->second.pop_front();
    if (it->second.empty()) Announced().erase(it);
    return true;
}
