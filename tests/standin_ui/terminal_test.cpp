// The terminal front end on a pseudo-terminal: the dialog is drawn, and keys
// and mouse clicks reach the dialog as a person's would.
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
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
// what was drawn and the dialog's end code as the child's exit code. Parts of
// the input between "\x01" marks arrive apart, as a person's press and
// release do. `onInit` runs when the dialog is initialised.
TerminalRun RunInTerminal(const std::string& input, std::function<void(HWND)> onInit = nullptr) {
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
            script.onInit = onInit;
            result = RunDialog(kMainDialog, &script);
        }
        _exit(static_cast<int>(result & 0x7F));
    }
    if (child < 0) return run;
    if (WaitFor(master, &run.screen, "stand-in test")) {
        WaitFor(master, &run.screen, "F4 close");
        size_t at = 0;
        while (at <= input.size()) {
            size_t end = input.find('\x01', at);
            if (end == std::string::npos) end = input.size();
            std::string part = input.substr(at, end - at);
            if (!part.empty() && write(master, part.data(), part.size()) != static_cast<ssize_t>(part.size()))
                return run;
            at = end + 1;
            if (at <= input.size()) usleep(100000);
        }
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

// The press and the release apart in time and place.
std::string Press(int column, int row) {
    return "\x1b[<0;" + std::to_string(column + 1) + ";" + std::to_string(row + 1) + "M\x01";
}
std::string Release(int column, int row) {
    return "\x1b[<0;" + std::to_string(column + 1) + ";" + std::to_string(row + 1) + "m\x01";
}

}  // namespace

TEST(TerminalFrontEnd, DrawsTheDialogAndEscapeCancelsIt) {
    TerminalRun run = RunInTerminal("\x1b");
    EXPECT_EQ(run.exitCode, IDCANCEL);
    EXPECT_TRUE(run.endedByInput);
    EXPECT_NE(run.screen.find("<Exit>"), std::string::npos);  // the default button
    EXPECT_NE(run.screen.find("[Again]"), std::string::npos);
    EXPECT_NE(run.screen.find("Slots"), std::string::npos);  // a group box's title
    // The help line names the button Escape presses, as it is captioned.
    EXPECT_NE(run.screen.find("Esc Quit"), std::string::npos);
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

// A button acts when the mouse button is released over it, as on Windows: a
// press on "Exit" (cells 45..57, rows 11..12) released elsewhere does nothing,
// and so does a press on the close box (columns 57..59 of the caption).
TEST(TerminalFrontEnd, MouseButtonsActOnRelease) {
    TerminalRun pressAndRelease = RunInTerminal(Press(50, 11) + Release(50, 11));
    EXPECT_EQ(pressAndRelease.exitCode, IDOK);
    EXPECT_TRUE(pressAndRelease.endedByInput);
    TerminalRun releasedElsewhere = RunInTerminal(Press(50, 11) + Release(20, 30));
    EXPECT_FALSE(releasedElsewhere.endedByInput);
    TerminalRun closeBox = RunInTerminal(Press(58, 0) + Release(58, 0));
    EXPECT_EQ(closeBox.exitCode, IDCANCEL);
    EXPECT_TRUE(closeBox.endedByInput);
    TerminalRun closeBoxLeft = RunInTerminal(Press(58, 0) + Release(40, 0));
    EXPECT_FALSE(closeBoxLeft.endedByInput);
}

// A list whose text is wider than itself has a scroll bar on its bottom border:
// a click right of its mark scrolls a page to the right, and the end of the
// text comes into view. List 1002 takes cells 2..26 and rows 14..21.
TEST(TerminalFrontEnd, AClickOnTheBottomBorderScrollsTheListSideways) {
    auto fill = [](HWND dialog) {
        HWND list = GetDlgItem(dialog, 1002);
        LVCOLUMNA column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.cx = 60;
        column.pszText = const_cast<char*>("Name");
        SendMessageA(list, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
        column.pszText = const_cast<char*>("Value");
        SendMessageA(list, LVM_INSERTCOLUMNA, 1, reinterpret_cast<LPARAM>(&column));
        LVITEMA item = {};
        item.mask = LVIF_TEXT;
        item.pszText = const_cast<char*>("r0");
        SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
        item.iSubItem = 1;
        item.pszText = const_cast<char*>("0123456789ABCDEFGHIJ TAILMARK");
        SendMessageA(list, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    };
    TerminalRun unscrolled = RunInTerminal("\x1b", fill);
    EXPECT_NE(unscrolled.screen.find("0123456789ABC"), std::string::npos);
    EXPECT_EQ(unscrolled.screen.find("TAILMARK"), std::string::npos);
    TerminalRun scrolled = RunInTerminal(Click(20, 21) + "\x01\x1b", fill);
    EXPECT_EQ(scrolled.exitCode, IDCANCEL);
    EXPECT_NE(scrolled.screen.find("TAILMARK"), std::string::npos);
}

}  // namespace qvtest
