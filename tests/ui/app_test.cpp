// The program's start-up, main dialog and shutdown, run in this process on
// the stand-in through the process entry, with a scripted user: the service
// before and after, the diagnostics on standard output, the message boxes,
// the dialog's end code, focus and tab order, the lists' columns and the
// minimised icon.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <windows.h>
#include <winsvc.h>

#include "device_channel.h"
#include "machine/machine.h"
#include "main_dialog.h"
#include "ui/front_end.h"
#include "ui/gdi.h"
#include "ui/resources.h"
#include "ui/user_input.h"
#include "ui/window_manager.h"
#include "win32/process_options.h"

namespace qvtest {

namespace {

const char kNoService[] = "OpenService failed!  Error = 1060 \n";
const char kNoManager[] = "Open SC Manager failed! Error = 5 \n";

struct SeenBox {
    HWND owner;
    std::string caption;
    std::string text;
    UINT type;
};

typedef std::function<void(HWND dialog)> Action;

// A user who performs the given actions one at a time, then stops (the
// dialog is then closed by its close box), and answers every message box.
class ScriptedUser : public standin::ui::FrontEnd {
public:
    std::vector<Action> actions;
    std::vector<SeenBox> boxes;
    std::vector<INT_PTR> ends;

    bool NextInput(HWND dialog) override {
        if (next_ >= actions.size()) return false;
        actions[next_++](dialog);
        return true;
    }
    int ShowMessageBox(HWND owner, const std::string& caption, const std::string& text, UINT type) override {
        boxes.push_back(SeenBox{owner, caption, text, type});
        return IDOK;
    }
    void DialogEnded(HWND, INT_PTR result) override { ends.push_back(result); }

private:
    size_t next_ = 0;
};

std::vector<unsigned char> ProgramResources() {
    std::ifstream in(QUORVENAL_RES_FILE, std::ios::binary);
    return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The state of service "QUORVENAL", 0 when there is none.
DWORD ServiceState() {
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (manager == NULL) return 0xFFFFFFFF;
    SC_HANDLE service = OpenServiceA(manager, "QUORVENAL", SERVICE_ALL_ACCESS);
    DWORD state = 0;
    if (service != NULL) {
        SERVICE_STATUS status = {};
        if (QueryServiceStatus(service, &status)) state = status.dwCurrentState;
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return state;
}

int FocusId() { return GetDlgCtrlID(GetFocus()); }

class ProgramLife : public ::testing::Test {
protected:
    void SetUp() override {
        char folder[] = "/tmp/quorvenal-app-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        folder_ = folder;
        ASSERT_EQ(getcwd(previous_, sizeof previous_), previous_);
        ASSERT_EQ(chdir(folder), 0);
        char here[4096];
        ASSERT_EQ(getcwd(here, sizeof here), here);
        here_ = here;
        standin::SetCurrentMachine(standin::DefaultMachine());
        standin::SetAdministrator(true);
        standin::ui::SetFrontEnd(&user_);
    }

    void TearDown() override {
        standin::ui::SetFrontEnd(nullptr);
        standin::ResetServiceDatabase();
        DeviceHandle = 0;
        standin::ui::ResetWindowManager();
        standin::ui::ClearResources();
        standin::SetAdministrator(true);
        unlink((folder_ + "/QUORVENAL.sys").c_str());
        EXPECT_EQ(chdir(previous_), 0);
        rmdir(folder_.c_str());
    }

    void WithDriverFile() {
        std::string driver = std::string(QUORVENAL_BUILD_DIR) + "/QUORVENAL.sys";
        ASSERT_EQ(symlink(driver.c_str(), (folder_ + "/QUORVENAL.sys").c_str()), 0);
    }
    void WithResources() {
        static const std::vector<unsigned char> bytes = ProgramResources();
        ASSERT_FALSE(bytes.empty());
        standin::RegisterResourceFile(bytes.data(), bytes.size());
    }

    // Runs the program's process entry; returns what it printed.
    std::string RunProgram() {
        fflush(stdout);
        ::testing::internal::CaptureStdout();
        exitCode_ = WinMain(GetModuleHandleA(NULL), NULL, const_cast<LPSTR>(""), SW_SHOWNORMAL);
        fflush(stdout);
        return ::testing::internal::GetCapturedStdout();
    }

    // After the process would have ended: its device handle is released.
    DWORD ServiceStateAfterExit() {
        if (DeviceHandle != 0 && DeviceHandle != INVALID_HANDLE_VALUE) CloseHandle(DeviceHandle);
        DeviceHandle = 0;
        standin::SetAdministrator(true);
        return ServiceState();
    }

    std::string folder_;
    std::string here_;
    char previous_[4096] = {};
    ScriptedUser user_;
    int exitCode_ = -100;
};

struct DialogEnd {
    const char* name;
    Action action;
    INT_PTR endCode;
};

void PrintTo(const DialogEnd& end, std::ostream* os) { *os << end.name; }

class EveryEnd : public ProgramLife, public ::testing::WithParamInterface<DialogEnd> {};

const DialogEnd kEnds[] = {
    {"Exit", [](HWND d) { standin::ui::ClickControl(GetDlgItem(d, IDOK)); }, IDOK},
    {"UninstallDriver", [](HWND d) { standin::ui::ClickControl(GetDlgItem(d, IDCANCEL)); }, IDCANCEL},
    {"Enter", [](HWND d) { standin::ui::PressKey(d, VK_RETURN, false); }, IDOK},
    {"Escape", [](HWND d) { standin::ui::PressKey(d, VK_ESCAPE, false); }, IDCANCEL},
    {"CloseBox", [](HWND d) { standin::ui::PressCloseBox(d); }, IDCANCEL},
};

}  // namespace

TEST_P(EveryEnd, RemovesTheServiceAndEndsQuietly) {
    WithDriverFile();
    WithResources();
    user_.actions.push_back(GetParam().action);
    int commonControlsBefore = standin::ui::CommonControlsInitialised();
    std::string out = RunProgram();

    EXPECT_EQ(standin::ui::CommonControlsInitialised(), commonControlsBefore + 1);
    ASSERT_EQ(user_.ends.size(), 1u);
    EXPECT_EQ(user_.ends[0], GetParam().endCode);
    EXPECT_TRUE(user_.boxes.empty());
    // Only the start-up removal of a service that is not there says anything.
    EXPECT_EQ(out, std::string(kNoService) + kNoService);
    EXPECT_EQ(exitCode_, 0);
    EXPECT_EQ(ServiceStateAfterExit(), 0u) << "the service is gone";
}

INSTANTIATE_TEST_SUITE_P(Program, EveryEnd, ::testing::ValuesIn(kEnds),
                         [](const ::testing::TestParamInfo<DialogEnd>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(ProgramLife, UserWhoDoesNothingClosesLikeTheCloseBox) {
    WithDriverFile();
    WithResources();
    std::string out = RunProgram();
    ASSERT_EQ(user_.ends.size(), 1u);
    EXPECT_EQ(user_.ends[0], IDCANCEL);
    EXPECT_EQ(ServiceStateAfterExit(), 0u);
}

TEST_F(ProgramLife, DialogThatCannotBeCreatedLeavesTheServiceRunning) {
    WithDriverFile();  // no resources: template 102 is missing
    std::string out = RunProgram();
    EXPECT_EQ(out, std::string(kNoService) + kNoService);
    EXPECT_TRUE(user_.boxes.empty());
    ASSERT_EQ(user_.ends.size(), 1u);
    EXPECT_EQ(user_.ends[0], -1);
    EXPECT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(ProgramLife, MissingDriverFileShowsOneMessageBoxAndNoDialog) {
    WithResources();  // no QUORVENAL.sys in the current folder
    std::string out = RunProgram();
    std::string directory = standin::WindowsPathOf(here_);
    EXPECT_EQ(out, std::string(kNoService) + kNoService + "Driver: QUORVENAL.SYS is not in the " + directory +
                       " directory. \n" + kNoService + kNoService);
    ASSERT_EQ(user_.boxes.size(), 1u);
    EXPECT_EQ(user_.boxes[0].owner, nullptr);
    EXPECT_EQ(user_.boxes[0].caption, "Error") << "the system's caption: the program gives none";
    EXPECT_EQ(user_.boxes[0].text, "Failed to install/load quorvenal.sys!");
    EXPECT_EQ(user_.boxes[0].type, static_cast<UINT>(MB_OK));
    EXPECT_TRUE(user_.ends.empty()) << "no dialog";
    EXPECT_EQ(exitCode_, 0);
    EXPECT_EQ(ServiceStateAfterExit(), 0u);
}

TEST_F(ProgramLife, WithoutServiceRightsTheInstallFailsAndNoDialogRuns) {
    WithDriverFile();
    WithResources();
    standin::SetAdministrator(false);
    std::string out = RunProgram();
    EXPECT_EQ(out,
              std::string(kNoManager) + kNoManager + "Unable to install driver.\n" + kNoManager + kNoManager);
    ASSERT_EQ(user_.boxes.size(), 1u);
    EXPECT_EQ(user_.boxes[0].text, "Failed to install/load quorvenal.sys!");
    EXPECT_TRUE(user_.ends.empty());
    EXPECT_EQ(ServiceStateAfterExit(), 0u);
}

TEST_F(ProgramLife, ServiceLeftByAnEarlierRunIsReplaced) {
    WithDriverFile();
    WithResources();
    ASSERT_EQ(standin::RegisterRunningService("QUORVENAL", standin::WindowsPathOf(here_ + "/QUORVENAL.sys")),
              static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
    DWORD stateWhileShown = 0;
    user_.actions.push_back([&stateWhileShown](HWND d) {
        stateWhileShown = ServiceState();
        standin::ui::ClickControl(GetDlgItem(d, IDOK));
    });
    std::string out = RunProgram();
    EXPECT_EQ(out, "") << "the old service stops and goes, the new one installs, all quietly";
    ASSERT_EQ(user_.ends.size(), 1u);
    EXPECT_EQ(user_.ends[0], IDOK);
    EXPECT_EQ(stateWhileShown, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(ServiceStateAfterExit(), 0u);
}

TEST_F(ProgramLife, FocusStartsOnExitAndTabFollowsTheTemplate) {
    WithDriverFile();
    WithResources();
    std::vector<int> forward, backward;
    user_.actions.push_back([&](HWND d) {
        forward.push_back(FocusId());
        for (int i = 0; i < 14; ++i) {
            standin::ui::PressKey(d, VK_TAB, false);
            forward.push_back(FocusId());
        }
        for (int i = 0; i < 2; ++i) {
            standin::ui::PressKey(d, VK_TAB, true);
            backward.push_back(FocusId());
        }
    });
    RunProgram();
    const std::vector<int> expected = {1,    1000, 1001, 1002, 1008, 1009, 1010, 1011,
                                       1012, 1013, 1014, 1015, 1016, 1017, 1};
    EXPECT_EQ(forward, expected);
    EXPECT_EQ(backward, (std::vector<int>{1017, 1016}));
}

TEST_F(ProgramLife, EnterOnAnotherButtonPressesThatButtonInstead) {
    WithDriverFile();
    WithResources();
    int focusAfter = 0;
    user_.actions.push_back([](HWND d) {
        standin::ui::PressKey(d, VK_TAB, false);
        standin::ui::PressKey(d, VK_TAB, false);  // "Rescan bus"
        standin::ui::PressKey(d, VK_RETURN, false);
    });
    user_.actions.push_back([&focusAfter](HWND d) {
        focusAfter = FocusId();
        standin::ui::ClickControl(GetDlgItem(d, IDOK));
    });
    RunProgram();
    EXPECT_EQ(focusAfter, 1001) << "the dialog was still running";
    ASSERT_EQ(user_.ends.size(), 1u);
    EXPECT_EQ(user_.ends[0], IDOK);
}

namespace {

struct Column {
    std::string title;
    int subItem;
};

std::vector<Column> Columns(HWND list) {
    std::vector<Column> columns;
    for (int i = 0;; ++i) {
        char text[64] = {};
        LVCOLUMN column = {};
        column.mask = LVCF_TEXT | LVCF_SUBITEM;
        column.pszText = text;
        column.cchTextMax = sizeof text;
        if (!SendMessageA(list, LVM_GETCOLUMN, i, reinterpret_cast<LPARAM>(&column))) break;
        columns.push_back(Column{text, column.iSubItem});
    }
    return columns;
}

std::string ItemText(HWND list, int row, int subItem) {
    char text[64] = {};
    LVITEM item = {};
    item.iSubItem = subItem;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(list, LVM_GETITEMTEXT, row, reinterpret_cast<LPARAM>(&item));
    return text;
}

}  // namespace

TEST_F(ProgramLife, DialogOpensWithItsColumnsIconAndEmptySlots) {
    WithDriverFile();
    WithResources();
    std::vector<Column> devices, registers;
    LRESULT deviceStyle = 0, registerStyle = 0, bigIcon = 0, smallIcon = 0, dragIcon = 0;
    std::vector<std::string> slotTexts;
    user_.actions.push_back([&](HWND d) {
        HWND deviceList = GetDlgItem(d, 1000), registerList = GetDlgItem(d, 1002);
        devices = Columns(deviceList);
        registers = Columns(registerList);
        deviceStyle = SendMessageA(deviceList, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
        registerStyle = SendMessageA(registerList, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
        bigIcon = SendMessageA(d, WM_GETICON, ICON_BIG, 0);
        smallIcon = SendMessageA(d, WM_GETICON, ICON_SMALL, 0);
        dragIcon = SendMessageA(d, WM_QUERYDRAGICON, 0, 0);
        for (int id : {1004, 1018, 1019, 1020, 1021}) {
            char text[32] = "unread";
            GetWindowTextA(GetDlgItem(d, id), text, sizeof text);
            slotTexts.push_back(text);
        }
        standin::ui::ClickControl(GetDlgItem(d, IDOK));
    });
    RunProgram();

    const char* deviceTitles[] = {"Type", "Bus#", "Dev#", "Func#", "Class", "VID", "DID", "Description"};
    ASSERT_EQ(devices.size(), 8u);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(devices[i].title, deviceTitles[i]) << "column " << i;
        EXPECT_EQ(devices[i].subItem, i) << "column " << i;
    }
    ASSERT_EQ(registers.size(), 2u);
    EXPECT_EQ(registers[0].title, "Register");
    EXPECT_EQ(registers[1].title, "Value");
    EXPECT_EQ(registers[0].subItem, 0) << "the names would not show";
    EXPECT_EQ(registers[1].subItem, 1);
    EXPECT_EQ(deviceStyle & LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    EXPECT_EQ(registerStyle & LVS_EX_FULLROWSELECT, 0);

    ASSERT_NE(bigIcon, 0);
    EXPECT_EQ(smallIcon, bigIcon);
    EXPECT_EQ(dragIcon, bigIcon);
    const standin::ui::IconInfo* icon = standin::ui::FindIcon(reinterpret_cast<HICON>(bigIcon));
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(icon->group, "#128");

    EXPECT_EQ(slotTexts, std::vector<std::string>(5, ""));
}

TEST_F(ProgramLife, MinimisedDialogShowsItsIconCentred) {
    WithDriverFile();
    WithResources();
    std::vector<standin::ui::DrawnIcon> minimised, restored;
    RECT client = {};
    HWND dialog = NULL;
    LRESULT icon = 0;
    user_.actions.push_back([&](HWND d) {
        dialog = d;
        icon = SendMessageA(d, WM_GETICON, ICON_BIG, 0);
        standin::ui::ClearDrawnIcons();
        standin::ui::PressMinimize(d);
    });
    user_.actions.push_back([&](HWND d) {
        GetClientRect(d, &client);
        minimised = standin::ui::DrawnIcons();
        standin::ui::ClearDrawnIcons();
        standin::ui::PressRestore(d);
    });
    user_.actions.push_back([&](HWND d) {
        restored = standin::ui::DrawnIcons();
        standin::ui::ClickControl(GetDlgItem(d, IDOK));
    });
    RunProgram();

    ASSERT_FALSE(minimised.empty()) << "painted while minimised";
    const standin::ui::DrawnIcon& drawn = minimised.back();
    EXPECT_EQ(drawn.window, dialog);
    EXPECT_EQ(reinterpret_cast<LRESULT>(drawn.icon), icon);
    int width = client.right - client.left, height = client.bottom - client.top;
    EXPECT_EQ(drawn.x, (width - GetSystemMetrics(SM_CXICON) + 1) / 2);
    EXPECT_EQ(drawn.y, (height - GetSystemMetrics(SM_CYICON) + 1) / 2);
    for (const standin::ui::DrawnIcon& d : restored) {
        EXPECT_NE(d.window, dialog) << "restored: the normal layout, no icon";
    }
}

TEST_F(ProgramLife, TheScanSizesEveryDeviceColumnDescriptionLast) {
    // Sizing the columns again in the scan's order changes nothing: each was
    // sized to its header and contents, and "Description" last, taking what
    // is left of the list's width.
    WithDriverFile();
    WithResources();
    std::vector<int> widths, again;
    user_.actions.push_back([&](HWND d) {
        HWND list = GetDlgItem(d, 1000);
        for (int column = 0; column < 8; ++column) {
            widths.push_back(static_cast<int>(SendMessageA(list, LVM_GETCOLUMNWIDTH, column, 0)));
        }
        for (int column : {0, 1, 2, 3, 5, 6, 4, 7}) {
            SendMessageA(list, LVM_SETCOLUMNWIDTH, column,
                         static_cast<LPARAM>(static_cast<unsigned short>(LVSCW_AUTOSIZE_USEHEADER)));
        }
        for (int column = 0; column < 8; ++column) {
            again.push_back(static_cast<int>(SendMessageA(list, LVM_GETCOLUMNWIDTH, column, 0)));
        }
        standin::ui::ClickControl(GetDlgItem(d, IDOK));
    });
    RunProgram();
    ASSERT_EQ(widths.size(), 8u);
    EXPECT_EQ(widths, again);
}

TEST_F(ProgramLife, AFunctionsRegistersAreShownRedrawnAndSizedToTheirText) {
    // Selecting a function fills the register list with its redraw turned
    // off; it is turned on again, and each column was sized to its header and
    // contents (sizing again changes nothing).
    WithDriverFile();
    WithResources();
    bool redraws = false;
    int rows = 0;
    std::vector<int> widths, again;
    user_.actions.push_back([&](HWND d) {
        HWND devices = GetDlgItem(d, 1000), registers = GetDlgItem(d, 1002);
        LVITEM item = {};
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        item.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageA(devices, LVM_SETITEMSTATE, 1, reinterpret_cast<LPARAM>(&item));
        rows = static_cast<int>(SendMessageA(registers, LVM_GETITEMCOUNT, 0, 0));
        const standin::ui::Window* list = standin::ui::FindWindowRecord(registers);
        redraws = list != nullptr && list->redraw;
        for (int column = 0; column < 2; ++column) {
            widths.push_back(static_cast<int>(SendMessageA(registers, LVM_GETCOLUMNWIDTH, column, 0)));
            SendMessageA(registers, LVM_SETCOLUMNWIDTH, column,
                         static_cast<LPARAM>(static_cast<unsigned short>(LVSCW_AUTOSIZE_USEHEADER)));
            again.push_back(static_cast<int>(SendMessageA(registers, LVM_GETCOLUMNWIDTH, column, 0)));
        }
        standin::ui::ClickControl(GetDlgItem(d, IDOK));
    });
    RunProgram();
    EXPECT_GT(rows, 20);
    EXPECT_TRUE(redraws) << "the register list was left without redraw";
    EXPECT_EQ(widths, again);
}

TEST_F(ProgramLife, ListHelpersAddColumnsAndWriteCellsByCopy) {
    WithDriverFile();
    WithResources();
    int width = -1, expectedWidth = -2, subItem = -1, format = -1;
    std::string first, second, columnTitle;
    int rowsBefore = -1, rowsAfter = -1;
    user_.actions.push_back([&](HWND d) {
        CListCtrl list;
        list.m_hWnd = GetDlgItem(d, 1002);
        AddListColumn(list, "Extra", 2);
        LVCOLUMN column = {};
        char title[32] = {};
        column.mask = LVCF_FMT | LVCF_SUBITEM | LVCF_TEXT | LVCF_WIDTH;
        column.pszText = title;
        column.cchTextMax = sizeof title;
        SendMessageA(list.m_hWnd, LVM_GETCOLUMN, 2, reinterpret_cast<LPARAM>(&column));
        width = column.cx;
        subItem = column.iSubItem;
        format = column.fmt;
        columnTitle = title;
        expectedWidth = static_cast<int>(SendMessageA(list.m_hWnd, LVM_GETSTRINGWIDTH, 0,
                                                      reinterpret_cast<LPARAM>("Extra"))) +
                        15;

        rowsBefore = static_cast<int>(SendMessageA(list.m_hWnd, LVM_GETITEMCOUNT, 0, 0));
        char text[16] = "first";
        SetListText(list, rowsBefore, 0, text);
        text[0] = 'F';  // the control keeps its own copy
        SetListText(list, rowsBefore, 1, "second");
        rowsAfter = static_cast<int>(SendMessageA(list.m_hWnd, LVM_GETITEMCOUNT, 0, 0));
        first = ItemText(list.m_hWnd, rowsBefore, 0);
        second = ItemText(list.m_hWnd, rowsBefore, 1);
        list.m_hWnd = NULL;
        standin::ui::ClickControl(GetDlgItem(d, IDOK));
    });
    RunProgram();
    EXPECT_EQ(columnTitle, "Extra");
    EXPECT_EQ(subItem, 2);
    EXPECT_EQ(format, LVCFMT_LEFT);
    EXPECT_EQ(width, expectedWidth);
    EXPECT_EQ(rowsAfter, rowsBefore + 1) << "column 0 inserts a row, other columns do not";
    EXPECT_EQ(first, "first");
    EXPECT_EQ(second, "second");
}

}  // namespace qvtest
