// The terminal front end on a pseudo-terminal: the dialog is drawn, and keys
// and mouse clicks reach the dialog as a person's would.
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "test_support.h"
#include "ui/curses_front_end.h"

namespace qvtest {

namespace {

struct TerminalRun {
    std::string screen;  // everything the front end wrote
    int exitCode = -1;
    bool endedByInput = false;  // the dialog ended before its terminal went away
};

// Reads until `text` appears in the output or five seconds pass; false also
// when the other side has closed the terminal.
bool WaitFor(int fd, std::string* screen, const std::string& text) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (screen->find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char buffer[4096];
        ssize_t n = read(fd, buffer, sizeof(buffer));
        if (n <= 0) return false;
        screen->append(buffer, static_cast<size_t>(n));
    }
    return true;
}

// Runs the test dialog under the terminal front end in a child on a
// pseudo-terminal of 120 x 46, types `input` once it is drawn, and returns
// what was drawn and the dialog's end code as the child's exit code.
TerminalRun RunInTerminal(const std::string& input) {
    TerminalRun run;
    struct winsize size = {46, 120, 0, 0};
    int master = -1;
    pid_t child = forkpty(&master, nullptr, nullptr, &size);
    if (child == 0) {
        setenv("TERM", "xterm", 1);
        setenv("ESCDELAY", "10", 1);
        standin::ui::CursesFrontEnd frontEnd(nullptr);
        INT_PTR result;
        {
            FrontEndScope scope(&frontEnd);
            DialogScript script;
            result = RunDialog(kMainDialog, &script);
        }
        _exit(static_cast<int>(result & 0x7F));
    }
    if (child < 0) return run;
    if (WaitFor(master, &run.screen, "stand-in test")) {
        WaitFor(master, &run.screen, "F4 close");
        if (write(master, input.data(), input.size()) != static_cast<ssize_t>(input.size())) return run;
    }
    // The child closing its side before five seconds are up means the input ended the dialog.
    std::string rest;
    auto start = std::chrono::steady_clock::now();
    WaitFor(master, &rest, "\x01never");
    run.endedByInput = std::chrono::steady_clock::now() - start < std::chrono::seconds(4);
    run.screen += rest;
    close(master);  // a child still waiting sees its input end
    int status = 0;
    if (waitpid(child, &status, 0) == child && WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
    return run;
}

// A left click as xterm reports it (SGR mouse mode: 1-based column and row,
// "M" for the press, "m" for the release).
std::string Click(int column, int row) {
    std::string at = std::to_string(column + 1) + ";" + std::to_string(row + 1);
    return "\x1b[<0;" + at + "M" + "\x1b[<0;" + at + "m";
}

}  // namespace

TEST(TerminalFrontEnd, DrawsTheDialogAndEscapeCancelsIt) {
    TerminalRun run = RunInTerminal("\x1b");
    EXPECT_EQ(run.exitCode, IDCANCEL);
    EXPECT_TRUE(run.endedByInput);
    EXPECT_NE(run.screen.find("<Exit>"), std::string::npos);  // the default button
    EXPECT_NE(run.screen.find("[Again]"), std::string::npos);
    EXPECT_NE(run.screen.find("Slots"), std::string::npos);   // a group box's title
}

TEST(TerminalFrontEnd, TabThenEnterPressesTheFocusedButton) {
    // Tab to the list, to "Again" (Enter there presses it, the dialog stays),
    // then Tab around to "Exit" and Enter.
    TerminalRun run = RunInTerminal("\t\t\r\t\t\t\r");
    EXPECT_EQ(run.exitCode, IDOK);
    EXPECT_TRUE(run.endedByInput);
}

TEST(TerminalFrontEnd, MouseClicksAndTheCloseKey) {
    // "Exit" is at dialog units 180, 80 (50 x 14): cells 45..57, rows 10..11, inside a one-cell frame.
    EXPECT_EQ(RunInTerminal(Click(50, 11)).exitCode, IDOK);
    TerminalRun close = RunInTerminal("\x1bOS");  // F4: the close box
    EXPECT_EQ(close.exitCode, IDCANCEL);
    EXPECT_TRUE(close.endedByInput);
    TerminalRun interrupt = RunInTerminal("\x03");  // Ctrl-C: the close box too
    EXPECT_EQ(interrupt.exitCode, IDCANCEL);
    EXPECT_TRUE(interrupt.endedByInput);
    // A key that does nothing leaves the dialog up until the terminal goes away
    // (and the hang-up ends the process).
    TerminalRun idle = RunInTerminal("x");
    EXPECT_FALSE(idle.endedByInput);
    EXPECT_NE(idle.exitCode, IDOK);
}

}  // namespace qvtest
