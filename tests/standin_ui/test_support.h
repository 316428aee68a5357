// Shared pieces of the stand-in UI tests: the compiled test resources, a front
// end that plays queued user actions, and a dialog procedure that records
// what reaches it.
#ifndef STANDIN_UI_TEST_SUPPORT_H
#define STANDIN_UI_TEST_SUPPORT_H

#include <windows.h>
#include <commctrl.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "ui/front_end.h"

namespace qvtest {

const int kMainDialog = 400;
const int kBrokenDialog = 401;
const int kClassicDialog = 402;
const int kIcon = 410;

// The bytes windres wrote for standin_test.rc.
std::vector<unsigned char> TestResourceFile();
// Registers them with the stand-in once per process.
void RegisterTestResources();

class ScriptedFrontEnd : public standin::ui::FrontEnd {
public:
    std::deque<std::function<void(HWND)>> steps;
    std::vector<std::pair<std::string, std::string>> boxes;  // caption, text
    std::vector<INT_PTR> ends;

    bool NextInput(HWND dialog) override;
    int ShowMessageBox(HWND owner, const std::string& caption, const std::string& text, UINT type) override;
    void DialogEnded(HWND dialog, INT_PTR result) override;
};

// Installs a front end for the life of a test.
class FrontEndScope {
public:
    explicit FrontEndScope(standin::ui::FrontEnd* frontEnd);
    ~FrontEndScope();
};

struct Event {
    UINT message;
    WPARAM wParam;
    UINT code;  // WM_NOTIFY code, else 0
    int item;   // NMLISTVIEW iItem for list notifications, else 0
    UINT oldState;
    UINT newState;
    int markAtNotification;  // the list's selection mark when the notification arrived
};

struct DialogScript {
    BOOL initResult = TRUE;
    std::function<void(HWND)> onInit;
    bool endOnOkCancel = true;   // IDOK and IDCANCEL end the dialog with their id
    bool refuseChanges = false;  // answer LVN_ITEMCHANGING with TRUE
    std::vector<Event> events;
    HWND dialog = nullptr;
};

// A dialog procedure that records into the DialogScript passed as init param.
INT_PTR CALLBACK RecordingDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Runs dialog `id` with the recording procedure; returns DialogBoxParamA's result.
INT_PTR RunDialog(int id, DialogScript* script);

std::vector<UINT> NotifyCodes(const std::vector<Event>& events, int controlId);
std::vector<int> CommandIds(const std::vector<Event>& events);

}  // namespace qvtest

#endif
