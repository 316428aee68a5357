// The dialog manager as a modal dialog meets it: creation from the template,
// initial focus, tab and arrow navigation, Enter, Escape, the close box,
// minimise and restore, message boxes.
#include <gtest/gtest.h>

#include <windows.h>

#include "test_support.h"
#include "ui/gdi.h"
#include "ui/user_input.h"

namespace qvtest {

using namespace standin::ui;

namespace {

int FocusId() { return GetFocus() ? GetDlgCtrlID(GetFocus()) : 0; }

void Key(ScriptedFrontEnd& fe, int key, bool shift = false) {
    fe.steps.push_back([key, shift](HWND d) { PressKey(d, key, shift); });
}

void RecordFocus(ScriptedFrontEnd& fe, std::vector<int>* into) {
    fe.steps.push_back([into](HWND) { into->push_back(FocusId()); });
}

}  // namespace

TEST(DialogManager, InitialFocusIsTheFirstTabStopWhenInitialisationSaysSo) {
    ScriptedFrontEnd fe;
    FrontEndScope scope(&fe);
    DialogScript script;
    HWND initFocusArgument = nullptr, firstTabStop = nullptr;
    script.onInit = [&](HWND d) {
        initFocusArgument = reinterpret_cast<HWND>(script.events.back().wParam);
        firstTabStop = GetDlgItem(d, IDOK);
    };
    std::vector<int> focus;
    RecordFocus(fe, &focus);
    EXPECT_EQ(RunDialog(kMainDialog, &script), IDCANCEL);  // input ran out: the close box
    EXPECT_EQ(initFocusArgument, firstTabStop);
    EXPECT_EQ(focus, std::vector<int>({IDOK}));
    EXPECT_EQ(fe.ends, std::vector<INT_PTR>({IDCANCEL}));
    EXPECT_EQ(CommandIds(script.events), std::vector<int>({IDCANCEL}));
}

TEST(DialogManager, InitialisationThatReturnsFalseKeepsItsOwnFocus) {
    ScriptedFrontEnd fe;
    FrontEndScope scope(&fe);
    DialogScript script;
    script.initResult = FALSE;
    script.onInit = [](HWND d) { SetFocus(GetDlgItem(d, 1002)); };
    std::vector<int> focus;
    RecordFocus(fe, &focus);
    RunDialog(kMainDialog, &script);
    EXPECT_EQ(focus, std::vector<int>({1002}));
}

TEST(DialogManager, TabOrderIsTemplateOrderOverEnabledVisibleTabStops) {
    ScriptedFrontEnd fe;
    FrontEndScope scope(&fe);
    DialogScript script;
    std::vector<int> forward, backward;
    for (int i = 0; i < 5; ++i) {
        Key(fe, VK_TAB);
        RecordFocus(fe, &forward);
    }
    for (int i = 0; i < 5; ++i) {
        Key(fe, VK_TAB, true);
        RecordFocus(fe, &backward);
    }
    RunDialog(kMainDialog, &script);
    // Skipped: 2 (no tab stop), 1003 (disabled), 1005 (hidden), edits, group box, static.
    EXPECT_EQ(forward, std::vector<int>({1000, 1001, 1002, 1006, IDOK}));
    EXPECT_EQ(backward, std::vector<int>({1006, 1002, 1001, 1000, IDOK}));
}

TEST(DialogManager, ArrowKeysOnButtonsMoveThroughTheGroupIncludingNonTabStops) {
    ScriptedFrontEnd fe;
    FrontEndScope scope(&fe);
    DialogScript script;
    std::vector<int> focus;
    Key(fe, VK_DOWN);
    RecordFocus(fe, &focus);
    Key(fe, VK_UP);
    RecordFocus(fe, &focus);
    RunDialog(kMainDialog, &script);
    EXPECT_EQ(focus, std::vector<int>({IDCANCEL, IDOK}));
}

TEST(DialogManager, EnterPressesTheDefaultButtonUnlessAPushButtonHasTheFocus) {
    {
        ScriptedFrontEnd fe;
        FrontEndScope scope(&fe);
        DialogScript script;
        Key(fe, VK_TAB);  // to the list, which does not take Enter
        Key(fe, VK_RETURN);
        EXPECT_EQ(RunDialog(kMainDialog, &script), IDOK);
        EXPECT_EQ(CommandIds(script.events), std::vector<int>({IDOK}));
    }
    {
        ScriptedFrontEnd fe;
        FrontEndScope scope(&fe);
        DialogScript script;
        Key(fe, VK_TAB);
        Key(fe, VK_TAB);  // "Again", a plain push button
        Key(fe, VK_RETURN);
        Key(fe, VK_ESCAPE);
        EXPECT_EQ(RunDialog(kMainDialog, &script), IDCANCEL);
        EXPECT_EQ(CommandIds(script.events), std::vector<int>({1001, IDCANCEL}));
    }
}

TEST(DialogManager, SpaceOnAFocusedButtonClicksIt) {
    ScriptedFrontEnd fe;
    FrontEndScope scope(&fe);
    DialogScript script;
    Key(fe, VK_SPACE);  // focus starts on "Exit"
    EXPECT_EQ(RunDialog(kMainDialog, &script), IDOK);
    EXPECT_EQ(CommandIds(script.events), std::vector<int>({IDOK}));
}

TEST(DialogManager, EscapeAndTheCloseBoxSendIdCancel) {
    ScriptedFrontEnd fe;
    FrontEndScope scope(&fe);
    DialogScript script;
    script.endOnOkCancel = false;
    Key(fe, VK_ESCAPE);
    fe.steps.push_back([](HWND d) { PressCloseBox(d); });
    fe.steps.push_back([](HWND d) { EndDialog(d, 77); });
    EXPECT_EQ(RunDialog(kMainDialog, &script), 77);
    EXPECT_EQ(CommandIds(script.events), std::vector<int>({IDCANCEL, IDCANCEL}));
    EXPECT_EQ(fe.ends, std::vector<INT_PTR>({77}));
}

TEST(DialogManager, ADisabledCancelButtonStopsEscapeAndTheCloseBox) {
    ScriptedFrontEnd fe;
    FrontEndScope scope(&fe);
    DialogScript script;
    script.onInit = [](HWND d) { EnableWindow(GetDlgItem(d, IDCANCEL), FALSE); };
    Key(fe, VK_ESCAPE);
    fe.steps.push_back([](HWND d) { PressCloseBox(d); });
    // Nothing can end it once the input is over: the loop gives up with -1.
    EXPECT_EQ(RunDialog(kMainDialog, &script), -1);
    EXPECT_TRUE(CommandIds(script.events).empty());
}

TEST(DialogManager, ClicksGoToButtonsButNotToDisabledButtonsOrGroupBoxes) {
    ScriptedFrontEnd fe;
    FrontEndScope scope(&fe);
    DialogScript script;
    std::vector<int> focus;
    fe.steps.push_back([](HWND d) { ClickControl(GetDlgItem(d, 1003)); });
    // The group box (the first control of id -1) takes neither focus nor clicks.
    fe.steps.push_back([](HWND d) { ClickControl(GetDlgItem(d, -1)); });
    fe.steps.push_back([](HWND d) { ClickControl(GetDlgItem(d, 1001)); });
    RecordFocus(fe, &focus);
    fe.steps.push_back([](HWND d) { ClickControl(GetDlgItem(d, 1004)); });
    RecordFocus(fe, &focus);
    RunDialog(kMainDialog, &script);
    EXPECT_EQ(CommandIds(script.events), std::vector<int>({1001, IDCANCEL}));
    EXPECT_EQ(focus, std::vector<int>({1001, 1004}));  // a read-only edit box takes focus on a click
}

TEST(DialogManager, MinimisedDialogPaintsItsIconAndRestores) {
    ScriptedFrontEnd fe;
    FrontEndScope scope(&fe);
    DialogScript script;
    ClearDrawnIcons();
    std::vector<bool> iconic;
    RECT minimisedClient = {0, 0, 0, 0};
    fe.steps.push_back([](HWND d) { PressMinimize(d); });
    fe.steps.push_back([&](HWND d) {
        iconic.push_back(IsIconic(d) != 0);
        GetClientRect(d, &minimisedClient);
    });
    fe.steps.push_back([](HWND d) { PressRestore(d); });
    fe.steps.push_back([&](HWND d) { iconic.push_back(IsIconic(d) != 0); });
    RunDialog(kMainDialog, &script);
    EXPECT_EQ(iconic, std::vector<bool>({true, false}));
    ASSERT_EQ(DrawnIcons().size(), 1u);
    const DrawnIcon& drawn = DrawnIcons()[0];
    EXPECT_EQ(drawn.x, (minimisedClient.right - 32 + 1) / 2);
    EXPECT_EQ(drawn.y, (minimisedClient.bottom - 32 + 1) / 2);
    EXPECT_GE(minimisedClient.right, 32);
    int paints = 0;
    for (const Event& e : script.events) paints += e.message == WM_PAINT ? 1 : 0;
    EXPECT_EQ(paints, 3);  // shown, minimised, restored
}

TEST(DialogManager, DialogsThatCannotBeCreatedReturnMinusOne) {
    ScriptedFrontEnd fe;
    FrontEndScope scope(&fe);
    DialogScript missing, broken;
    EXPECT_EQ(RunDialog(999, &missing), -1);
    EXPECT_EQ(RunDialog(kBrokenDialog, &broken), -1);
    EXPECT_TRUE(missing.events.empty());
    EXPECT_TRUE(broken.events.empty());  // no WM_INITDIALOG for a dialog that was never built
    EXPECT_EQ(fe.ends, std::vector<INT_PTR>({-1, -1}));
}

TEST(DialogManager, GeometryFollowsTheShellFontsDialogUnits) {
    ScriptedFrontEnd fe;
    FrontEndScope scope(&fe);
    DialogScript script;
    RECT client = {0, 0, 0, 0}, mapped = {4, 8, 428, 320}, list = {0, 0, 0, 0};
    fe.steps.push_back([&](HWND d) {
        GetClientRect(d, &client);
        MapDialogRect(d, &mapped);
        GetClientRect(GetDlgItem(d, 1000), &list);
    });
    RunDialog(kMainDialog, &script);
    EXPECT_EQ(client.right, 240 * 6 / 4);
    EXPECT_EQ(client.bottom, 200 * 13 / 8);
    EXPECT_EQ(mapped.left, 6);
    EXPECT_EQ(mapped.top, 13);
    EXPECT_EQ(mapped.right, 642);
    EXPECT_EQ(mapped.bottom, 520);
    EXPECT_EQ(list.right, 230 * 6 / 4 - 2);  // less the one-pixel border on each side
}

TEST(MessageBox, DefaultCaptionAndAnswers) {
    ScriptedFrontEnd fe;
    {
        FrontEndScope scope(&fe);
        EXPECT_EQ(MessageBoxA(nullptr, "Failed to install/load quorvenal.sys!", nullptr, MB_OK), IDOK);
        EXPECT_EQ(MessageBoxA(nullptr, "question", "Title", MB_YESNO), IDYES);
        EXPECT_EQ(MessageBoxA(nullptr, "again", "Title", MB_RETRYCANCEL), IDRETRY);
    }
    ASSERT_EQ(fe.boxes.size(), 3u);
    EXPECT_EQ(fe.boxes[0].first, "Error");
    EXPECT_EQ(fe.boxes[0].second, "Failed to install/load quorvenal.sys!");
    EXPECT_EQ(fe.boxes[1].first, "Title");
    // No front end: nobody to ask, the box answers at once.
    EXPECT_EQ(MessageBoxA(nullptr, "x", nullptr, MB_OKCANCEL), IDOK);
}

TEST(MessageBox, FocusComesBackAfterTheBox) {
    ScriptedFrontEnd fe;
    FrontEndScope scope(&fe);
    DialogScript script;
    std::vector<int> focus;
    Key(fe, VK_TAB);
    fe.steps.push_back([](HWND d) { MessageBoxA(d, "text", "caption", MB_OK); });
    RecordFocus(fe, &focus);
    RunDialog(kMainDialog, &script);
    EXPECT_EQ(focus, std::vector<int>({1000}));
    ASSERT_EQ(fe.boxes.size(), 1u);
}

TEST(DialogManager, IndirectTemplatesFromResourcesRunLikeNamedOnes) {
    ScriptedFrontEnd fe;
    FrontEndScope scope(&fe);
    RegisterTestResources();
    DialogScript script;
    std::vector<int> focus;
    RecordFocus(fe, &focus);
    Key(fe, VK_RETURN);
    HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(kClassicDialog), RT_DIALOG);
    const void* data = LockResource(LoadResource(nullptr, found));
    EXPECT_EQ(DialogBoxIndirectParamA(GetModuleHandleA(nullptr), data, nullptr, RecordingDialogProc,
                                      reinterpret_cast<LPARAM>(&script)),
              IDOK);
    EXPECT_EQ(focus, std::vector<int>({IDOK}));  // the first tab stop in template order
}

// A push button clicks when the mouse button is released over it; released
// off it, the press is taken back.
TEST(DialogManager, AButtonReleasedOffItselfDoesNotClick) {
    ScriptedFrontEnd fe;
    FrontEndScope scope(&fe);
    DialogScript script;
    script.endOnOkCancel = false;
    auto pressAndRelease = [](int id, int x, int y) {
        return [id, x, y](HWND d) {
            HWND button = GetDlgItem(d, id);
            SendMessageA(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
            SendMessageA(button, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
        };
    };
    fe.steps.push_back(pressAndRelease(1001, -3, 5));   // left of it
    fe.steps.push_back(pressAndRelease(1001, 5, 400));  // below it
    fe.steps.push_back(pressAndRelease(1001, 5, 5));    // on it
    fe.steps.push_back([](HWND d) { EndDialog(d, 5); });
    EXPECT_EQ(RunDialog(kMainDialog, &script), 5);
    EXPECT_EQ(CommandIds(script.events), std::vector<int>({1001}));
}

}  // namespace qvtest
