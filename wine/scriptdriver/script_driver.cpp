// The test bed's script driver, qvscript.dll: loaded into the shipped
// quorvenal.exe by the test-bed launcher (qvlaunch.exe --inject) before the
// program's own code runs, it runs a script of the headless front end inside
// the real dialog and writes the same report, so that a script gives the same
// report on the stand-in and under Wine. The script and the report are named
// by the environment (kScriptVariable, kReportVariable). It acts through the
// messages a user's clicks and keys produce, on the program's own thread,
// from a thread timer that every modal loop of the program (the dialog's and
// the message boxes') dispatches:
//  - one script action per tick; a tick comes only when the messages the
//    previous action caused have all been handled, and an action waits
//    (boundedly) for the dialog to be the active window with a focus;
//  - a message box that shows is reported and answered as the stand-in's
//    headless front end answers it (OK);
//  - after the last action the dialog is ended as the close box does.
// The program's calls of DialogBoxParamA and MessageBoxA reach this DLL
// first (their entries in the program's import address table are pointed
// here in memory): the first such call sets the timer on the program's
// thread, and the dialog's end code is taken where DoModal gets it.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/standin/program_controls.h"
#include "hardware_client.h"
#include "import_patch.h"
#include "report.h"
#include "script.h"

namespace {

using standin::ui::Report;
using standin::ui::ScriptAction;

const UINT kTickMilliseconds = 20;
// How many ticks an action waits for the dialog to become the active window
// again, with the focus on one of its controls (after a message box, after a
// restore, at start): Wine learns of activation and focus from the X server,
// a moment later.
const int kSettleTicks = 250;

struct ScriptRun {
    std::vector<ScriptAction> actions;
    size_t next = 0;
    bool closing = false;  // the script has run out and the close box was pressed
    bool busy = false;     // an action is being carried out (a message box may tick inside it)
    int settling = 0;      // ticks spent waiting for the dialog to be active
    std::set<HWND> answeredBoxes;
    std::string scriptName;
    FILE* reportFile = NULL;
    Report* report = NULL;
};

ScriptRun* run = NULL;

void Fail(const ScriptAction& action, const char* why) {
    fprintf(stderr, "quorvenal: %s:%d: %s: %s\n", run->scriptName.c_str(), action.line, action.text.c_str(),
            why);
}

// ---- Finding the windows of this thread. ----

struct Search {
    HWND dialog;
    HWND box;
};

BOOL CALLBACK VisitThreadWindow(HWND window, LPARAM context) {
    Search* search = reinterpret_cast<Search*>(context);
    char className[32] = "";
    GetClassNameA(window, className, sizeof className);
    if (!IsWindowVisible(window) || strcmp(className, "#32770") != 0) {
        return TRUE;
    }
    if (GetDlgItem(window, IDC_DEVICE_LIST) != NULL) {
        search->dialog = window;
    } else {
        search->box = window;
    }
    return TRUE;
}

Search FindWindows() {
    Search search = {NULL, NULL};
    EnumThreadWindows(GetCurrentThreadId(), VisitThreadWindow, reinterpret_cast<LPARAM>(&search));
    return search;
}

// The text a message box shows: its static text control (not the icon).
BOOL CALLBACK VisitBoxChild(HWND child, LPARAM context) {
    std::string* text = reinterpret_cast<std::string*>(context);
    char className[32] = "";
    GetClassNameA(child, className, sizeof className);
    if (_stricmp(className, "Static") == 0 && (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) {
        char buffer[1024] = "";
        GetWindowTextA(child, buffer, sizeof buffer);
        if (buffer[0] != '\0' && text->empty()) {
            *text = buffer;
        }
    }
    return TRUE;
}

void AnswerMessageBox(HWND box) {
    if (run->answeredBoxes.count(box)) {
        return;
    }
    run->answeredBoxes.insert(box);
    char caption[256] = "";
    GetWindowTextA(box, caption, sizeof caption);
    std::string text;
    EnumChildWindows(box, VisitBoxChild, reinterpret_cast<LPARAM>(&text));
    run->report->MessageBoxShown(caption, text);
    // The boxes of this program have one OK button.
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

// ---- The user's actions, as the messages Windows sends for them. ----

void ClickAt(HWND control, int x, int y) {
    if (!IsWindowVisible(control) || !IsWindowEnabled(control)) {
        return;
    }
    LPARAM point = MAKELPARAM(x, y);
    SendMessageA(control, WM_LBUTTONDOWN, MK_LBUTTON, point);
    if (IsWindow(control)) {
        SendMessageA(control, WM_LBUTTONUP, 0, point);
    }
}

void ClickControl(HWND control) {
    RECT rc;
    if (GetClientRect(control, &rc)) {
        ClickAt(control, rc.right / 2, rc.bottom / 2);
    }
}

// A click near the left edge of a row of a report list, scrolled into view
// first; a row past the last one is a click on the empty part below it.
void ClickListRow(HWND list, int row) {
    int count = (int)SendMessageA(list, LVM_GETITEMCOUNT, 0, 0);
    if (row < 0) {
        return;
    }
    if (row < count) {
        SendMessageA(list, LVM_ENSUREVISIBLE, row, FALSE);
        RECT rc;
        rc.left = LVIR_BOUNDS;
        if (SendMessageA(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&rc))) {
            ClickAt(list, 3, (rc.top + rc.bottom) / 2);
        }
        return;
    }
    RECT client;
    GetClientRect(list, &client);
    int y = client.bottom - 2;
    if (count > 0) {
        RECT last;
        last.left = LVIR_BOUNDS;
        if (SendMessageA(list, LVM_GETITEMRECT, count - 1, reinterpret_cast<LPARAM>(&last))) {
            y = last.bottom + (last.bottom - last.top) / 2;
        }
    }
    ClickAt(list, 3, y);
}

// A key pressed and released while the dialog is active: the modal loop
// hands the keyboard messages to IsDialogMessage first.
void PressKey(HWND dialog, int virtualKey, bool shift) {
    BYTE keys[256];
    GetKeyboardState(keys);
    BYTE before = keys[VK_SHIFT];
    if (shift) {
        keys[VK_SHIFT] |= 0x80;
        SetKeyboardState(keys);
    }
    UINT scan = MapVirtualKeyA(virtualKey, 0);
    const UINT messages[] = {WM_KEYDOWN, WM_KEYUP};
    const LPARAM flags[] = {(LPARAM)(1u | scan << 16), (LPARAM)(1u | scan << 16 | 0xC0000000u)};
    for (int i = 0; i < 2; ++i) {
        HWND target = GetFocus();
        if (target == NULL) {
            target = dialog;
        }
        MSG msg;
        memset(&msg, 0, sizeof msg);
        msg.hwnd = target;
        msg.message = messages[i];
        msg.wParam = virtualKey;
        msg.lParam = flags[i];
        msg.time = GetTickCount();
        if (!IsWindow(dialog) || !IsDialogMessageA(dialog, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    if (shift) {
        GetKeyboardState(keys);
        keys[VK_SHIFT] = before;
        SetKeyboardState(keys);
    }
}

void Perform(HWND dialog, const ScriptAction& a) {
    switch (a.kind) {
        case ScriptAction::Click: {
            HWND control = GetDlgItem(dialog, a.id);
            if (!control) return Fail(a, "the dialog has no control with that id");
            if (!IsWindowVisible(control) || !IsWindowEnabled(control))
                return Fail(a, "the control is hidden or disabled");
            ClickControl(control);
            return;
        }
        case ScriptAction::Select: {
            HWND list = GetDlgItem(dialog, kProgramControls.deviceList);
            if (!list) return Fail(a, "the dialog has no device list");
            ClickListRow(list, a.row);
            return;
        }
        case ScriptAction::Key: PressKey(dialog, a.virtualKey, a.shift); return;
        case ScriptAction::Close: SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); return;
        case ScriptAction::Minimize: SendMessageA(dialog, WM_SYSCOMMAND, SC_MINIMIZE, 0); return;
        case ScriptAction::Restore: SendMessageA(dialog, WM_SYSCOMMAND, SC_RESTORE, 0); return;
        case ScriptAction::Dump: run->report->Dump(dialog, kProgramControls); return;
        case ScriptAction::HwReset:
        case ScriptAction::HwWrite:
        case ScriptAction::HwRemove:
        case ScriptAction::HwRestore: {
            std::string why;
            if (!SendHardwareAction(a, &why)) Fail(a, why.c_str());
            return;
        }
    }
}

VOID CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    Search found = FindWindows();
    if (found.box != NULL) {
        AnswerMessageBox(found.box);
        return;
    }
    if (run->busy || found.dialog == NULL || run->closing) {
        return;
    }
    // A user acts on the dialog once it is active again; so do we, within bounds.
    bool settled = GetActiveWindow() == found.dialog && GetFocus() != NULL;
    if (!settled && !IsIconic(found.dialog) && run->settling < kSettleTicks) {
        ++run->settling;
        return;
    }
    run->settling = 0;
    run->busy = true;
    if (run->next < run->actions.size()) {
        Perform(found.dialog, run->actions[run->next++]);
    } else {
        run->closing = true;
        SendMessageA(found.dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    }
    run->busy = false;
}

// ---- Setting up, from the DLL's start in the program's process. ----

const char kScriptVariable[] = "QUORVENAL_BED_SCRIPT";
const char kReportVariable[] = "QUORVENAL_BED_REPORT";

std::string Environment(const char* name) {
    char value[MAX_PATH] = "";
    DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length > 0 && length < sizeof value ? value : "";
}

[[noreturn]] void Refuse(const std::string& why) {
    fprintf(stderr, "quorvenal: %s\n", why.c_str());
    fflush(stderr);
    ExitProcess(2);
}

// Reads the script and opens the report; a bad script or an unwritable
// report ends the process with 2 before the program runs, as the stand-in's
// launcher does.
bool LoadScript() {
    std::string script = Environment(kScriptVariable);
    std::string reportPath = Environment(kReportVariable);
    if (script.empty()) return false;
    std::ifstream in(script.c_str(), std::ios::binary);
    if (!in) Refuse("cannot read the script " + script);
    std::stringstream text;
    text << in.rdbuf();
    run = new ScriptRun;
    run->scriptName = script;
    std::string error;
    if (!standin::ui::ParseScript(text.str(), script, &run->actions, &error)) Refuse(error);
    run->reportFile = stderr;
    if (!reportPath.empty()) {
        run->reportFile = fopen(reportPath.c_str(), "w");
        if (run->reportFile == NULL) Refuse("cannot write the report " + reportPath);
    }
    run->report = new Report(run->reportFile);
    return true;
}

bool timerSet = false;

// On the program's thread, before its first modal loop.
void SetTimerOnce() {
    if (timerSet) return;
    timerSet = true;
    SetTimer(NULL, 0, kTickMilliseconds, Tick);
}

INT_PTR WINAPI ReportingDialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND parent,
                                        DLGPROC procedure, LPARAM parameter) {
    SetTimerOnce();
    INT_PTR result = DialogBoxParamA(instance, templateName, parent, procedure, parameter);
    run->report->DialogEnded(result);
    return result;
}

int WINAPI TickingMessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    SetTimerOnce();
    return MessageBoxA(owner, text, caption, type);
}

void PointProgramHere() {
    const ServedImport served[] = {
        {"user32.dll", "DialogBoxParamA", reinterpret_cast<void*>(&ReportingDialogBoxParamA)},
        {"user32.dll", "MessageBoxA", reinterpret_cast<void*>(&TickingMessageBoxA)},
    };
    PatchImports(GetModuleHandleA(NULL), served, 2);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        if (LoadScript()) PointProgramHere();
    } else if (reason == DLL_PROCESS_DETACH && run != NULL) {
        run->report->ProcessExit();
        if (run->reportFile != stderr) fclose(run->reportFile);
    }
    return TRUE;
}
