// The one machine the stand-in kernel serves. Until a caller sets another,
// it is the default machine. A replaced machine is kept alive until the
// process ends, so that a reference taken earlier never dangles.
#include <mutex>
#include <vector>

#include "machine/machine.h"

namespace standin {

namespace {

std::mutex& HolderLock() {
    static std::mutex* lock = new std::mutex;  // lives as long as the process
    return *lock;
}

struct Holder {
    std::unique_ptr<Machine> current;
    std::vector<std::unique_ptr<Machine>> retired;
};

Holder& TheHolder() {
    static Holder* holder = new Holder;
    return *holder;
}

}  // namespace

Machine& CurrentMachine() {
    std::lock_guard<std::mutex> lock(HolderLock());
    Holder& holder = TheHolder();
    if (!holder.current) holder.current = DefaultMachine();
    return *holder.current;
}

void SetCurrentMachine(std::unique_ptr<Machine> machine) {
    std::lock_guard<std::mutex> lock(HolderLock());
    Holder& holder = TheHolder();
    if (holder.current) holder.retired.push_back(std::move(holder.current));
    holder.current = std::move(machine);
}

}  // namespace standin
