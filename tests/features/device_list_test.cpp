// The device list as the program shows it, run headless on machine files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "program_run.h"

namespace qvtest {
namespace {

std::string Row(const ReportLine& r) {
    std::string joined;
    for (size_t i = 0; i < r.size(); ++i) joined += (i ? "|" : "") + r[i];
    return joined;
}

std::vector<std::string> Rows(const Dump& dump) {
    std::vector<std::string> rows;
    for (const ReportLine& r : dump.devices) rows.push_back(Row(r));
    return rows;
}

TEST(DeviceList, EveryFunctionOfTheKindsMachineRowByRow) {
    ProgramRun run = RunProgram("dump\n", OnMachine(Fixture("kinds.lspci")));
    ASSERT_EQ(1u, run.dumps.size()) << run.out << run.err;
    // Item data, then Type, Bus#, Dev#, Func#, Class, VID, DID, Description.
    std::vector<std::string> expected = {
        "00000000|Bridge device|0|0|0|060000|8086|2A00|",
        "00000003|Data acquisition and signal processing controller|0|0|3|118000|8086|2A03|",
        "00000005|Serial ATA controller|0|0|5|010601|8086|2A05|",
        "00000100|RAID controller|0|1|0|010400|1000|0030|",
        "00000200|Network controller|0|2|0|020000|11AB|4363|PCI Express",
        "00000300|Network controller|0|3|0|020000|14E4|1648|",
        "00000400|Network controller|0|4|0|028000|14E4|1649|PCI Express",
        "00001C00|Bridge device|0|28|0|060400|8086|283F|PCI Express",
        "00001E00|Bridge device|0|30|0|060700|1217|7136|",
        "00010000|Serial bus controller|1|0|0|0c0330|00A1|000B|",
        "00010100|Wireless controller|1|1|0|0d1100|1234|5678|",
    };
    EXPECT_EQ(expected, Rows(run.dumps[0]));
    EXPECT_EQ("", FeatureOutput(run));  // nothing went wrong, so nothing is printed
}

TEST(DeviceList, NumbersAreDecimalWhereTheIdentifiersAreHexadecimal) {
    // Buses 0x1c and 0x1d of the default machine read 28 and 29: the list has
    // always shown bus, device and function numbers in decimal.
    ProgramRun run = RunProgram("dump\n");
    ASSERT_EQ(1u, run.dumps.size()) << run.out << run.err;
    std::vector<std::string> cells;  // item data, Bus#, Dev#, Func#, Class, VID, DID
    for (const ReportLine& r : run.dumps[0].devices) {
        ASSERT_EQ(9u, r.size());
        if (r[0] == "001C0500" || r[0] == "001D0000")
            for (size_t i : {0, 2, 3, 4, 5, 6, 7}) cells.push_back(r[i]);
    }
    std::vector<std::string> expected = {"001C0500", "28", "5", "0", "020000", "8086", "100F",
                                         "001D0000", "29", "0", "0", "028000", "10B7", "6001"};
    EXPECT_EQ(expected, cells);
}

TEST(DeviceList, FunctionsAfterAGapAreListed) {
    // Functions 0, 3 and 5 of device 0: 1, 2 and 4 do not answer, and the
    // functions after them are still found. Taking device 1's function 0
    // away hides the whole device; taking function 3 away leaves 0 and 5.
    ProgramRun run = RunProgram("hw remove 00:00.3\nhw remove 00:01.0\nclick 1001\ndump\n",
                                OnMachine(Fixture("kinds.lspci")));
    ASSERT_EQ(1u, run.dumps.size()) << run.out << run.err;
    std::vector<std::string> firstColumn;
    for (const ReportLine& r : run.dumps[0].devices) firstColumn.push_back(r[0]);
    std::vector<std::string> expected = {"00000000", "00000005", "00000200", "00000300", "00000400",
                                         "00001C00", "00001E00", "00010000", "00010100"};
    EXPECT_EQ(expected, firstColumn);
}

TEST(DeviceList, DeviceWhoseFunctionZeroIsAbsentIsSkippedWhole) {
    // Function 0 gone: functions 3 and 5 of the same device are not probed.
    ProgramRun run = RunProgram("hw remove 00:00.0\nclick 1001\ndump\n", OnMachine(Fixture("kinds.lspci")));
    ASSERT_EQ(1u, run.dumps.size()) << run.out << run.err;
    ASSERT_FALSE(run.dumps[0].devices.empty());
    EXPECT_EQ("00000100", run.dumps[0].devices[0][0]);
    EXPECT_EQ(8u, run.dumps[0].devices.size());
}

TEST(DeviceList, RescanRebuildsTheListAndKeepsTheSlots) {
    ProgramRun run = RunProgram(
        "select 4\nclick 1013\nhw restore 00:00.0\nclick 1001\nclick 1001\n"
        "dump\nhw remove 00:04.0\nclick 1001\ndump\nhw restore 00:04.0\n"
        "click 1001\ndump\n",
        OnMachine(Fixture("kinds.lspci")));
    ASSERT_EQ(3u, run.dumps.size()) << run.out << run.err;
    EXPECT_EQ(11u, run.dumps[0].devices.size());  // twice rescanned, listed once
    EXPECT_EQ(10u, run.dumps[1].devices.size());
    EXPECT_EQ(11u, run.dumps[2].devices.size());
    for (const Dump& d : run.dumps) {
        ASSERT_EQ(5u, d.slots.size());
        EXPECT_EQ("0:2:0", d.slots[0]);
        EXPECT_EQ("", d.slots[1]);
    }
}

}  // namespace
}  // namespace qvtest
