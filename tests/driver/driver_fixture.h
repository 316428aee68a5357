// Loads QUORVENAL.sys from the build folder into the stand-in kernel over a
// chosen machine, opens its device by the link name, and sends requests with
// real buffers, as a user-mode client would.
#ifndef QUORVENAL_TESTS_DRIVER_FIXTURE_H
#define QUORVENAL_TESTS_DRIVER_FIXTURE_H

#include <gtest/gtest.h>
#include <ntddk.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kernel/io_manager.h"
#include "kernel/kernel_trace.h"
#include "machine/machine.h"
#include "quorvenal_ioctl.h"

namespace qvtest {

std::string DriverPath();  // QUORVENAL.sys in the build folder

// A machine file given as text; fails the test if it does not load.
std::unique_ptr<standin::Machine> MachineFromText(const std::string& text);

// A function of a machine file: its device line and data lines.
std::string FunctionText(const std::string& address, const unsigned char* bytes, unsigned length);

// A small machine: bus 0 with a host bridge, a root port (to bus 1) and a
// multi-function device; bus 1 with a PCI Express endpoint whose extended
// space is filled with a pattern. Window at 0xE0000000.
std::string SmallMachineText();

// Runs first() in this thread. At its first hooked hardware access (a port
// access or a mapping) second() starts in another thread, and first is held
// until second waits on a lock, makes an access of its own, or ends (5 s at
// most, a fallback that decides nothing). Returns, for every access of both
// in order, whether first made it. A driver that serialises its requests
// gives all of first's accesses before any of second's.
std::vector<bool> AccessesWithASecondClientSent(const std::function<void()>& first,
                                                const std::function<void()>& second);
// Whether no access of the second client falls between the first client's
// first and last.
bool FirstClientUninterrupted(const std::vector<bool>& byFirst);

// The physical addresses the driver mapped, in order, as the stand-in traced them.
std::vector<uint64_t> MappedAddresses();
// An extended record for the function, every other byte `fill`, Result 0.
std::unique_ptr<ExtConfigRequest> ExtRecord(unsigned bus, unsigned device, unsigned function,
                                            unsigned char fill);

struct Reply {
    NTSTATUS status;
    ULONG returned;
};

class DriverTest : public ::testing::Test {
protected:
    // Uses the machine set by UseMachine before SetUp, else the small machine.
    void SetUp() override;
    void TearDown() override;

    void LoadAndOpen();
    void CloseAndUnload();

    standin::Machine& machine() { return standin::CurrentMachine(); }

    Reply Send(ULONG code, void* record, ULONG inLength, ULONG outLength);
    Reply Send(ULONG code, void* record, ULONG length) { return Send(code, record, length, length); }

    ConfigRequest ReadHeader(unsigned bus, unsigned device, unsigned function, Reply* reply = nullptr);
    ConfigRequest WriteHeader(unsigned bus, unsigned device, unsigned function, const unsigned char* data,
                              Reply* reply = nullptr);
    std::unique_ptr<ExtConfigRequest> ReadExt(unsigned bus, unsigned device, unsigned function,
                                              Reply* reply = nullptr);

    std::string machineText_;  // empty: the small machine
    standin::LoadedDriver* driver_ = nullptr;
    standin::OpenFile* file_ = nullptr;
};

}  // namespace qvtest

#endif
