// Each doubleword of a header write runs its port sequence at HIGH_LEVEL
// (raise, save the address, address, data, restore, lower), and nothing that
// is illegal at a raised IRQL runs while the processor is raised. Also the
// stand-in's own IRQL rules, which those tests rely on.
#include <map>
#include <vector>

#include "driver_fixture.h"
#include "kernel/object_namespace.h"

namespace qvtest {
namespace {

using RaisedIrqlTest = DriverTest;

TEST_F(RaisedIrqlTest, EveryPortSequenceRunsAtHighLevelUnderARaiseOfItsOwn) {
    ConfigRequest header = ReadHeader(0, 0x1d, 1);
    ASSERT_EQ(header.Result, 256u);
    standin::ResetKernelCounters();
    standin::StartKernelTrace();
    WriteHeader(0, 0x1d, 1, header.Data);
    standin::StopKernelTrace();

    std::vector<standin::PortAccess> ports = standin::TracedPortAccesses();
    ASSERT_EQ(ports.size(), 256u);
    std::map<uint64_t, unsigned> accessesPerRaise;
    for (const standin::PortAccess& access : ports) {
        EXPECT_EQ(access.irql, HIGH_LEVEL) << "port 0x" << std::hex << access.port;
        ++accessesPerRaise[access.raise];
    }
    // One raise per doubleword, each holding its four accesses and no more.
    EXPECT_EQ(accessesPerRaise.size(), 64u);
    for (const auto& entry : accessesPerRaise) EXPECT_EQ(entry.second, 4u);
    EXPECT_EQ(standin::GetKernelCounters().irqlRaises, 64u);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
}

TEST_F(RaisedIrqlTest, NoRoutineRunsAboveItsLevelInAnyRequest) {
    ConfigRequest header = ReadHeader(1, 0, 0);
    WriteHeader(1, 0, 0, header.Data);
    WriteHeader(0, 7, 0, header.Data);  // nobody there: the search runs again
    auto ext = ReadExt(1, 0, 0);
    ext->Result = 0;
    Send(IOCTL_WRITE_EXT_CONFIG, ext.get(), sizeof *ext);
    ConfigRangeRequest range;
    std::memset(&range, 0, sizeof range);
    range.Bus = 1;
    range.Offset = 0;
    range.Length = 4;
    Send(IOCTL_READ_CONFIG_RANGE, &range, sizeof range);
    standin::KernelCounters counters = standin::GetKernelCounters();
    EXPECT_EQ(counters.irqlFaults, 0u);
    EXPECT_EQ(counters.driverFaults, 0u);
    EXPECT_GT(counters.irqlRaises, 0u);
}

// The stand-in's rules: a routine with a limit counts a fault when called
// above it, a raise below the current level and a lower above it are faults,
// and a dispatch routine that returns raised is one.
TEST(IrqlRulesTest, RoutinesCalledAboveTheirLevelAreDriverFaults) {
    standin::SetCurrentMachine(MachineFromText("# quorvenal memory 0x0 0x100000\n" + SmallMachineText()));
    standin::ResetKernelCounters();
    KIRQL previous;
    KeRaiseIrql(HIGH_LEVEL, &previous);
    EXPECT_EQ(previous, PASSIVE_LEVEL);
    EXPECT_EQ(KeGetCurrentIrql(), HIGH_LEVEL);

    unsigned char buffer[4];
    testing::internal::CaptureStderr();
    EXPECT_EQ(HalGetBusDataByOffset(PCIConfiguration, 0, 0, buffer, 0, 4), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "stand-in kernel: driver fault: HalGetBusDataByOffset called at IRQL 31 (allowed up to 2)\n")
        << "the record names the routine, the level and the limit";
    PHYSICAL_ADDRESS address;
    address.QuadPart = 0xE0000000;
    EXPECT_EQ(MmMapIoSpace(address, 2, MmNonCached), nullptr);
    EXPECT_EQ(MmGetPhysicalMemoryRanges(), nullptr);
    static KMUTEX mutex;
    KeInitializeMutex(&mutex, 0);
    KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, NULL);
    KeReleaseMutex(&mutex, FALSE);  // also counted, and still made
    EXPECT_EQ(standin::GetKernelCounters().irqlFaults, 5u);

    KIRQL ignored;
    KeRaiseIrql(DISPATCH_LEVEL, &ignored);  // below the current level
    EXPECT_EQ(KeGetCurrentIrql(), HIGH_LEVEL);
    KeLowerIrql(previous);
    KeLowerIrql(DISPATCH_LEVEL);  // above the current level
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
    EXPECT_EQ(standin::GetKernelCounters().irqlFaults, 7u);

    // At PASSIVE_LEVEL the same calls are served.
    EXPECT_EQ(HalGetBusDataByOffset(PCIConfiguration, 0, 0, buffer, 0, 4), 4u);
    PPHYSICAL_MEMORY_RANGE ranges = MmGetPhysicalMemoryRanges();
    ASSERT_NE(ranges, nullptr);
    EXPECT_EQ(ranges[0].BaseAddress.QuadPart, 0);
    EXPECT_EQ(ranges[0].NumberOfBytes.QuadPart, 0x100000);
    EXPECT_EQ(ranges[1].BaseAddress.QuadPart, 0);
    EXPECT_EQ(ranges[1].NumberOfBytes.QuadPart, 0);
    ExFreePool(ranges);
    EXPECT_EQ(standin::GetKernelCounters().livePool, 0);
    ExFreePool(ranges);  // freed twice
    EXPECT_EQ(standin::GetKernelCounters().badPoolFrees, 1u);
    EXPECT_EQ(standin::GetKernelCounters().irqlFaults, 7u);
}

// A dispatch routine that leaves the processor raised: the driver's own,
// called and then left at DISPATCH_LEVEL.
PDRIVER_DISPATCH gDriversDispatch;
NTSTATUS NTAPI DispatchLeavingItRaised(PDEVICE_OBJECT device, PIRP irp) {
    NTSTATUS status = gDriversDispatch(device, irp);
    KIRQL ignored;
    KeRaiseIrql(DISPATCH_LEVEL, &ignored);
    return status;
}

TEST_F(RaisedIrqlTest, ADispatchRoutineReturningRaisedIsAFaultAndIsLoweredAgain) {
    PDRIVER_DISPATCH* slot = &driver_->object.MajorFunction[IRP_MJ_DEVICE_CONTROL];
    gDriversDispatch = *slot;
    *slot = DispatchLeavingItRaised;
    ConfigRequest header = ReadHeader(0, 0, 0);
    *slot = gDriversDispatch;
    EXPECT_EQ(header.Result, 256u) << "the request itself was served";
    EXPECT_EQ(standin::GetKernelCounters().irqlFaults, 1u);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
    standin::ResetKernelCounters();  // the fault was this test's own doing
}

}  // namespace
}  // namespace qvtest
