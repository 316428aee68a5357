// The built program in a terminal as a person sees it: run inside tmux, whose
// screen is read back cell by cell, at 130 x 50 and at 80 x 24.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace qvtest {
namespace {

std::string Run(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    pclose(pipe);
    return out;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

// The program on the machine of the screens, in a tmux session of its own.
class Screen {
public:
    Screen(int columns, int rows) {
        socket_ = "quorvenal-screen-" + std::to_string(getpid()) + "-" + std::to_string(++count_);
        const std::string command =
            "cd " QUORVENAL_BUILD_DIR " && ./quorvenal --machine " QUORVENAL_SOURCE_DIR
            "/tests/fixtures/fujitsu-p8010.lspci; sleep 30";
        started_ = std::system((Tmux() + " new-session -d -s s -x " + std::to_string(columns) + " -y " +
                                std::to_string(rows) + " '" + command + "'")
                                   .c_str()) == 0;
    }
    ~Screen() { std::system((Tmux() + " kill-server 2>/dev/null").c_str()); }

    bool Started() const { return started_; }
    std::string Text() { return Run(Tmux() + " capture-pane -p -t s"); }
    std::vector<std::string> Rows() { return Lines(Text()); }
    // Waits up to ten seconds for `text` on the screen.
    bool WaitFor(const std::string& text) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            if (Text().find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }
    // Keys by tmux's names (Tab, Down, NPage, End, Right, ...), one at a time.
    void Keys(const std::vector<std::string>& keys) {
        for (const std::string& key : keys) {
            std::system((Tmux() + " send-keys -t s " + key).c_str());
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    // The row of the screen that holds `text`, or an empty string.
    std::string RowWith(const std::string& text) {
        for (const std::string& row : Rows()) {
            if (row.find(text) != std::string::npos) return row;
        }
        return "";
    }

private:
    std::string Tmux() const { return "tmux -L " + socket_; }
    static int count_;
    std::string socket_;
    bool started_ = false;
};

int Screen::count_ = 0;

bool HaveTmux() { return std::system("tmux -V > /dev/null 2>&1") == 0; }

// Tab to the device list, down to row `row`, then Tab twice to the register list.
void ShowRowInRegisterList(Screen* screen, int row) {
    std::vector<std::string> keys = {"Tab"};
    for (int i = 0; i < row; ++i) keys.push_back("Down");
    keys.push_back("Tab");
    keys.push_back("Tab");
    screen->Keys(keys);
}

}  // namespace

// Button captions and group titles show whole; the help line names what
// Escape presses.
TEST(TerminalScreen, CaptionsGroupTitlesAndTheHelpLineShowWhole) {
    if (!HaveTmux()) GTEST_SKIP() << "tmux is not installed (tools/install-deps.sh test installs it)";
    Screen screen(130, 50);
    ASSERT_TRUE(screen.Started());
    ASSERT_TRUE(screen.WaitFor("F4 close")) << screen.Text();
    // "Uninstall driver" is wider than its button: two lines in its rows.
    std::string first = screen.RowWith("[Uninstall]");
    std::string second = screen.RowWith("[ driver  ]");
    ASSERT_FALSE(first.empty()) << screen.Text();
    ASSERT_FALSE(second.empty()) << screen.Text();
    EXPECT_EQ(first.find("[Uninstall]"), second.find("[ driver  ]"));
    const std::string titles = screen.RowWith("Save config");
    EXPECT_NE(titles.find("Saved device"), std::string::npos) << titles;
    EXPECT_NE(titles.find("Reload config"), std::string::npos) << titles;
    const std::string help = screen.RowWith("F4 close");
    EXPECT_NE(help.find("Esc Uninstall driver"), std::string::npos) << help;
    EXPECT_NE(help.find("Left/Right scroll"), std::string::npos) << help;
    EXPECT_NE(help.find("PgUp/PgDn"), std::string::npos) << help;
    EXPECT_EQ(help.find("Esc cancel"), std::string::npos) << help;
}

// The CardBus bridge 1c:03.0 (row 18): its device-specific rows hold four
// doublewords, wider than the register list; scrolled to its end, the list
// shows the fourth, and its bottom border shows where the view is.
TEST(TerminalScreen, TheRegisterListScrollsSidewaysToItsLastColumn) {
    if (!HaveTmux()) GTEST_SKIP() << "tmux is not installed (tools/install-deps.sh test installs it)";
    Screen screen(130, 50);
    ASSERT_TRUE(screen.Started());
    ASSERT_TRUE(screen.WaitFor("F4 close")) << screen.Text();
    ShowRowInRegisterList(&screen, 18);
    screen.Keys({"End"});
    ASSERT_TRUE(screen.WaitFor("Device Specific [A0]")) << screen.Text();
    std::string row = screen.RowWith("Device Specific [A0]");
    EXPECT_NE(row.find("010002FE 0040C000 00000000"), std::string::npos) << row;
    EXPECT_EQ(row.find("1F000000"), std::string::npos) << "the fourth doubleword is past the edge:\n" << row;
    // The scroll bar on the list's bottom border, with the view at its left end.
    const std::vector<std::string> before = screen.Rows();
    std::string bar;
    for (size_t i = 0; i + 1 < before.size(); ++i) {
        if (before[i].find("Device Specific [F0]") != std::string::npos) bar = before[i + 1];
    }
    ASSERT_NE(bar.find('<'), std::string::npos) << bar;
    ASSERT_NE(bar.find('>'), std::string::npos) << bar;

    screen.Keys({"Right", "Right", "Right", "Right"});
    row = screen.RowWith("pecific [A0]");
    EXPECT_NE(row.find("0040C000 00000000 1F000000"), std::string::npos) << screen.Text();
    // Left scrolls back.
    screen.Keys({"Left", "Left", "Left", "Left"});
    row = screen.RowWith("Device Specific [A0]");
    EXPECT_NE(row.find("010002FE"), std::string::npos) << screen.Text();
}

// Page Down goes first to the last row of the page without scrolling, then a
// page further; Page Up comes back the same way. (The host bridge, row 0.)
TEST(TerminalScreen, PageDownAndUpMoveByAPage) {
    if (!HaveTmux()) GTEST_SKIP() << "tmux is not installed (tools/install-deps.sh test installs it)";
    Screen screen(130, 50);
    ASSERT_TRUE(screen.Started());
    ASSERT_TRUE(screen.WaitFor("F4 close")) << screen.Text();
    ShowRowInRegisterList(&screen, 0);
    auto firstRegisterRow = [&]() {
        std::vector<std::string> rows = screen.Rows();
        for (size_t i = 0; i + 1 < rows.size(); ++i) {
            if (rows[i].find("Register") != std::string::npos && rows[i].find("Value") != std::string::npos)
                return rows[i + 1].substr(0, 30);
        }
        return std::string();
    };
    const std::string top = firstRegisterRow();
    ASSERT_NE(top.find("Vendor ID"), std::string::npos) << screen.Text();
    screen.Keys({"NPage"});
    EXPECT_EQ(firstRegisterRow(), top) << "the first Page Down stays on the page:\n" << screen.Text();
    screen.Keys({"NPage"});
    // The page shows 19 rows: the row at the bottom (18) is now at the top.
    const std::string scrolled = firstRegisterRow();
    EXPECT_NE(scrolled.find("Subsystem ID"), std::string::npos) << screen.Text();
    screen.Keys({"PPage"});
    EXPECT_EQ(firstRegisterRow(), scrolled) << "the first Page Up stays on the page:\n" << screen.Text();
    screen.Keys({"PPage"});
    EXPECT_EQ(firstRegisterRow(), top) << screen.Text();
}

// A terminal smaller than the window shows the window's top left part cut at
// the edges, row for row as a large terminal shows it, and the note on its
// last line.
TEST(TerminalScreen, ASmallTerminalClipsTheWindowInsteadOfWrappingIt) {
    if (!HaveTmux()) GTEST_SKIP() << "tmux is not installed (tools/install-deps.sh test installs it)";
    Screen large(130, 50);
    Screen small(80, 24);
    ASSERT_TRUE(large.Started());
    ASSERT_TRUE(small.Started());
    ASSERT_TRUE(large.WaitFor("F4 close")) << large.Text();
    ASSERT_TRUE(small.WaitFor("enlarge the terminal")) << small.Text();
    const std::vector<std::string> big = large.Rows();
    const std::vector<std::string> cut = small.Rows();
    ASSERT_GE(big.size(), 23u);
    ASSERT_EQ(cut.size(), 24u) << small.Text();
    for (size_t row = 0; row < 23; ++row) {
        std::string expected = big[row].substr(0, 80);
        expected.erase(expected.find_last_not_of(' ') + 1);
        EXPECT_EQ(cut[row], expected) << "row " << row;
    }
    EXPECT_NE(cut[23].find("the window needs 109 x 43 cells: enlarge the terminal"), std::string::npos)
        << cut[23];
}

}  // namespace qvtest
