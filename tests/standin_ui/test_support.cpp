#include "test_support.h"

#include <fstream>
#include <iterator>

#include "ui/resources.h"
#include "ui/window_manager.h"

namespace qvtest {

std::vector<unsigned char> TestResourceFile() {
    std::ifstream in(STANDIN_TEST_RES, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void RegisterTestResources() {
    static bool done = false;
    if (done) return;
    done = true;
    std::vector<unsigned char> bytes = TestResourceFile();
    standin::RegisterResourceFile(bytes.data(), bytes.size());
}

bool ScriptedFrontEnd::NextInput(HWND dialog) {
    if (steps.empty()) return false;
    std::function<void(HWND)> step = steps.front();
    steps.pop_front();
    step(dialog);
    return true;
}

int ScriptedFrontEnd::ShowMessageBox(HWND, const std::string& caption, const std::string& text, UINT type) {
    boxes.push_back({caption, text});
    return standin::ui::DefaultMessageBoxAnswer(type);
}

void ScriptedFrontEnd::DialogEnded(HWND, INT_PTR result) { ends.push_back(result); }

FrontEndScope::FrontEndScope(standin::ui::FrontEnd* frontEnd) { standin::ui::SetFrontEnd(frontEnd); }
FrontEndScope::~FrontEndScope() {
    standin::ui::SetFrontEnd(nullptr);
    standin::ui::ResetWindowManager();
}

INT_PTR CALLBACK RecordingDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    DialogScript* script = reinterpret_cast<DialogScript*>(GetWindowLongPtrA(dialog, DWLP_USER));
    if (message == WM_INITDIALOG) {
        script = reinterpret_cast<DialogScript*>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        script->dialog = dialog;
        script->events.push_back({message, wParam, 0, 0, 0, 0, -1});
        if (script->onInit) script->onInit(dialog);
        return script->initResult;
    }
    if (!script) return FALSE;
    switch (message) {
        case WM_COMMAND:
            script->events.push_back({message, wParam, 0, 0, 0, 0, -1});
            if (script->endOnOkCancel && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL))
                EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        case WM_NOTIFY: {
            const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
            Event e = {message, wParam, header->code, 0, 0, 0, -1};
            if (header->code == LVN_ITEMCHANGED || header->code == LVN_ITEMCHANGING ||
                header->code == NM_CLICK) {
                const NMLISTVIEW* nm = reinterpret_cast<const NMLISTVIEW*>(lParam);
                e.item = nm->iItem;
                e.oldState = nm->uOldState;
                e.newState = nm->uNewState;
                e.markAtNotification =
                    static_cast<int>(SendMessageA(header->hwndFrom, LVM_GETSELECTIONMARK, 0, 0));
            }
            script->events.push_back(e);
            SetWindowLongPtrA(dialog, DWLP_MSGRESULT,
                              header->code == LVN_ITEMCHANGING && script->refuseChanges ? TRUE : 0);
            return TRUE;
        }
        case WM_PAINT:
            script->events.push_back({message, 0, 0, 0, 0, 0, -1});
            if (IsIconic(dialog)) {
                PAINTSTRUCT ps;
                HDC dc = BeginPaint(dialog, &ps);
                RECT rc;
                GetClientRect(dialog, &rc);
                DrawIcon(dc, (rc.right - GetSystemMetrics(SM_CXICON) + 1) / 2,
                         (rc.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2,
                         LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kIcon)));
                EndPaint(dialog, &ps);
                return TRUE;
            }
            return FALSE;
        default: return FALSE;
    }
}

INT_PTR RunDialog(int id, DialogScript* script) {
    RegisterTestResources();
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), nullptr, RecordingDialogProc,
                           reinterpret_cast<LPARAM>(script));
}

std::vector<UINT> NotifyCodes(const std::vector<Event>& events, int controlId) {
    std::vector<UINT> codes;
    for (const Event& e : events) {
        if (e.message == WM_NOTIFY && static_cast<int>(e.wParam) == controlId) codes.push_back(e.code);
    }
    return codes;
}

std::vector<int> CommandIds(const std::vector<Event>& events) {
    std::vector<int> ids;
    for (const Event& e : events) {
        if (e.message == WM_COMMAND && HIWORD(e.wParam) == BN_CLICKED) ids.push_back(LOWORD(e.wParam));
    }
    return ids;
}

}  // namespace qvtest
