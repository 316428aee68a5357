// The register view as the program shows it, run headless on the kinds
// machine (tests/fixtures/kinds.lspci): its rows, in order, as "name=value".
#include <gtest/gtest.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "program_run.h"

namespace qvtest {
namespace {

// Device-list rows of the kinds machine.
enum {
    kHostBridge = 0,  // 00:00.0, header type byte 0x80
    kSata = 2,        // 00:00.5
    kPciX = 3,        // 00:01.0
    kExpress = 4,     // 00:02.0, extended space
    kPciXFirst = 5,   // 00:03.0, PCI-X listed before PCI Express
    kRootPort = 7,    // 00:1c.0, header type 1, PCI Express
    kCardBus = 8,     // 00:1e.0, header type 2
    kNoLayout = 10,   // 01:01.0, header type 0x7F
};

std::vector<std::string> View(const Dump& dump) {
    std::vector<std::string> rows;
    for (size_t i = 0; i < dump.registers.size(); ++i) {
        const ReportLine& r = dump.registers[i];
        EXPECT_EQ(std::to_string(i), r[0]) << "rows are numbered without gaps";
        rows.push_back(r[1] + "=" + (r.size() > 2 ? r[2] : ""));
    }
    return rows;
}

// Dump rows of a region whose byte at offset i holds i & 0xFF.
std::vector<std::string> CountingDump(unsigned first, unsigned end) {
    std::vector<std::string> rows;
    for (unsigned x = first; x < end; x += 16) {
        char text[80];
        unsigned b = x & 0xFF;
        snprintf(text, sizeof text,
                 "Device Specific [%X]=%02X%02X%02X%02X %02X%02X%02X%02X %02X%02X%02X%02X "
                 "%02X%02X%02X%02X",
                 x, b, b + 1, b + 2, b + 3, b + 4, b + 5, b + 6, b + 7, b + 8, b + 9, b + 10, b + 11, b + 12,
                 b + 13, b + 14, b + 15);
        rows.push_back(text);
    }
    return rows;
}

Dump ShowRow(int row) {
    ProgramRun run =
        RunProgram("select " + std::to_string(row) + "\ndump\n", OnMachine(Fixture("kinds.lspci")));
    EXPECT_EQ("", FeatureOutput(run));
    EXPECT_EQ(1u, run.dumps.size());
    return run.dumps.empty() ? Dump() : run.dumps[0];
}

TEST(RegisterView, TypeZeroWithMultiFunctionBitShowsEveryRow) {
    // The scan selects row 0 itself; no click is needed to see it.
    ProgramRun run = RunProgram("dump\n", OnMachine(Fixture("kinds.lspci")));
    ASSERT_EQ(1u, run.dumps.size());
    std::vector<std::string> expected = {"Vendor ID=8086",
                                         "Device ID=2A00",
                                         "Command=0006",
                                         "Status=0000",
                                         "Revision ID=01",
                                         "Class Code=060000",
                                         "Cache Line Size=10",
                                         "Latency Timer=00",
                                         "Header Type=80",
                                         "BIST=00",
                                         "BAR0=00000000",
                                         "BAR1=00000000",
                                         "BAR2=00000000",
                                         "BAR3=00000000",
                                         "BAR4=00000000",
                                         "BAR5=00000000",
                                         "Cardbus CIS pointer=00000000",
                                         "Subsystem Vendor ID=0000",
                                         "Subsystem ID=0000",
                                         "Expansion ROM Base=00000000",
                                         "Capabilities Pointer=00",
                                         "Reserved1=000000",
                                         "Reserved2=00000000",
                                         "Interrupt Line=00",
                                         "Interrupt Pin=00",
                                         "Minimam Grant=00",
                                         "Maximum Latency=00"};
    for (const std::string& row : CountingDump(0x40, 0x100)) expected.push_back(row);
    EXPECT_EQ(expected, View(run.dumps[0]));
}

TEST(RegisterView, ClassCodeAndReservedBytesInTheirOwnOrders) {
    Dump dump = ShowRow(kSata);
    EXPECT_EQ("010601", RegisterValue(dump, "Class Code"));
    EXPECT_EQ("1234AB", RegisterValue(dump, "Reserved1"));
    EXPECT_EQ(39u, dump.registers.size());
}

TEST(RegisterView, PciExpressFunctionShowsItsExtendedSpace) {
    Dump dump = ShowRow(kExpress);
    std::vector<std::string> view = View(dump);
    ASSERT_EQ(279u, view.size());
    EXPECT_EQ("BAR0=FEC20004", view[10]);
    EXPECT_EQ("Capabilities Pointer=48", view[20]);
    EXPECT_EQ("Device Specific [F0]=F0F1F2F3 F4F5F6F7 F8F9FAFB FCFDFEFF", view[38]);
    // Extended space: the AER header 01 00 01 00 at 0x100, shown in address order.
    EXPECT_EQ("Device Specific [100]=01000100 04050607 08090A0B 0C0D0E0F", view[39]);
    std::vector<std::string> rest = CountingDump(0x110, 0x1000);
    EXPECT_EQ(rest, std::vector<std::string>(view.begin() + 40, view.end()));
    EXPECT_EQ("Device Specific [FF0]", dump.registers.back()[1]);
}

TEST(RegisterView, PciXFunctionShowsNoExtendedSpace) {
    for (int row : {kPciX, kPciXFirst}) {
        Dump dump = ShowRow(row);
        ASSERT_EQ(39u, dump.registers.size()) << row;
        EXPECT_EQ("Device Specific [F0]", dump.registers.back()[1]) << row;
    }
}

TEST(RegisterView, BridgeLayoutForHeaderTypeOne) {
    Dump dump = ShowRow(kRootPort);
    std::vector<std::string> view = View(dump);
    ASSERT_EQ(285u, view.size());  // 33 + 12 + 240: a PCI Express root port
    std::vector<std::string> head(view.begin() + 8, view.begin() + 33);
    std::vector<std::string> expected = {"Header Type=81",
                                         "BIST=00",
                                         "BAR0=00000000",
                                         "BAR1=00000000",
                                         "Primary Bus=00",
                                         "Secondary Bus=01",
                                         "Subordinate Bus=01",
                                         "Secondary Latency=00",
                                         "IO Base=00",
                                         "IO Limit=00",
                                         "Secondary Status=2000",
                                         "Memory Base=0000",
                                         "Memory Limit=0000",
                                         "Prefetch Base=0000",
                                         "Prefetch Limit=0000",
                                         "Prefetch Base Upper32=00000000",
                                         "Prefetch Limit Upper32=00000000",
                                         "IO Base Upper16=0000",
                                         "IO Limit Upper16=0000",
                                         "Capabilities Pointer=40",
                                         "Reserved=000000",
                                         "ROM Base Address=00000000",
                                         "Interrupt Line=00",
                                         "Interrupt Pin=00",
                                         "Bridge Control=0005"};
    EXPECT_EQ(expected, head);
    EXPECT_EQ("Device Specific [40]", dump.registers[33][1]);
    EXPECT_EQ("Device Specific [100]", dump.registers[45][1]);
}

TEST(RegisterView, CardBusLayoutForHeaderTypeTwo) {
    Dump dump = ShowRow(kCardBus);
    std::vector<std::string> view = View(dump);
    ASSERT_EQ(41u, view.size());
    std::vector<std::string> head(view.begin() + 8, view.begin() + 29);
    std::vector<std::string> expected = {
        "Header Type=02",          "BIST=00",          "Socket Registers Base Address=00000000",
        "Capabilities Pointer=A0", "Reserved=3C",      "Secondary Status=0000",
        "Primary Bus=00",          "Secondary Bus=02", "Subordinate Bus=05",
        "Secondary Latency=00",    "Base1=00000000",   "Limit1=00000000",
        "Base2=00000000",          "Limit2=00000000",  "Base3=00000000",
        "Limit3=00000000",         "Base4=00000000",   "Limit4=00000000",
        "Interrupt Line=00",       "Interrupt Pin=00", "Bridge Control=0000"};
    EXPECT_EQ(expected, head);
    EXPECT_EQ("Device Specific [40]", dump.registers[29][1]);
}

TEST(RegisterView, CardBusCapabilitiesAreFollowedFromTheirOwnPointer) {
    // The CardBus bridge's list (pointer at 0x14) holds PCI Express; the byte
    // at 0x34 would lead to PCI-X. Shown as PCI Express: the extended dump follows.
    ProgramRun run = RunProgram("select 1\ndump\n", OnMachine(Fixture("cardbus-express.lspci")));
    EXPECT_EQ("", FeatureOutput(run));
    ASSERT_EQ(1u, run.dumps.size());
    std::vector<std::string> names = RegisterNames(run.dumps[0]);
    ASSERT_EQ(41u + 240u, names.size());
    EXPECT_EQ("Capabilities Pointer=A0", View(run.dumps[0])[11]);
    EXPECT_EQ("Device Specific [100]", names[41]);
    EXPECT_EQ("Device Specific [FF0]", names.back());
}

TEST(RegisterView, HeaderTypeWithoutLayoutShowsOnlyTheDumpLabels) {
    // No names are laid out, so the values have no rows to go to; the dump
    // rows are appended from the first row on, and their values are aimed at
    // rows ten further down, which do not exist.
    Dump dump = ShowRow(kNoLayout);
    std::vector<std::string> expected;
    for (unsigned x = 0x40; x < 0x100; x += 0x10) {
        char label[32];
        snprintf(label, sizeof label, "Device Specific [%X]=", x);
        expected.push_back(label);
    }
    EXPECT_EQ(expected, View(dump));
}

TEST(RegisterView, SelectingTheShownRowAgainReadsNothingNew) {
    // The view follows the selection mark: clicking the row already shown
    // (row 0, shown since the scan) keeps the view as it was, even after the
    // hardware changed; moving away and back reads the function anew.
    ProgramRun run = RunProgram(
        "hw write 00:00.0 40 4 deadbeef\nselect 0\ndump\n"
        "select 1\nselect 0\ndump\n",
        OnMachine(Fixture("kinds.lspci")));
    ASSERT_EQ(2u, run.dumps.size());
    EXPECT_EQ("40414243 44454647 48494A4B 4C4D4E4F", RegisterValue(run.dumps[0], "Device Specific [40]"));
    EXPECT_EQ("EFBEADDE 44454647 48494A4B 4C4D4E4F", RegisterValue(run.dumps[1], "Device Specific [40]"));
}

TEST(RegisterView, RescanShowsRowZeroUnlessItIsShownAlready) {
    // Row 0 shown since start-up: a rescan selects it again and reads
    // nothing, so a change in the hardware does not show. With another row
    // shown, the rescan's selection of row 0 shows row 0.
    ProgramRun run = RunProgram(
        "hw write 00:00.0 40 1 99\nclick 1001\ndump\n"
        "select 4\nclick 1001\ndump\n",
        OnMachine(Fixture("kinds.lspci")));
    ASSERT_EQ(2u, run.dumps.size()) << run.out << run.err;
    EXPECT_EQ("40414243 44454647 48494A4B 4C4D4E4F", RegisterValue(run.dumps[0], "Device Specific [40]"));
    EXPECT_EQ(39u, run.dumps[1].registers.size());
    EXPECT_EQ("99414243 44454647 48494A4B 4C4D4E4F", RegisterValue(run.dumps[1], "Device Specific [40]"));
}

TEST(RegisterView, FunctionGoneSinceTheScanLeavesTheViewEmpty) {
    ProgramRun run = RunProgram("select 4\nhw remove 00:02.0\nselect 3\nselect 4\ndump\n",
                                OnMachine(Fixture("kinds.lspci")));
    ASSERT_EQ(1u, run.dumps.size());
    EXPECT_TRUE(run.dumps[0].registers.empty());
    EXPECT_EQ(11u, run.dumps[0].devices.size());  // the list is not rescanned
    EXPECT_EQ("", FeatureOutput(run));            // and nothing is printed
    EXPECT_TRUE(run.msgboxes.empty());
}

// The arrow keys in the device list show the row they select, and Save takes
// that same row.
TEST(RegisterView, KeyboardSelectionShowsTheRowItSelects) {
    ProgramRun run = RunProgram("key tab\nkey down\ndump\nkey down\nclick 1013\ndump\n",
                                OnMachine(Fixture("kinds.lspci")));
    ASSERT_EQ(2u, run.dumps.size()) << run.out << run.err;
    for (int step = 0; step < 2; ++step) {
        const Dump& dump = run.dumps[step];
        const ReportLine& row = dump.devices.at(step + 1);
        EXPECT_EQ(row[6], RegisterValue(dump, "Vendor ID")) << "step " << step;
        EXPECT_EQ(row[7], RegisterValue(dump, "Device ID")) << "step " << step;
    }
    const ReportLine& saved = run.dumps[1].devices.at(2);
    char address[32];
    snprintf(address, sizeof address, "%X:%X:%X", std::stoi(saved[2]), std::stoi(saved[3]),
             std::stoi(saved[4]));
    EXPECT_EQ(address, run.dumps[1].slots.at(0));

    // Back up to the first row from the keyboard: row 0 is shown.
    run = RunProgram("key tab\nkey down\nkey up\ndump\n", OnMachine(Fixture("kinds.lspci")));
    ASSERT_EQ(1u, run.dumps.size()) << run.out << run.err;
    EXPECT_EQ(run.dumps[0].devices.at(0)[7], RegisterValue(run.dumps[0], "Device ID"));
}

}  // namespace
}  // namespace qvtest
