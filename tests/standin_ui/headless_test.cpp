// The headless front end: script parsing, the report's records, and the
// launcher's handling of its options.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "test_support.h"
#include "ui/headless_front_end.h"
#include "ui/launcher_file.h"
#include "ui/launcher_text.h"
#include "ui/launcher_options.h"
#include "ui/report.h"
#include "ui/script.h"

namespace qvtest {

using namespace standin::ui;

namespace {

std::string ParseError(const std::string& text) {
    std::vector<ScriptAction> actions;
    std::string error;
    EXPECT_FALSE(ParseScript(text, "s.txt", &actions, &error)) << text;
    return error;
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

std::string TempPath(const char* name) {
    return "/tmp/standin_ui_test_" + std::to_string(getpid()) + "_" + name;
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path);
    out << text;
}

// The controls of the test dialog (standin_test.rc) in the program's places.
const int kSlotEdits[] = {1004, 1018, 1019, 1020, 1021};
const DialogControls kControls = {1000, 1002, kSlotEdits, 5};

}  // namespace

TEST(Script, ParsesEveryActionAndSkipsCommentsAndBlankLines) {
    std::vector<ScriptAction> a;
    std::string error;
    ASSERT_TRUE(
        ParseScript("# start\n\nclick 1013\nselect 4   # the fifth row\nkey shift-tab\nkey enter\n"
                    "close\nminimize\nrestore\ndump\nhw reset 1c:03.0\n"
                    "hw write 00:1f.2 4 2 0407\nhw remove 1c:03.0\nhw restore 1c:03.0\r\n",
                    "s.txt", &a, &error))
        << error;
    ASSERT_EQ(a.size(), 12u);
    EXPECT_EQ(a[0].kind, ScriptAction::Click);
    EXPECT_EQ(a[0].id, 1013);
    EXPECT_EQ(a[0].line, 3);
    EXPECT_EQ(a[1].kind, ScriptAction::Select);
    EXPECT_EQ(a[1].row, 4);
    EXPECT_EQ(a[1].text, "select 4");
    EXPECT_EQ(a[2].virtualKey, VK_TAB);
    EXPECT_TRUE(a[2].shift);
    EXPECT_EQ(a[3].virtualKey, VK_RETURN);
    EXPECT_EQ(a[7].kind, ScriptAction::Dump);
    EXPECT_EQ(a[8].kind, ScriptAction::HwReset);
    EXPECT_EQ(a[8].address.bus, 0x1Cu);
    EXPECT_EQ(a[8].address.device, 3u);
    EXPECT_EQ(a[9].kind, ScriptAction::HwWrite);
    EXPECT_EQ(a[9].address.device, 0x1Fu);
    EXPECT_EQ(a[9].address.function, 2u);
    EXPECT_EQ(a[9].offset, 4u);
    EXPECT_EQ(a[9].size, 2u);
    EXPECT_EQ(a[9].value, 0x407u);
    EXPECT_EQ(a[11].kind, ScriptAction::HwRestore);
}

TEST(Script, BadLinesNameTheFileTheLineAndTheFault) {
    EXPECT_EQ(ParseError("dump\npress 1\n"), "s.txt:2: unknown action \"press\"");
    EXPECT_EQ(ParseError("click\n"), "s.txt:1: click takes one control id");
    EXPECT_EQ(ParseError("click one\n"), "s.txt:1: bad control id \"one\"");
    EXPECT_EQ(ParseError("select -1\n"), "s.txt:1: bad row number \"-1\"");
    EXPECT_EQ(ParseError("\n\nkey f1\n").substr(0, 23), "s.txt:3: unknown key \"f");
    EXPECT_EQ(ParseError("close now\n"), "s.txt:1: close takes no arguments");
    EXPECT_EQ(ParseError("hw reset 1c:3\n"), "s.txt:1: bad function address \"1c:3\" (B:D.F in hexadecimal)");
    EXPECT_EQ(ParseError("hw write 00:00.0 4 3 1\n"), "s.txt:1: bad size \"3\" (1, 2 or 4)");
    EXPECT_EQ(ParseError("hw write 00:00.0 ffe 4 1\n"),
              "s.txt:1: the write runs past the end of configuration space");
    EXPECT_EQ(ParseError("hw write 00:00.0 4 1 100\n"), "s.txt:1: bad value \"100\" for a 1-byte write");
    EXPECT_EQ(ParseError("hw write 00:00.0 1000 1 0\n"), "s.txt:1: bad offset \"1000\" (0 to FFF)");
    EXPECT_EQ(ParseError("hw zap 00:00.0\n"),
              "s.txt:1: unknown hw action \"zap\" (reset, write, remove, restore)");
    EXPECT_EQ(ParseError("hw remove 00:00.0 extra\n"), "s.txt:1: hw remove takes one function address");
}

TEST(Report, FieldsAreTabSeparatedAndControlCharactersEscaped) {
    EXPECT_EQ(ReportField("a\tb\nc\\d"), "a\\tb\\nc\\\\d");
    std::string path = TempPath("fields");
    FILE* out = fopen(path.c_str(), "w");
    ASSERT_NE(out, nullptr);
    {
        Report report(out);
        report.MessageBoxShown("Error", "Failed to install/load quorvenal.sys!");
        report.DialogEnded(-1);
        report.ProcessExit();
    }
    fclose(out);
    EXPECT_EQ(ReadLines(path),
              std::vector<std::string>(
                  {"msgbox\tError\tFailed to install/load quorvenal.sys!", "end\t-1", "exit"}));
    unlink(path.c_str());
}

TEST(HeadlessFrontEnd, ActionsRunOnTheDialogAndDumpReportsWhatItShows) {
    std::string path = TempPath("dump");
    FILE* out = fopen(path.c_str(), "w");
    ASSERT_NE(out, nullptr);
    Report report(out);
    std::vector<ScriptAction> actions;
    std::string error;
    ASSERT_TRUE(ParseScript("key tab\nselect 1\nclick 1001\nclick 4242\ndump\n", "t.txt", &actions, &error));
    HeadlessFrontEnd fe(actions, &report, "t.txt", kControls);
    {
        FrontEndScope scope(&fe);
        DialogScript script;
        script.onInit = [](HWND d) {
            HWND devices = GetDlgItem(d, 1000);
            LVCOLUMNA column = {};
            column.mask = LVCF_TEXT | LVCF_WIDTH;
            column.cx = 40;
            column.pszText = const_cast<char*>("Type");
            SendMessageA(devices, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
            column.pszText = const_cast<char*>("Bus#");
            SendMessageA(devices, LVM_INSERTCOLUMNA, 1, reinterpret_cast<LPARAM>(&column));
            for (int row = 0; row < 2; ++row) {
                LVITEMA item = {};
                item.mask = LVIF_TEXT | LVIF_PARAM;
                item.iItem = row;
                item.pszText = const_cast<char*>(row ? "Bridge device" : "Host\tbridge");
                item.lParam = row ? 0x001C0300 : 0;
                SendMessageA(devices, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
            }
            HWND registers = GetDlgItem(d, 1002);
            SendMessageA(registers, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
            SendMessageA(registers, LVM_INSERTCOLUMNA, 1, reinterpret_cast<LPARAM>(&column));
            LVITEMA item = {};
            item.mask = LVIF_TEXT;
            item.pszText = const_cast<char*>("Vendor ID");
            SendMessageA(registers, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
            item.iSubItem = 1;
            item.pszText = const_cast<char*>("8086");
            SendMessageA(registers, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
            SetDlgItemTextA(d, 1019, "12:1F:7");
        };
        EXPECT_EQ(RunDialog(kMainDialog, &script), IDCANCEL);
        EXPECT_EQ(CommandIds(script.events), std::vector<int>({1001, IDCANCEL}));
    }
    fclose(out);
    EXPECT_EQ(fe.FailedActions(), 1);  // no control 4242
    EXPECT_EQ(ReadLines(path), std::vector<std::string>({
                                   "device\t0\t00000000\tHost\\tbridge\t",
                                   "device\t1\t001C0300\tBridge device\t",
                                   "selection\t1\t1\t1",
                                   "register\t0\tVendor ID\t8086",
                                   "slot\t0\t",
                                   "slot\t1\t",
                                   "slot\t2\t12:1F:7",
                                   "slot\t3\t",
                                   "slot\t4\t",
                                   "focus\t1001",
                                   "end\t2",
                               }));
    unlink(path.c_str());
}

TEST(HeadlessFrontEnd, SelectAndDumpUseTheControlsTheyAreGiven) {
    // The lists exchanged and two slots, the second before the first.
    const int slots[] = {1019, 1004};
    const DialogControls controls = {1002, 1000, slots, 2};
    std::string path = TempPath("given");
    FILE* out = fopen(path.c_str(), "w");
    ASSERT_NE(out, nullptr);
    Report report(out);
    std::vector<ScriptAction> actions;
    std::string error;
    ASSERT_TRUE(ParseScript("select 0\ndump\n", "t.txt", &actions, &error));
    HeadlessFrontEnd fe(actions, &report, "t.txt", controls);
    {
        FrontEndScope scope(&fe);
        DialogScript script;
        script.onInit = [](HWND d) {
            HWND list = GetDlgItem(d, 1002);
            LVCOLUMNA column = {};
            column.mask = LVCF_TEXT | LVCF_WIDTH;
            column.cx = 40;
            column.pszText = const_cast<char*>("Type");
            SendMessageA(list, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
            LVITEMA item = {};
            item.mask = LVIF_TEXT | LVIF_PARAM;
            item.pszText = const_cast<char*>("only row");
            item.lParam = 0x42;
            SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
            SetDlgItemTextA(d, 1004, "B");
            SetDlgItemTextA(d, 1018, "not a slot");
            SetDlgItemTextA(d, 1019, "A");
        };
        EXPECT_EQ(RunDialog(kMainDialog, &script), IDCANCEL);
    }
    fclose(out);
    EXPECT_EQ(fe.FailedActions(), 0);
    EXPECT_EQ(ReadLines(path), std::vector<std::string>({
                                   "device\t0\t00000042\tonly row",
                                   "selection\t0\t0\t0",
                                   "slot\t0\tA",
                                   "slot\t1\tB",
                                   "focus\t1002",
                                   "end\t2",
                               }));
    unlink(path.c_str());
}

namespace {

int g_entryRuns = 0;

INT_PTR CALLBACK CloseOnCancel(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    }
    return FALSE;
}

int TestEntry() {
    ++g_entryRuns;
    RegisterTestResources();
    MessageBoxA(nullptr, "hello", nullptr, MB_OK);
    return static_cast<int>(
        DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kMainDialog), nullptr, CloseOnCancel, 0));
}

int Launch(std::vector<std::string> args) {
    args.insert(args.begin(), "quorvenal");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    return RunStandInProgram(static_cast<int>(args.size()), argv.data(), kControls, TestEntry);
}

}  // namespace

TEST(Launcher, OptionErrorsAreRefusedBeforeAnythingRuns) {
    LauncherOptions options;
    std::string error;
    const char* unknown[] = {"q", "--verbose", nullptr};
    EXPECT_FALSE(ParseLauncherOptions(2, const_cast<char**>(unknown), &options, &error));
    EXPECT_EQ(error, "unknown option \"--verbose\"");
    const char* missing[] = {"q", "--script", nullptr};
    EXPECT_FALSE(ParseLauncherOptions(2, const_cast<char**>(missing), &options, &error));
    EXPECT_EQ(error, "option --script needs a value");
    const char* twice[] = {"q", "--machine", "a", "--machine", "b", nullptr};
    EXPECT_FALSE(ParseLauncherOptions(5, const_cast<char**>(twice), &options, &error));
    EXPECT_EQ(error, "option --machine given twice");
    const char* good[] = {
        "q",        "--machine", "sysfs", "--no-service-rights", "--stale-service", "--script", "s",
        "--report", "r",         nullptr};
    ASSERT_TRUE(ParseLauncherOptions(9, const_cast<char**>(good), &options, &error));
    EXPECT_EQ(options.machine, "sysfs");
    EXPECT_TRUE(options.noServiceRights);
    EXPECT_TRUE(options.staleService);
    EXPECT_EQ(options.script, "s");
    EXPECT_EQ(options.report, "r");

    g_entryRuns = 0;
    std::string machine = TempPath("bad.lspci");
    WriteFile(machine, "00:00.0 Host bridge\n00: zz\n");
    std::string script = TempPath("script.txt");
    WriteFile(script, "dump\n");
    EXPECT_EQ(Launch({"--bogus"}), 2);
    EXPECT_EQ(Launch({"--machine", machine, "--script", script}), 2);
    EXPECT_EQ(Launch({"--machine", TempPath("absent.lspci"), "--script", script}), 2);
    EXPECT_EQ(Launch({"--script", TempPath("absent.txt")}), 2);
    WriteFile(script, "dump\nfly away\n");
    EXPECT_EQ(Launch({"--script", script}), 2);
    EXPECT_EQ(Launch({"--script", script, "--report", "/nonexistent-dir/r.txt"}), 2);
    EXPECT_EQ(g_entryRuns, 0);
    unlink(machine.c_str());
    unlink(script.c_str());
}

TEST(Launcher, AHeadlessRunReportsMessageBoxesTheEndAndTheExit) {
    std::string script = TempPath("run.txt");
    std::string report = TempPath("run-report.txt");
    WriteFile(script, "key escape\n");
    g_entryRuns = 0;
    EXPECT_EQ(Launch({"--script", script, "--report", report}), IDCANCEL);
    EXPECT_EQ(g_entryRuns, 1);
    EXPECT_EQ(ReadLines(report), std::vector<std::string>({"msgbox\tError\thello", "end\t2", "exit"}));
    unlink(script.c_str());
    unlink(report.c_str());
}

namespace {

// Runs the launcher with its standard error going to a file, and returns what
// it wrote there.
int LaunchCapturing(std::vector<std::string> args, std::string* errors) {
    std::string path = TempPath("stderr.txt");
    fflush(stderr);
    int saved = dup(STDERR_FILENO);
    FILE* capture = fopen(path.c_str(), "w");
    dup2(fileno(capture), STDERR_FILENO);
    int status = Launch(std::move(args));
    fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    fclose(capture);
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    *errors = text.str();
    unlink(path.c_str());
    return status;
}

const char kHostBridge[] =
    "00: 86 80 00 2a 06 00 90 20 03 00 00 06 00 00 00 00\n"
    "10: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
    "20: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
    "30: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n";

}  // namespace

// A directory, a device or a file past the limit is refused by name before the
// program runs (a directory used to load as a machine of no function, a device
// such as /dev/zero used to be read without end).
TEST(Launcher, InputsThatAreNotFilesOrTooLargeAreRefusedByName) {
    std::string folder = TempPath("folder");
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    std::string large = TempPath("large.txt");
    WriteFile(large, "dump\n");
    ASSERT_EQ(truncate(large.c_str(), static_cast<off_t>(kScriptFileLimit) + 1), 0);
    std::string largeMachine = TempPath("large.lspci");
    WriteFile(largeMachine, "");
    ASSERT_EQ(truncate(largeMachine.c_str(), static_cast<off_t>(kMachineFileLimit) + 1), 0);
    std::string script = TempPath("ok.txt");
    WriteFile(script, "dump\n");
    struct Case {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"--machine", folder, "--script", script},
         "the machine file " + folder + " is a directory, not a file"},
        {{"--script", folder}, "the script " + folder + " is a directory, not a file"},
        {{"--machine", "/dev/zero", "--script", script},
         "the machine file /dev/zero is a device, not a file"},
        {{"--script", "/dev/zero"}, "the script /dev/zero is a device, not a file"},
        {{"--script", large}, "the script " + large + " is larger than the limit of 1 MiB"},
        {{"--machine", largeMachine, "--script", script},
         "the machine file " + largeMachine + " is larger than the limit of 16 MiB"},
        {{"--script", TempPath("absent.txt")},
         "cannot read the script " + TempPath("absent.txt") + ": No such file or directory"},
    };
    g_entryRuns = 0;
    for (const Case& c : cases) {
        std::string errors;
        EXPECT_EQ(LaunchCapturing(c.args, &errors), 2) << c.message;
        EXPECT_EQ(errors, "quorvenal: " + c.message + "\n");
    }
    EXPECT_EQ(g_entryRuns, 0);
    rmdir(folder.c_str());
    unlink(large.c_str());
    unlink(largeMachine.c_str());
    unlink(script.c_str());
}

TEST(Launcher, WhatItPrintsHasControlCharactersEscapedAndLongTokensCut) {
    EXPECT_EQ(Printable("a\tb\x01 c\\d\x7f\n"), "a\\tb\\x01 c\\\\d\\x7F\\n");
    const std::string longToken(kLongestShownToken + 1, 'x');
    EXPECT_EQ(Printable("at " + longToken + " end"),
              "at " + longToken.substr(0, kLongestShownToken) + "... end");
    EXPECT_EQ(Printable(std::string(kLongestShownToken, 'y')), std::string(kLongestShownToken, 'y'));
    // An escape that would become four characters is not split past the limit.
    EXPECT_EQ(Printable(std::string(kLongestShownToken - 2, 'z') + "\x1b"),
              std::string(kLongestShownToken - 2, 'z') + "...");

    std::string errors;
    EXPECT_EQ(LaunchCapturing({"--\x1b[2J\x1b]0;title\x07"}, &errors), 2);
    EXPECT_EQ(errors.find('\x1b'), std::string::npos) << errors;
    EXPECT_NE(errors.find("unknown option \"--\\x1B[2J\\x1B]0;title\\x07\""), std::string::npos) << errors;

    EXPECT_EQ(LaunchCapturing({"--" + std::string(1 << 20, 'w')}, &errors), 2);
    EXPECT_LT(errors.size(), 2000u);
    EXPECT_NE(errors.find("..."), std::string::npos);

    std::string script = TempPath("escapes.txt");
    WriteFile(script, "dump\nclick \x1b[31m" + std::string(5000, '7') + "\n");
    EXPECT_EQ(LaunchCapturing({"--script", script}, &errors), 2);
    EXPECT_EQ(errors.find('\x1b'), std::string::npos) << errors;
    EXPECT_NE(errors.find(":2: bad control id \"\\x1B[31m"), std::string::npos) << errors;
    EXPECT_LT(errors.size(), 400u);
    unlink(script.c_str());
}

// A report that cannot be written whole (a full disk) is an error: exit 2 and a
// line that names the report, though the program itself ran.
TEST(Launcher, AReportThatCannotBeWrittenWholeEndsWithStatusTwo) {
    std::string script = TempPath("full.txt");
    WriteFile(script, "dump\nkey escape\n");
    g_entryRuns = 0;
    std::string errors;
    EXPECT_EQ(LaunchCapturing({"--script", script, "--report", "/dev/full"}, &errors), 2);
    EXPECT_EQ(g_entryRuns, 1);
    EXPECT_NE(
        errors.find("quorvenal: the report /dev/full could not be written whole: No space left on device"),
        std::string::npos)
        << errors;
    // The same run with a report that can be written ends as the dialog did.
    std::string report = TempPath("full-report.txt");
    EXPECT_EQ(LaunchCapturing({"--script", script, "--report", report}, &errors), IDCANCEL);
    EXPECT_EQ(errors, "");
    unlink(report.c_str());
    unlink(script.c_str());
}

TEST(Launcher, FunctionsOfOtherPciDomainsAreCountedWhenTheMachineLoads) {
    std::string machine = TempPath("domains.lspci");
    WriteFile(machine, std::string("00:00.0 Host\n") + kHostBridge + "\n0001:00:00.0 Host\n" + kHostBridge +
                           "\n0001:00:01.0 Host\n" + kHostBridge + "\n0002:03:00.0 Host\n" + kHostBridge);
    std::string script = TempPath("domains.txt");
    WriteFile(script, "key escape\n");
    std::string errors;
    std::string report = TempPath("domains-report.txt");
    EXPECT_EQ(LaunchCapturing({"--machine", machine, "--script", script, "--report", report}, &errors),
              IDCANCEL);
    EXPECT_EQ(errors, "quorvenal: " + machine +
                          ": 3 function(s) of PCI domains other than 0000 left out, 1 listed\n");
    // A machine of domain 0000 alone loads without a word.
    WriteFile(machine, std::string("00:00.0 Host\n") + kHostBridge);
    EXPECT_EQ(LaunchCapturing({"--machine", machine, "--script", script, "--report", report}, &errors),
              IDCANCEL);
    EXPECT_EQ(errors, "");
    unlink(machine.c_str());
    unlink(script.c_str());
    unlink(report.c_str());
}

}  // namespace qvtest
