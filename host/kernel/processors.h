// The machine's other processors. Each host thread that calls into the
// stand-in kernel stands for a processor of its own; an OtherProcessor is one
// more, run by the stand-in: it carries out the steps a test gives it (a
// HAL's configuration cycle, say) and, like every processor of a Windows
// machine, takes part in each KeIpiGenericCall whenever its IRQL is below
// IPI_LEVEL. The HAL cycle steps model the HAL's own port accesses on such a
// processor: under its configuration lock, at HIGH_LEVEL, so that a broadcast
// waits until the cycle is over.
#ifndef STANDIN_PROCESSORS_H
#define STANDIN_PROCESSORS_H

#include <cstdint>
#include <functional>
#include <memory>

namespace standin {

class OtherProcessor {
public:
    OtherProcessor();   // starts the processor and makes it a broadcast target
    ~OtherProcessor();  // runs what is left, then stops it
    OtherProcessor(const OtherProcessor&) = delete;
    OtherProcessor& operator=(const OtherProcessor&) = delete;

    // Gives the processor a step. Returns true once the step has run, or
    // false at once when the processor is held inside a broadcast routine
    // (the step then runs after the broadcast, in the order given).
    bool Run(std::function<void()> step);
    // Waits until every step given has run.
    void Finish();
    // Broadcast routines this processor has run.
    uint64_t BroadcastsTaken() const;
    // Whether the processor is inside a broadcast routine now.
    bool InsideBroadcast() const;
    // Whether the calling thread is this processor's (a broadcast routine,
    // or a step, running on it).
    bool RunsOnThisThread() const;

    struct State;

private:
    std::shared_ptr<State> state_;
};

// A HAL configuration read in two steps, as a HAL on another processor makes
// it: the first raises to HIGH_LEVEL, takes the HAL's configuration lock and
// writes the address register; the second reads the data port, leaves 0 in
// the address register, releases the lock and lowers the level again.
void HalCycleAddress(unsigned bus, unsigned device, unsigned function, unsigned offset);
uint32_t HalCycleReadAndRelease();

// How many KeIpiGenericCall broadcasts have run.
uint64_t BroadcastCount();

// Makes MmGetSystemRoutineAddress find the named routine or not (as on a
// system that does not export it: KeIpiGenericCall on Windows XP).
void SetSystemRoutineExported(const char* name, bool exported);

}  // namespace standin

#endif
