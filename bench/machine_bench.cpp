// The simulated machine's "does this bus exist" answer, asked by every HAL
// read and every port or window access of a scan, on machines of a few and of
// many functions (run by hand, see README.md).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>

#include "machine/machine.h"

namespace {

// A machine with `count` functions on bus 0 and the buses behind them.
std::unique_ptr<standin::Machine> MachineOf(int count) {
    auto machine = std::make_unique<standin::Machine>();
    uint8_t bytes[64] = {0x86, 0x80, 0x00, 0x10};
    std::string error;
    for (int i = 0; i < count; ++i) {
        standin::FunctionAddress address = {static_cast<unsigned>(i / 256), static_cast<unsigned>(i / 8 % 32),
                                            static_cast<unsigned>(i % 8)};
        machine->AddFunction(address, bytes, sizeof bytes, &error);
    }
    return machine;
}

void BM_BusExistsAbsentBus(benchmark::State& state) {
    std::unique_ptr<standin::Machine> machine = MachineOf(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(machine->BusExists(0xC0));
}

}  // namespace

BENCHMARK(BM_BusExistsAbsentBus)->Arg(2)->Arg(31)->Arg(256)->Arg(2048);
BENCHMARK_MAIN();
