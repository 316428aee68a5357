// The dialog framework on the stand-in: modal runs and their end codes, the
// message map's routing, control binding and the list wrappers, and the
// process entry. Each test dialog does its work while it initialises and
// ends itself there, as a dialog that closes at once does.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "afx.h"

namespace qvtest {

namespace {

const UINT kFullDialog = 300;
const UINT kDialogWithoutList = 301;
const int kActionButton = 2001;
const int kList = 2002;
const int kEdit = 2003;
const UINT kButtonGotFocus = 6;  // a button notification other than BN_CLICKED

class TestDialog : public CDialog {
public:
    explicit TestDialog(UINT templateId) : CDialog(templateId) {}

    // Runs inside OnInitDialog once the controls are bound; it must end the dialog.
    std::function<void(TestDialog&)> script;

    int initCalls = 0;
    int actions = 0;
    int paints = 0;
    std::vector<UINT> notifications;  // codes that reached the list handlers
    std::vector<NMLISTVIEW> changes;
    HCURSOR dragIcon = NULL;

    CListCtrl list;
    CEdit edit;

    BOOL OnInitDialog() override {
        ++initCalls;
        if (!CDialog::OnInitDialog()) return FALSE;
        if (script) script(*this);
        return TRUE;
    }

    LRESULT Command(int id, UINT code) {
        return ::SendMessageA(m_hWnd, WM_COMMAND, MAKEWPARAM(id, code),
                              reinterpret_cast<LPARAM>(::GetDlgItem(m_hWnd, id)));
    }
    LRESULT Notify(int fromId, UINT code) {
        NMHDR header = {};
        header.hwndFrom = ::GetDlgItem(m_hWnd, fromId);
        header.idFrom = static_cast<UINT_PTR>(fromId);
        header.code = code;
        return ::SendMessageA(m_hWnd, WM_NOTIFY, static_cast<WPARAM>(fromId),
                              reinterpret_cast<LPARAM>(&header));
    }

protected:
    void DoDataExchange(CDataExchange* dx) override {
        CDialog::DoDataExchange(dx);
        DDX_Control(dx, kList, list);
        DDX_Control(dx, kEdit, edit);
    }

    void OnAction() { ++actions; }
    void OnListClick(NMHDR* header, LRESULT* result) {
        notifications.push_back(header->code);
        *result = 7;
    }
    void OnListChanged(NMHDR* header, LRESULT* result) {
        notifications.push_back(header->code);
        changes.push_back(*reinterpret_cast<NMLISTVIEW*>(header));
        *result = 0;
    }
    void OnPaint() {
        ++paints;
        CDialog::OnPaint();
    }
    HCURSOR OnQueryDragIcon() { return dragIcon; }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(TestDialog, CDialog)
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_BN_CLICKED(kActionButton, &TestDialog::OnAction)
ON_NOTIFY(NM_CLICK, kList, &TestDialog::OnListClick)
ON_NOTIFY(LVN_ITEMCHANGED, kList, &TestDialog::OnListChanged)
END_MESSAGE_MAP()

class TestApp : public CWinApp {
public:
    explicit TestApp(LPCSTR name = NULL) : CWinApp(name) {}
    int initCalls = 0;
    int helpCommands = 0;
    int exitCode = 0;
    BOOL InitInstance() override {
        ++initCalls;
        return FALSE;
    }
    int ExitInstance() override { return exitCode; }
    void OnHelpCommand() { ++helpCommands; }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(TestApp, CWinApp)
ON_COMMAND(ID_HELP, &TestApp::OnHelpCommand)
END_MESSAGE_MAP()

void InsertRow(CListCtrl& list, int row, const char* text) {
    LVITEM item = {};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = const_cast<LPSTR>(text);
    list.SendMessage(LVM_INSERTITEM, 0, reinterpret_cast<LPARAM>(&item));
}

}  // namespace

TEST(DialogRun, MissingTemplateGivesMinusOneWithoutInitialising) {
    TestDialog dialog(999);
    EXPECT_EQ(dialog.DoModal(), -1);
    EXPECT_EQ(dialog.initCalls, 0);
    EXPECT_EQ(dialog.m_hWnd, nullptr);
}

TEST(DialogRun, BaseOkEndsWithOneAndBaseCancelWithTwo) {
    TestDialog ok(kFullDialog);
    ok.script = [](TestDialog& d) { d.Command(IDOK, BN_CLICKED); };
    EXPECT_EQ(ok.DoModal(), IDOK);
    EXPECT_EQ(ok.m_hWnd, nullptr) << "the object lets go of the destroyed window";

    TestDialog cancel(kFullDialog);
    cancel.script = [](TestDialog& d) { d.Command(IDCANCEL, BN_CLICKED); };
    EXPECT_EQ(cancel.DoModal(), IDCANCEL);

    // The close box asks the dialog manager for IDCANCEL.
    TestDialog closed(kFullDialog);
    closed.script = [](TestDialog& d) { d.SendMessage(WM_CLOSE); };
    EXPECT_EQ(closed.DoModal(), IDCANCEL);
}

TEST(DialogRun, ControlMissingFromTheTemplateEndsTheRunWithMinusOne) {
    TestDialog dialog(kDialogWithoutList);
    bool scriptRan = false;
    dialog.script = [&scriptRan](TestDialog& d) {
        scriptRan = true;
        d.Command(IDOK, BN_CLICKED);
    };
    EXPECT_EQ(dialog.DoModal(), -1);
    EXPECT_EQ(dialog.initCalls, 1);
    EXPECT_FALSE(scriptRan) << "nothing runs on unbound controls";
}

TEST(MessageMap, CommandsRouteByControlIdAndNotificationCode) {
    TestDialog dialog(kFullDialog);
    dialog.script = [](TestDialog& d) {
        d.Command(kActionButton, BN_CLICKED);
        d.Command(kActionButton, kButtonGotFocus);  // same control, other code
        d.Command(kEdit, BN_CLICKED);               // same code, other control
        d.Command(kActionButton, BN_CLICKED);
        d.Command(IDCANCEL, BN_CLICKED);
    };
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(dialog.actions, 2);
}

TEST(MessageMap, NotificationsRouteBySenderIdAndCodeAndReturnTheirResult) {
    TestDialog dialog(kFullDialog);
    LRESULT clickResult = 0;
    dialog.script = [&clickResult](TestDialog& d) {
        clickResult = d.Notify(kList, NM_CLICK);
        d.Notify(kEdit, NM_CLICK);         // other sender
        d.Notify(kList, LVN_COLUMNCLICK);  // code without a handler
        d.Command(IDCANCEL, BN_CLICKED);
    };
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(clickResult, 7) << "the handler's result is the message's result";
    ASSERT_EQ(dialog.notifications.size(), 1u);
    EXPECT_EQ(dialog.notifications[0], static_cast<UINT>(NM_CLICK));
}

TEST(MessageMap, ListSelectionChangesReachTheHandlerWithTheirStates) {
    TestDialog dialog(kFullDialog);
    dialog.script = [](TestDialog& d) {
        InsertRow(d.list, 0, "first");
        InsertRow(d.list, 1, "second");
        d.changes.clear();  // inserting may notify too; only the state change counts here
        d.list.SetItemState(1, LVIS_SELECTED, LVIS_SELECTED);
        d.Command(IDCANCEL, BN_CLICKED);
    };
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    ASSERT_FALSE(dialog.changes.empty());
    const NMLISTVIEW& change = dialog.changes.back();
    EXPECT_EQ(change.iItem, 1);
    EXPECT_EQ(change.uNewState & LVIS_SELECTED, static_cast<UINT>(LVIS_SELECTED));
    EXPECT_EQ(change.uOldState & LVIS_SELECTED, 0u);
}

TEST(MessageMap, PaintAndDragIconReachTheirHandlers) {
    TestDialog dialog(kFullDialog);
    dialog.dragIcon = ::LoadIconA(NULL, IDI_APPLICATION);
    LRESULT dragged = 0;
    dialog.script = [&dragged](TestDialog& d) {
        int before = d.paints;
        d.SendMessage(WM_PAINT);
        EXPECT_EQ(d.paints, before + 1);
        dragged = d.SendMessage(WM_QUERYDRAGICON);
        d.Command(IDOK, BN_CLICKED);
    };
    EXPECT_EQ(dialog.DoModal(), IDOK);
    ASSERT_NE(dialog.dragIcon, nullptr);
    EXPECT_EQ(dragged, reinterpret_cast<LRESULT>(dialog.dragIcon));
}

TEST(MessageMap, CommandsTheDialogLeavesGoToTheApplication) {
    TestApp app("framework test");
    TestDialog dialog(kFullDialog);
    dialog.script = [](TestDialog& d) {
        d.Command(ID_HELP, 0);
        d.Command(IDCANCEL, BN_CLICKED);
    };
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(app.helpCommands, 1);
}

TEST(Controls, BindingAndWrappersReachTheTemplatesControls) {
    TestDialog dialog(kFullDialog);
    HWND listWindow = NULL, editWindow = NULL;
    DWORD_PTR data = 0, missing = 1;
    UINT state = 0;
    char text[32] = {};
    dialog.script = [&](TestDialog& d) {
        listWindow = ::GetDlgItem(d.m_hWnd, kList);
        editWindow = ::GetDlgItem(d.m_hWnd, kEdit);
        EXPECT_EQ(d.list.m_hWnd, listWindow);
        EXPECT_EQ(d.edit.m_hWnd, editWindow);

        d.edit.SetWindowTextA("1C:3:0");
        d.edit.GetWindowTextA(text, sizeof text);

        InsertRow(d.list, 0, "row");
        d.list.SetItem(0, 0, LVIF_PARAM, NULL, 0, 0, 0, 0x001C0300);
        data = d.list.GetItemData(0);
        missing = d.list.GetItemData(5);
        d.list.SetItemState(0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        state = static_cast<UINT>(d.list.SendMessage(LVM_GETITEMSTATE, 0, LVIS_SELECTED | LVIS_FOCUSED));
        d.Command(IDOK, BN_CLICKED);
    };
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_NE(listWindow, nullptr);
    EXPECT_STREQ(text, "1C:3:0");
    EXPECT_EQ(data, 0x001C0300u);
    EXPECT_EQ(missing, 0u) << "a row that does not exist has no data";
    EXPECT_EQ(state, static_cast<UINT>(LVIS_SELECTED | LVIS_FOCUSED));
}

TEST(Application, ProcessEntryRunsInitInstanceAndReturnsExitInstance) {
    EXPECT_EQ(AfxGetApp(), nullptr);
    EXPECT_EQ(WinMain(::GetModuleHandleA(NULL), NULL, const_cast<LPSTR>(""), SW_SHOWNORMAL), -1)
        << "no application object";

    TestApp app;
    app.exitCode = 3;
    EXPECT_EQ(AfxGetApp(), &app);
    EXPECT_EQ(WinMain(::GetModuleHandleA(NULL), NULL, const_cast<LPSTR>(""), SW_SHOWNORMAL), 3);
    EXPECT_EQ(app.initCalls, 1);
    // No name given: the program file's name without its extension.
    EXPECT_STREQ(AfxGetAppName(), "ui_framework_test");
}

TEST(Application, AGivenNameIsTheTitle) {
    TestApp app("named");
    EXPECT_EQ(WinMain(::GetModuleHandleA(NULL), NULL, const_cast<LPSTR>(""), SW_SHOWNORMAL), 0);
    EXPECT_STREQ(AfxGetAppName(), "named");
}

}  // namespace qvtest
