// KeIpiGenericCall over the machine's processors: the calling thread and
// every OtherProcessor. As on Windows, each target enters the broadcast
// routine only from an IRQL below IPI_LEVEL (a processor inside a HAL cycle
// is at HIGH_LEVEL and takes it only when the cycle is over), the routine
// starts on no processor before every processor has entered, each runs it
// at IPI_LEVEL, and the call returns when all have finished. One broadcast
// runs at a time.
#include "kernel/processors.h"

#include <ntddk.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "kernel/kernel_trace.h"
#include "kernel_rules/irql_rules.h"

namespace standin {

struct OtherProcessor::State {
    std::thread thread;
    std::deque<std::function<void()>> steps;
    uint64_t stepsGiven = 0;
    uint64_t stepsRun = 0;
    bool held = false;               // inside a broadcast routine
    uint64_t lastBroadcastSeen = 0;  // generation of the last broadcast entered
    uint64_t broadcastsTaken = 0;
    bool stop = false;
};

namespace {

struct Broadcasts {
    std::mutex lock;  // guards everything below and every processor's state
    std::condition_variable changed;
    std::vector<OtherProcessor::State*> processors;
    std::mutex oneAtATime;
    uint64_t generation = 0;
    bool active = false;
    PKIPI_BROADCAST_WORKER routine = nullptr;
    ULONG_PTR argument = 0;
    size_t arrived = 0;
    bool released = false;
    size_t finished = 0;
    uint64_t count = 0;
};

Broadcasts& TheBroadcasts() {
    static auto* broadcasts = new Broadcasts;  // lives as long as the process
    return *broadcasts;
}

bool BroadcastWaiting(const Broadcasts& b, const OtherProcessor::State* self) {
    return b.active && self->lastBroadcastSeen != b.generation && kernel_rules::ProcessorLevel() < IPI_LEVEL;
}

// Enters the broadcast under way, runs its routine with the others and
// leaves. Called and returns with the lock held.
void TakeBroadcast(Broadcasts& b, OtherProcessor::State* self, std::unique_lock<std::mutex>& lock) {
    self->lastBroadcastSeen = b.generation;
    self->held = true;
    ++b.arrived;
    b.changed.notify_all();
    b.changed.wait(lock, [&] { return b.released; });
    PKIPI_BROADCAST_WORKER routine = b.routine;
    ULONG_PTR argument = b.argument;
    lock.unlock();
    uint8_t previous = kernel_rules::ExchangeLevel(IPI_LEVEL);
    routine(argument);
    kernel_rules::ExchangeLevel(previous);
    lock.lock();
    self->held = false;
    ++self->broadcastsTaken;
    ++b.finished;
    b.changed.notify_all();
}

void ProcessorLoop(OtherProcessor::State* self) {
    Broadcasts& b = TheBroadcasts();
    std::unique_lock<std::mutex> lock(b.lock);
    for (;;) {
        b.changed.wait(lock, [&] { return self->stop || !self->steps.empty() || BroadcastWaiting(b, self); });
        if (BroadcastWaiting(b, self)) {
            TakeBroadcast(b, self, lock);
            continue;
        }
        if (!self->steps.empty()) {
            std::function<void()> step = std::move(self->steps.front());
            self->steps.pop_front();
            lock.unlock();
            step();
            lock.lock();
            ++self->stepsRun;
            b.changed.notify_all();
            continue;
        }
        return;  // stopped, nothing left to run
    }
}

}  // namespace

OtherProcessor::OtherProcessor() : state_(std::make_shared<State>()) {
    Broadcasts& b = TheBroadcasts();
    std::lock_guard<std::mutex> guard(b.lock);
    state_->lastBroadcastSeen = b.generation;  // not a target of one already under way
    b.processors.push_back(state_.get());
    state_->thread = std::thread(ProcessorLoop, state_.get());
}

OtherProcessor::~OtherProcessor() {
    Broadcasts& b = TheBroadcasts();
    {
        std::unique_lock<std::mutex> lock(b.lock);
        b.changed.wait(lock, [&] { return !b.active && !state_->held; });
        b.processors.erase(std::remove(b.processors.begin(), b.processors.end(), state_.get()),
                           b.processors.end());
        state_->stop = true;
        b.changed.notify_all();
    }
    state_->thread.join();
}

bool OtherProcessor::Run(std::function<void()> step) {
    Broadcasts& b = TheBroadcasts();
    std::unique_lock<std::mutex> lock(b.lock);
    state_->steps.push_back(std::move(step));
    uint64_t mine = ++state_->stepsGiven;
    b.changed.notify_all();
    b.changed.wait(lock, [&] { return state_->stepsRun >= mine || state_->held; });
    return state_->stepsRun >= mine;
}

void OtherProcessor::Finish() {
    Broadcasts& b = TheBroadcasts();
    std::unique_lock<std::mutex> lock(b.lock);
    b.changed.wait(lock, [&] { return state_->stepsRun == state_->stepsGiven; });
}

uint64_t OtherProcessor::BroadcastsTaken() const {
    Broadcasts& b = TheBroadcasts();
    std::lock_guard<std::mutex> guard(b.lock);
    return state_->broadcastsTaken;
}

bool OtherProcessor::InsideBroadcast() const {
    Broadcasts& b = TheBroadcasts();
    std::lock_guard<std::mutex> guard(b.lock);
    return state_->held;
}

bool OtherProcessor::RunsOnThisThread() const {
    return std::this_thread::get_id() == state_->thread.get_id();
}

uint64_t BroadcastCount() {
    Broadcasts& b = TheBroadcasts();
    std::lock_guard<std::mutex> guard(b.lock);
    return b.count;
}

}  // namespace standin

extern "C" ULONG_PTR NTAPI KeIpiGenericCall(PKIPI_BROADCAST_WORKER BroadcastFunction, ULONG_PTR Context) {
    using namespace standin;
    kernel_rules::EnterRoutine(kernel_rules::Routine::KeIpiGenericCall);
    Broadcasts& b = TheBroadcasts();
    std::lock_guard<std::mutex> one(b.oneAtATime);
    std::unique_lock<std::mutex> lock(b.lock);
    ++b.generation;
    b.active = true;
    b.routine = BroadcastFunction;
    b.argument = Context;
    b.arrived = 0;
    b.released = false;
    b.finished = 0;
    const size_t targets = b.processors.size();
    b.changed.notify_all();
    b.changed.wait(lock, [&] { return b.arrived == targets; });
    b.released = true;
    b.changed.notify_all();
    lock.unlock();

    uint8_t previous = kernel_rules::ExchangeLevel(IPI_LEVEL);
    ULONG_PTR result = BroadcastFunction(Context);
    kernel_rules::ExchangeLevel(previous);

    lock.lock();
    b.changed.wait(lock, [&] { return b.finished == targets; });
    b.active = false;
    ++b.count;
    b.changed.notify_all();
    return result;
}

extern "C" VOID YieldProcessor(VOID) { std::this_thread::yield(); }
