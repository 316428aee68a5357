// The built program run headless from a fresh folder, as a person starts it:
// its standard output byte for byte and the lines of its report.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "program_run.h"
#include "win32/process_options.h"

namespace qvtest {

namespace {

const char kNoService[] = "OpenService failed!  Error = 1060 \n";
typedef std::vector<std::string> Cells;

struct ScriptedEnd {
    const char* name;
    const char* script;
    const char* endCode;
};

void PrintTo(const ScriptedEnd& end, std::ostream* os) { *os << end.name; }

class ProgramEnds : public ::testing::TestWithParam<ScriptedEnd> {};

const ScriptedEnd kEnds[] = {
    {"Exit", "click 1\n", "1"},    {"UninstallDriver", "click 2\n", "2"},
    {"Enter", "key enter\n", "1"}, {"Escape", "key escape\n", "2"},
    {"CloseBox", "close\n", "2"},  {"ScriptEnds", "# nothing to do\n", "2"},
};

}  // namespace

TEST_P(ProgramEnds, EndsWithItsCodeAfterTheStartUpDiagnostics) {
    ProgramRun run = RunProgram(GetParam().script);
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, std::string(kNoService) + kNoService);
    ASSERT_EQ(run.report.size(), 2u);
    EXPECT_EQ(run.report[0], std::string("end\t") + GetParam().endCode);
    EXPECT_EQ(run.report[1], "exit");
}

INSTANTIATE_TEST_SUITE_P(Headless, ProgramEnds, ::testing::ValuesIn(kEnds),
                         [](const ::testing::TestParamInfo<ScriptedEnd>& info) {
                             return std::string(info.param.name);
                         });

TEST(Headless, OpensWithFocusOnExitAndEmptySlots) {
    ProgramRun run = RunProgram("dump\nclick 1\n");
    ASSERT_TRUE(run.started);
    EXPECT_EQ(Lines(run, "focus"), (std::vector<Cells>{{"1"}}));
    std::vector<Cells> slots = Lines(run, "slot");
    EXPECT_EQ(slots, (std::vector<Cells>{{"0", ""}, {"1", ""}, {"2", ""}, {"3", ""}, {"4", ""}}));
    EXPECT_FALSE(Lines(run, "device").empty()) << "the first scan has filled the list";
    EXPECT_EQ(Lines(run, "end"), (std::vector<Cells>{{"1"}}));
}

TEST(Headless, TabVisitsTheTabStopsInTemplateOrder) {
    std::string script = "dump\n";
    for (int i = 0; i < 14; ++i) script += "key tab\ndump\n";
    script += "key shift-tab\ndump\nclick 1\n";
    ProgramRun run = RunProgram(script);
    std::vector<Cells> focus = Lines(run, "focus");
    const std::vector<Cells> expected = {{"1"},    {"1000"}, {"1001"}, {"1002"}, {"1008"}, {"1009"},
                                         {"1010"}, {"1011"}, {"1012"}, {"1013"}, {"1014"}, {"1015"},
                                         {"1016"}, {"1017"}, {"1"},    {"1017"}};
    EXPECT_EQ(focus, expected);
}

TEST(Headless, MissingDriverFileShowsTheOneMessageBoxAndNoDialog) {
    RunOptions options;
    options.driverFile = false;
    ProgramRun run = RunProgram("click 1\n", options);
    ASSERT_TRUE(run.started);
    std::string directory = standin::WindowsPathOf(run.folder);
    EXPECT_EQ(run.out, std::string(kNoService) + kNoService + "Driver: QUORVENAL.SYS is not in the " +
                           directory + " directory. \n" + kNoService + kNoService);
    EXPECT_EQ(run.report,
              (std::vector<std::string>{"msgbox\tError\tFailed to install/load quorvenal.sys!", "exit"}));
    EXPECT_EQ(run.exitCode, 0);
}

TEST(Headless, WithoutServiceRightsNoDialogRuns) {
    RunOptions options;
    options.extraArgs = {"--no-service-rights"};
    ProgramRun run = RunProgram("click 1\n", options);
    const std::string noManager = "Open SC Manager failed! Error = 5 \n";
    EXPECT_EQ(run.out, noManager + noManager + "Unable to install driver.\n" + noManager + noManager);
    EXPECT_EQ(run.report,
              (std::vector<std::string>{"msgbox\tError\tFailed to install/load quorvenal.sys!", "exit"}));
}

TEST(Headless, StaleServiceIsReplacedQuietly) {
    RunOptions options;
    options.extraArgs = {"--stale-service"};
    ProgramRun run = RunProgram("click 2\n", options);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.report, (std::vector<std::string>{"end\t2", "exit"}));
}

TEST(Headless, SlotMessageBoxesCarryTheProgramsTitle) {
    // The first row is 00:00.0; once it is gone, saving it fails.
    ProgramRun run = RunProgram("hw remove 00:00.0\nclick 1013\nclick 1\n");
    EXPECT_EQ(Lines(run, "msgbox"), (std::vector<Cells>{{"quorvenal", "SaveDevice:ERROR"}}));
    EXPECT_EQ(Lines(run, "end"), (std::vector<Cells>{{"1"}}));
}

}  // namespace qvtest
