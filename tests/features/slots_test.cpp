// The five slots as the user drives them, run headless on the kinds machine
// (tests/fixtures/kinds.lspci): save a function, lose its configuration in the
// hardware, write the slot back and see the function read as saved.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "program_run.h"

namespace qvtest {
namespace {

// Device-list rows and addresses of the kinds machine.
const char* const kExpressRow = "4";  // 00:02.0, PCI Express
const char* const kExpressFunction = "00:02.0";
const char* const kConventionalRow = "0";  // 00:00.0

// Brings 00:02.0 out of its power-on state, in the header, the
// device-specific region and the extended space.
const char* const kConfigure =
    "hw write 00:02.0 3c 1 0b\n"
    "hw write 00:02.0 44 4 11223344\n"
    "hw write 00:02.0 200 4 cafef00d\n"
    "hw write 00:02.0 ffc 4 12345678\n";

std::vector<ReportLine> Registers(const ProgramRun& run, size_t dump) {
    return dump < run.dumps.size() ? run.dumps[dump].registers : std::vector<ReportLine>();
}

// The view of a space written back as saved, as hardware shows it: the
// error-reporting capability's status registers (0x104 and 0x110 on the
// kinds machine) clear the bits the saved values write with 1.
std::vector<ReportLine> WithErrorStatusCleared(std::vector<ReportLine> registers) {
    for (ReportLine& line : registers) {
        if (line.size() < 3) continue;
        if (line[1] == "Device Specific [100]") line[2].replace(9, 8, "00000000");
        if (line[1] == "Device Specific [110]") line[2].replace(0, 8, "00000000");
    }
    return registers;
}

TEST(Slots, SaveLoseReloadReadsBackAsSaved) {
    std::string script = std::string(kConfigure) + "select " + kExpressRow +
                         "\n"
                         "dump\n"        // 0: the configured function
                         "click 1014\n"  // save into slot 1 ("2")
                         "dump\n"        // 1
                         "hw reset " +
                         kExpressFunction +
                         "\n"
                         "select 3\n"
                         "select " +
                         kExpressRow +
                         "\n"
                         "dump\n"  // 2: configuration lost
                         "select 3\n"
                         "click 1009\n"  // reload slot 1
                         "dump\n";       // 3: written back, re-selected, shown
    ProgramRun run = RunProgram(script, OnMachine(Fixture("kinds.lspci")));
    ASSERT_EQ(4u, run.dumps.size()) << run.out << run.err;
    EXPECT_EQ("", FeatureOutput(run));
    EXPECT_TRUE(run.msgboxes.empty());

    const Dump& configured = run.dumps[0];
    ASSERT_EQ(279u, configured.registers.size());
    EXPECT_EQ("0B", RegisterValue(configured, "Interrupt Line"));
    EXPECT_EQ("40414243 44332211 01604A4B 4C4D4E4F", RegisterValue(configured, "Device Specific [40]"));
    EXPECT_EQ("0DF0FECA 04050607 08090A0B 0C0D0E0F", RegisterValue(configured, "Device Specific [200]"));

    ASSERT_EQ(5u, run.dumps[1].slots.size());
    EXPECT_EQ("0:2:0", run.dumps[1].slots[1]);
    for (int k : {0, 2, 3, 4}) EXPECT_EQ("", run.dumps[1].slots[k]) << k;

    const Dump& lost = run.dumps[2];
    EXPECT_EQ("00", RegisterValue(lost, "Interrupt Line"));
    EXPECT_EQ("00010203 04050607 08090A0B 0C0D0E0F", RegisterValue(lost, "Device Specific [200]"));

    EXPECT_EQ("01000100 04050607 08090A0B 0C0D0E0F", RegisterValue(configured, "Device Specific [100]"));
    EXPECT_EQ(WithErrorStatusCleared(configured.registers), Registers(run, 3));
    EXPECT_EQ("0:2:0", run.dumps[3].slots[1]);  // a reload leaves the slot as it was
}

// Each pair of buttons works on its own slot: five functions saved one to a
// slot, each changed, and each slot written back brings back its own
// function, which the view then shows.
TEST(Slots, EachButtonPairWorksOnItsOwnSlot) {
    const char* const rows[] = {"0", "2", "3", "4", "5"};
    const char* const addresses[] = {"00:00.0", "00:00.5", "00:01.0", "00:02.0", "00:03.0"};
    const char* const deviceIds[] = {"2A00", "2A05", "0030", "4363", "1648"};
    std::string script;
    for (int k = 0; k < 5; ++k) {
        script += std::string("select ") + rows[k] + "\nclick " + std::to_string(1013 + k) + "\n";
    }
    script += "dump\n";
    for (int k = 0; k < 5; ++k) script += std::string("hw write ") + addresses[k] + " 3c 1 0e\n";
    for (int k = 0; k < 5; ++k) script += "click " + std::to_string(1008 + k) + "\ndump\n";
    ProgramRun run = RunProgram(script, OnMachine(Fixture("kinds.lspci")));
    ASSERT_EQ(6u, run.dumps.size()) << run.out << run.err;
    EXPECT_TRUE(run.msgboxes.empty());
    EXPECT_EQ(run.dumps[0].slots, (std::vector<std::string>{"0:0:0", "0:0:5", "0:1:0", "0:2:0", "0:3:0"}));
    for (int k = 0; k < 5; ++k) {
        const Dump& shown = run.dumps[1 + k];
        EXPECT_NE("0E", RegisterValue(shown, "Interrupt Line")) << addresses[k];
        EXPECT_EQ(deviceIds[k], RegisterValue(shown, "Device ID")) << "slot " << k + 1;
    }
}

TEST(Slots, ReloadSelectsTheWrittenBackFunction) {
    // After the reload the selection mark is on the reloaded row: selecting
    // that row again shows the view as the reload left it, without a new
    // read, while the row previously selected is shown anew when clicked.
    std::string script = std::string("select ") + kExpressRow +
                         "\n"
                         "click 1013\n"
                         "select 3\n"
                         "click 1008\n"
                         "hw write 00:02.0 3c 1 0e\n"
                         "select " +
                         kExpressRow +
                         "\n"
                         "dump\n"
                         "select 3\n"
                         "select " +
                         kExpressRow +
                         "\n"
                         "dump\n";
    ProgramRun run = RunProgram(script, OnMachine(Fixture("kinds.lspci")));
    ASSERT_EQ(2u, run.dumps.size()) << run.out << run.err;
    EXPECT_EQ("00", RegisterValue(run.dumps[0], "Interrupt Line"));
    EXPECT_EQ("0E", RegisterValue(run.dumps[1], "Interrupt Line"));
}

TEST(Slots, ReloadOfTheFunctionOnDisplayShowsItAnew) {
    // The reloaded function is the one shown last: re-selecting its row
    // raises no new read, so only the reload's own display shows the
    // written-back state.
    std::string script = std::string("hw write 00:02.0 3c 1 0b\n") + "select " + kExpressRow +
                         "\n"
                         "click 1013\n"  // save into slot 0
                         "hw write 00:02.0 3c 1 0e\n"
                         "select 3\n"
                         "select " +
                         kExpressRow +
                         "\n"
                         "dump\n"        // 0: the changed function
                         "click 1008\n"  // reload slot 0
                         "dump\n";       // 1
    ProgramRun run = RunProgram(script, OnMachine(Fixture("kinds.lspci")));
    ASSERT_EQ(2u, run.dumps.size()) << run.out << run.err;
    EXPECT_EQ("0E", RegisterValue(run.dumps[0], "Interrupt Line"));
    EXPECT_EQ("0B", RegisterValue(run.dumps[1], "Interrupt Line"));
}

TEST(Slots, ReloadMovesTheSelectionMarkThatSavingUses) {
    // Saved from row 4, reloaded while row 3 is selected: the next save takes
    // the function at the selection mark, which the reload moved to row 4.
    std::string script = std::string("select ") + kExpressRow +
                         "\n"
                         "click 1013\n"  // save into slot 0
                         "select 3\n"
                         "click 1008\n"  // reload slot 0
                         "click 1014\n"  // save into slot 1
                         "dump\n";
    // The same for the first row and for the last (01:01.0).
    script +=
        "select 0\nclick 1015\n"   // save 00:00.0 into slot 2
        "select 3\nclick 1010\n"   // reload slot 2
        "click 1016\n"             // save into slot 3
        "select 10\nclick 1017\n"  // save 01:01.0 into slot 4
        "select 3\nclick 1012\n"   // reload slot 4
        "click 1013\n"             // save into slot 0
        "dump\n";
    ProgramRun run = RunProgram(script, OnMachine(Fixture("kinds.lspci")));
    ASSERT_EQ(2u, run.dumps.size()) << run.out << run.err;
    EXPECT_EQ("0:2:0", run.dumps[0].slots[0]);
    EXPECT_EQ("0:2:0", run.dumps[0].slots[1]);
    EXPECT_EQ((ReportLine{"4", "4", "4"}), run.dumps[0].selection);  // marked, focused, the one selected
    EXPECT_EQ("0:0:0", run.dumps[1].slots[3]);
    EXPECT_EQ("1:1:0", run.dumps[1].slots[0]);
    EXPECT_EQ((ReportLine{"10", "10", "10"}), run.dumps[1].selection);
}

TEST(Slots, ConventionalFunctionRoundTrip) {
    std::string script = std::string("select ") + kConventionalRow +
                         "\n"
                         "hw write 00:00.0 80 4 a5a5a5a5\n"
                         "select 1\nselect 0\n"
                         "click 1017\n"  // save into slot 4 ("5")
                         "hw reset 00:00.0\n"
                         "click 1012\n"          // reload slot 4
                         "select 1\nselect 0\n"  // read anew: the view shows the hardware
                         "dump\n";
    ProgramRun run = RunProgram(script, OnMachine(Fixture("kinds.lspci")));
    ASSERT_EQ(1u, run.dumps.size()) << run.out << run.err;
    EXPECT_EQ("0:0:0", run.dumps[0].slots[4]);
    EXPECT_EQ(39u, run.dumps[0].registers.size());
    EXPECT_EQ("A5A5A5A5 84858687 88898A8B 8C8D8E8F", RegisterValue(run.dumps[0], "Device Specific [80]"));
}

TEST(Slots, SlotAddressShowsHexWithoutLeadingZeros) {
    ProgramRun run = RunProgram(
        "select 7\nclick 1013\nselect 9\nclick 1016\nselect 2\nclick 1015\n"
        "dump\n",
        OnMachine(Fixture("kinds.lspci")));
    ASSERT_EQ(1u, run.dumps.size()) << run.out << run.err;
    std::vector<std::string> expected = {"0:1C:0", "", "0:0:5", "1:0:0", ""};
    EXPECT_EQ(expected, run.dumps[0].slots);
}

TEST(Slots, FailedSaveEmptiesAFilledSlot) {
    std::string script = std::string("select ") + kExpressRow +
                         "\n"
                         "click 1013\n"
                         "dump\n"
                         "hw remove 00:02.0\n"
                         "click 1013\n"  // the selected function no longer answers
                         "dump\n"
                         "hw restore 00:02.0\n"
                         "hw write 00:02.0 3c 1 0e\n"
                         "click 1008\n"  // the emptied slot: nothing happens
                         "select 3\nselect 4\n"
                         "dump\n";
    ProgramRun run = RunProgram(script, OnMachine(Fixture("kinds.lspci")));
    ASSERT_EQ(3u, run.dumps.size()) << run.out << run.err;
    EXPECT_EQ("0:2:0", run.dumps[0].slots[0]);
    ASSERT_EQ(1u, run.msgboxes.size());
    EXPECT_EQ("SaveDevice:ERROR", run.msgboxes[0].back());
    EXPECT_EQ("", run.dumps[1].slots[0]);
    EXPECT_EQ("", run.dumps[2].slots[0]);
    // Had the reload written the old bytes back, the line would read 00.
    EXPECT_EQ("0E", RegisterValue(run.dumps[2], "Interrupt Line"));
    EXPECT_EQ("", FeatureOutput(run));
}

TEST(Slots, ReloadingAnEmptySlotDoesNothing) {
    ProgramRun run = RunProgram(
        "select 4\ndump\nclick 1008\nclick 1009\nclick 1010\nclick 1011\n"
        "click 1012\ndump\n",
        OnMachine(Fixture("kinds.lspci")));
    ASSERT_EQ(2u, run.dumps.size());
    EXPECT_TRUE(run.msgboxes.empty());
    EXPECT_EQ(run.dumps[0].registers, run.dumps[1].registers);
    EXPECT_EQ(run.dumps[0].slots, run.dumps[1].slots);
    EXPECT_EQ("", FeatureOutput(run));
}

TEST(Slots, ReloadOfAConventionalFunctionThatIsGoneIsReportedDone) {
    // The driver reports a header write done (Result 1) whether or not a
    // function answers, and a conventional function has nothing more to
    // write: the reload shows no error, and only the view, read afresh,
    // finds nothing there.
    ProgramRun run = RunProgram(std::string("select ") + kConventionalRow +
                                    "\nclick 1013\n"
                                    "hw remove 00:00.0\n"
                                    "click 1008\n"
                                    "dump\n",
                                OnMachine(Fixture("kinds.lspci")));
    ASSERT_EQ(1u, run.dumps.size()) << run.out << run.err;
    EXPECT_TRUE(run.msgboxes.empty());
    EXPECT_EQ("", FeatureOutput(run));
    EXPECT_EQ("0:0:0", run.dumps[0].slots[0]);
    EXPECT_TRUE(run.dumps[0].registers.empty());
}

TEST(Slots, ReloadOfAFunctionNoLongerListed) {
    // Saved, then gone at a rescan, then back in the hardware: the reload
    // writes it, selects no row, and still shows it as it now reads.
    std::string script = std::string(kConfigure) +
                         "select 4\nclick 1013\n"
                         "hw remove 00:02.0\nclick 1001\n"
                         "hw restore 00:02.0\nhw reset 00:02.0\n"
                         "click 1008\n"
                         "dump\n"
                         // Gone again: the header write is accepted, but the
                         // driver refuses the extended write for a function
                         // whose identifiers no longer stand in the window,
                         // and the reload reports its failure.
                         "hw remove 00:02.0\n"
                         "click 1008\n"
                         "dump\n";
    ProgramRun run = RunProgram(script, OnMachine(Fixture("kinds.lspci")));
    ASSERT_EQ(2u, run.dumps.size()) << run.out << run.err;
    EXPECT_EQ(10u, run.dumps[0].devices.size());
    EXPECT_EQ(279u, run.dumps[0].registers.size());
    EXPECT_EQ("0B", RegisterValue(run.dumps[0], "Interrupt Line"));
    EXPECT_EQ("0DF0FECA 04050607 08090A0B 0C0D0E0F", RegisterValue(run.dumps[0], "Device Specific [200]"));
    ASSERT_EQ(1u, run.msgboxes.size());
    EXPECT_EQ("ReloadDevice:Error", run.msgboxes[0].back());
}

TEST(Slots, ASaveAfterAReloadThatSelectedNoRowSavesNothing) {
    // The reload takes the selection off the marked row and finds no row of
    // its own: nothing is selected, so the slot buttons have nothing to act
    // on, not the row that was marked before. 00:02.0 is row 4 and 00:00.0
    // row 0 before they leave the list; a row no longer listed reads as
    // 00:00.0 to a list that is asked past its end.
    std::string script =
        "select 4\nclick 1013\n"           // save 00:02.0 into slot 0
        "hw remove 00:02.0\nclick 1001\n"  // gone at a rescan
        "hw restore 00:02.0\n"
        "select 3\nclick 1008\n"  // reload slot 0: no row of its own
        "click 1014\n"            // save into slot 1
        "dump\n"
        "select 0\nclick 1015\n"  // save 00:00.0 into slot 2
        "hw remove 00:00.0\nclick 1001\n"
        "hw restore 00:00.0\n"
        "select 2\nclick 1010\n"  // reload slot 2
        "click 1016\n"            // save into slot 3
        "dump\n";
    ProgramRun run = RunProgram(script, OnMachine(Fixture("kinds.lspci")));
    ASSERT_EQ(2u, run.dumps.size()) << run.out << run.err;
    EXPECT_EQ("0:2:0", run.dumps[0].slots[0]);
    EXPECT_EQ("", run.dumps[0].slots[1]);
    EXPECT_EQ((ReportLine{"-1", "-1"}), run.dumps[0].selection);  // no mark, no focus, none selected
    EXPECT_EQ("0:0:0", run.dumps[1].slots[2]);
    EXPECT_EQ("", run.dumps[1].slots[3]);
    EXPECT_EQ((ReportLine{"-1", "-1"}), run.dumps[1].selection);
    EXPECT_TRUE(run.msgboxes.empty()) << run.msgboxes.size();
}

TEST(Slots, TheRowMarkedBeforeAReloadThatSelectedNoRowIsShownWhenSelectedAgain) {
    // The reload shows its function although no row holds it; selecting the
    // row that was marked before must read that row, not keep the view on the
    // reloaded function as if the row were already on display.
    std::string script =
        "select 4\nclick 1013\n"           // save 00:02.0 into slot 0
        "hw remove 00:02.0\nclick 1001\n"  // gone at a rescan
        "hw restore 00:02.0\n"
        "select 3\ndump\n"   // 0: row 3 as it reads
        "click 1008\n"       // reload slot 0: shows 00:02.0, no row of its own
        "dump\n"             // 1
        "select 3\ndump\n";  // 2: row 3 again
    ProgramRun run = RunProgram(script, OnMachine(Fixture("kinds.lspci")));
    ASSERT_EQ(3u, run.dumps.size()) << run.out << run.err;
    ASSERT_NE(run.dumps[0].registers, run.dumps[1].registers);
    EXPECT_EQ(run.dumps[0].registers, run.dumps[2].registers);
}

}  // namespace
}  // namespace qvtest
