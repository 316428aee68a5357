// Every access to memory-mapped configuration goes through the kernel's
// register accessors, one per mapping, inside that mapping; none is a plain
// load or store of the driver's own.
#include "driver_fixture.h"

namespace qvtest {
namespace {

using RegisterAccessTest = DriverTest;

TEST_F(RegisterAccessTest, SearchAndExtendedRequestsUseTheAccessorsOncePerMapping) {
    ReadHeader(0, 0, 0);
    standin::KernelCounters counters = standin::GetKernelCounters();
    EXPECT_EQ(counters.registerReads, counters.mappingsMade) << "each probe reads once";
    EXPECT_EQ(counters.registerWrites, 0u);

    standin::ResetKernelCounters();
    auto ext = ReadExt(1, 0, 0);
    ASSERT_EQ(ext->Result, 0u);
    counters = standin::GetKernelCounters();
    // The two identifiers that confirm the window, then 1,920 halves.
    EXPECT_EQ(counters.mappingsMade, 2u + 1920u);
    EXPECT_EQ(counters.registerReads, 2u + 1920u);
    EXPECT_EQ(counters.registerWrites, 0u);

    standin::ResetKernelCounters();
    ext->ExtData[0x400] ^= 0xFF;  // register 0x500, plain read/write
    ext->Result = 0;
    Send(IOCTL_WRITE_EXT_CONFIG, ext.get(), sizeof *ext);
    EXPECT_EQ(ext->Result, 0u);
    counters = standin::GetKernelCounters();
    EXPECT_EQ(counters.mappingsMade, 2u + 1920u);
    EXPECT_EQ(counters.registerWrites, 1920u);
    EXPECT_EQ(counters.registerReads, 2u) << "the identifiers that confirm the window";
    unsigned char byte = 0;
    ASSERT_TRUE(machine().ReadConfig({1, 0, 0}, 0x500, &byte, 1));
    EXPECT_EQ(byte, ext->ExtData[0x400]) << "the accessor's write reached the register";
    EXPECT_EQ(counters.driverFaults, 0u);
}

// The stand-in's accessors check that the register lies in a live mapping.
TEST(RegisterAccessorRulesTest, AnAccessOutsideEveryMappingIsADriverFault) {
    standin::SetCurrentMachine(MachineFromText(SmallMachineText()));
    standin::ResetKernelCounters();
    PHYSICAL_ADDRESS address;
    address.QuadPart = 0xE0000000;
    PVOID mapping = MmMapIoSpace(address, 2, MmNonCached);
    ASSERT_NE(mapping, nullptr);
    EXPECT_EQ(READ_REGISTER_USHORT(static_cast<PUSHORT>(mapping)), 0x8086);
    EXPECT_EQ(standin::GetKernelCounters().driverFaults, 0u);
    // One byte past the mapping's end.
    READ_REGISTER_USHORT(reinterpret_cast<PUSHORT>(static_cast<UCHAR*>(mapping) + 1));
    EXPECT_EQ(standin::GetKernelCounters().driverFaults, 1u);
    MmUnmapIoSpace(mapping, 2);
    USHORT local = 0;
    WRITE_REGISTER_USHORT(&local, 1);
    EXPECT_EQ(local, 0) << "a write outside every mapping is not carried out";
    EXPECT_EQ(standin::GetKernelCounters().driverFaults, 2u);
    EXPECT_EQ(standin::GetKernelCounters().registerReads, 1u);
}

}  // namespace
}  // namespace qvtest
