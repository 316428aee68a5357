// The headless runner itself: what its options change, and that a run leaves
// nothing behind.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#include "program_run.h"

namespace qvtest {
namespace {

bool Exists(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0;
}

TEST(ProgramRunner, RemovesTheFolderItRanIn) {
    ProgramRun run = RunProgram("click 1\n");
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, 0);
    ASSERT_FALSE(run.folder.empty());
    EXPECT_FALSE(Exists(run.folder)) << run.folder;
}

TEST(ProgramRunner, StandardErrorIsCapturedUnlessLeftToTheTest) {
    // A machine file that does not exist: the launcher refuses on standard error.
    RunOptions options = OnMachine("no-such-machine.lspci");
    ProgramRun run = RunProgram("click 1\n", options);
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.err.rfind("quorvenal: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find("no-such-machine.lspci"), std::string::npos) << run.err;
    EXPECT_TRUE(run.report.empty());
    EXPECT_FALSE(Exists(run.folder)) << "a refused start leaves no folder either";

    options.captureStderr = false;
    run = RunProgram("click 1\n", options);
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.err, "");
}

TEST(ProgramRunner, OnlyTheTracedCopyLeavesATrace) {
    ProgramRun plain = RunProgram("click 1\n");
    ASSERT_TRUE(plain.started);
    EXPECT_TRUE(plain.trace.empty());

    RunOptions options;
    options.traced = true;
    ProgramRun traced = RunProgram("click 1\n", options);
    ASSERT_TRUE(traced.started);
    ASSERT_FALSE(traced.trace.empty());
    EXPECT_EQ(traced.trace[0], "request 222400 00:00.0") << "the scan's first header read";
    EXPECT_EQ(traced.report, plain.report);
}

}  // namespace
}  // namespace qvtest
