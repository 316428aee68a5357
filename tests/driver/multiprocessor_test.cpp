// A header write against a HAL cycle on another processor. The driver runs
// the write inside a KeIpiGenericCall broadcast where the kernel has one, so
// that no other processor can be inside a HAL cycle meanwhile; without it (a
// kernel that does not export the routine, as Windows XP) the HAL's address
// write can fall between the driver's address and data writes. Also the
// stand-in's model of the processors that this relies on.
#include <atomic>
#include <chrono>
#include <thread>

#include "driver_fixture.h"
#include "kernel/processors.h"

namespace qvtest {
namespace {

const unsigned kInterruptLine = 0x3C;
const standin::FunctionAddress kNic{1, 0, 0};
const standin::FunctionAddress kUsb{0, 0x1d, 0};

unsigned char LineOf(standin::Machine& machine, standin::FunctionAddress address) {
    unsigned char line = 0;
    EXPECT_TRUE(machine.ReadConfig(address, kInterruptLine, &line, 1));
    return line;
}

// Marks the port accesses of the HAL cycles the probe makes, so that the
// probe tells them from the driver's.
thread_local bool tInHalCycle = false;

// Writes 01:00.0's header with its interrupt line changed while another
// processor's HAL reads 00:1d.0's interrupt line: the HAL's address write is
// given to another processor just before the driver's data write for the
// doubleword at 0x3C, the rest of its cycle just before the driver's next
// port access. Two other processors run: inside a broadcast any of the three
// may be the one that writes, and the HAL cycle goes to one that is not. A
// processor held in a broadcast makes its cycle afterwards.
class SplitProbeTest : public DriverTest {
protected:
    void TearDown() override {
        standin::SetSystemRoutineExported("KeIpiGenericCall", true);
        DriverTest::TearDown();
    }

    void ReloadWithoutTheBroadcast() {
        CloseAndUnload();
        standin::SetSystemRoutineExported("KeIpiGenericCall", false);
        LoadAndOpen();
    }

    // Returns the value the other processor's HAL read got.
    uint32_t WriteNicLineWithAHalReadOfUsbLine(unsigned char line) {
        ConfigRequest header = ReadHeader(1, 0, 0);
        header.Data[kInterruptLine] = line;
        const uint32_t nicLineAddress = 0x80010000u | kInterruptLine;
        std::atomic<uint32_t> halRead{0};
        bool addressGiven = false;
        bool cycleEnded = false;
        standin::OtherProcessor first;
        standin::OtherProcessor second;
        standin::OtherProcessor* hal = nullptr;
        standin::SetAccessHook([&](standin::HookedAccess kind, uint64_t port, uint32_t) {
            if (tInHalCycle) return;
            if (++driverAccesses_ == 1) {
                // Long enough for a processor that did not wait for the
                // write to have left the broadcast.
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            // While the write goes on, the other processors stay in the
            // broadcast (when there is one), the one writing excepted.
            for (standin::OtherProcessor* processor : {&first, &second}) {
                if (!processor->RunsOnThisThread() && !processor->InsideBroadcast()) {
                    ++accessesWithAProcessorOutside_;
                }
            }
            if (cycleEnded) return;
            if (!addressGiven && kind == standin::HookedAccess::PortWrite && port == 0xCFC &&
                machine().ConfigAddressRegister() == nicLineAddress) {
                addressGiven = true;
                hal = first.RunsOnThisThread() ? &second : &first;
                hal->Run([] {
                    tInHalCycle = true;
                    standin::HalCycleAddress(0, 0x1d, 0, kInterruptLine);
                    tInHalCycle = false;
                });
            } else if (addressGiven) {
                cycleEnded = true;
                hal->Run([&] {
                    tInHalCycle = true;
                    halRead = standin::HalCycleReadAndRelease();
                    tInHalCycle = false;
                });
            }
        });
        Reply reply{};
        WriteHeader(1, 0, 0, header.Data, &reply);
        standin::SetAccessHook(nullptr);
        first.Finish();
        second.Finish();
        EXPECT_EQ(reply.status, STATUS_SUCCESS);
        EXPECT_TRUE(cycleEnded) << "the probe never met the data write of the doubleword at 0x3C";
        broadcastsTaken_ = first.BroadcastsTaken() + second.BroadcastsTaken();
        return halRead;
    }

    uint64_t broadcastsTaken_ = 0;
    unsigned driverAccesses_ = 0;
    unsigned accessesWithAProcessorOutside_ = 0;
};

TEST_F(SplitProbeTest, AHalCycleOnAnotherProcessorWaitsForTheWholeHeaderWrite) {
    unsigned char usbLine = LineOf(machine(), kUsb);
    unsigned char nicLine = LineOf(machine(), kNic);
    uint64_t broadcasts = standin::BroadcastCount();
    uint32_t halRead = WriteNicLineWithAHalReadOfUsbLine(static_cast<unsigned char>(nicLine ^ 0x5A));
    EXPECT_EQ(standin::BroadcastCount(), broadcasts + 1) << "one broadcast per header write";
    EXPECT_EQ(broadcastsTaken_, 2u) << "both other processors entered it";
    EXPECT_EQ(driverAccesses_, 256u) << "one processor wrote the header, once";
    EXPECT_EQ(accessesWithAProcessorOutside_, 0u)
        << "a processor left the broadcast before the write was over";
    EXPECT_EQ(LineOf(machine(), kNic), nicLine ^ 0x5A) << "the write reached its own function";
    EXPECT_EQ(LineOf(machine(), kUsb), usbLine) << "and no other";
    EXPECT_EQ(halRead & 0xFF, usbLine) << "the HAL's read, made after the write, read its own function";
    EXPECT_EQ(machine().ConfigAddressRegister(), 0u) << "the HAL's cycle, last, left 0xCF8 at 0";
}

// The same probe on a kernel without KeIpiGenericCall: the driver still
// loads and writes at HIGH_LEVEL, and the probe shows what is left there.
TEST_F(SplitProbeTest, WithoutTheBroadcastTheHalsAddressWriteSplitsTheWrite) {
    ReloadWithoutTheBroadcast();
    unsigned char nicLine = LineOf(machine(), kNic);
    uint64_t broadcasts = standin::BroadcastCount();
    standin::ResetKernelCounters();
    WriteNicLineWithAHalReadOfUsbLine(static_cast<unsigned char>(nicLine ^ 0x5A));
    EXPECT_EQ(standin::BroadcastCount(), broadcasts);
    EXPECT_EQ(standin::GetKernelCounters().irqlRaises, 64u) << "each doubleword still raised to HIGH_LEVEL";
    EXPECT_EQ(LineOf(machine(), kUsb), nicLine ^ 0x5A) << "01:00.0's data byte landed in 00:1d.0";
    EXPECT_EQ(LineOf(machine(), kNic), nicLine) << "and 01:00.0 did not get it";
}

// The stand-in's processors, as the driver relies on them: a broadcast
// begins only once every processor has left its HAL cycle (the lock is held
// above IPI_LEVEL), and each runs the routine at IPI_LEVEL.
std::atomic<bool> gCycleOver{false};
std::atomic<int> gRoutineRuns{0};
std::atomic<bool> gRoutineSawCycleOver{true};
std::atomic<int> gRoutineLevelWrong{0};

ULONG_PTR NTAPI NoteBroadcast(ULONG_PTR argument) {
    if (!gCycleOver) gRoutineSawCycleOver = false;
    if (KeGetCurrentIrql() != IPI_LEVEL) ++gRoutineLevelWrong;
    ++gRoutineRuns;
    return argument + 1;
}

TEST(ProcessorModelTest, ABroadcastWaitsForAProcessorInsideAHalCycle) {
    standin::SetCurrentMachine(MachineFromText(SmallMachineText()));
    standin::OtherProcessor other;
    ASSERT_TRUE(other.Run([] { standin::HalCycleAddress(0, 0x1d, 0, kInterruptLine); }));
    ULONG_PTR result = 0;
    std::thread initiator([&] { result = KeIpiGenericCall(NoteBroadcast, 41); });
    // Long enough for a broadcast that did not wait to have run.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(gRoutineRuns.load(), 0) << "the routine ran while a processor was inside a HAL cycle";
    ASSERT_TRUE(other.Run([] {
        gCycleOver = true;
        standin::HalCycleReadAndRelease();
    }));
    initiator.join();
    other.Finish();
    EXPECT_EQ(result, 42u) << "the calling processor's result";
    EXPECT_EQ(gRoutineRuns.load(), 2) << "once on each processor";
    EXPECT_TRUE(gRoutineSawCycleOver.load());
    EXPECT_EQ(gRoutineLevelWrong.load(), 0);
    EXPECT_EQ(other.BroadcastsTaken(), 1u);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
}

}  // namespace
}  // namespace qvtest
