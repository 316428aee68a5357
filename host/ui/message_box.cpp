// Message boxes and the choice of the active front end.
#include <windows.h>

#include "front_end.h"
#include "window_manager.h"

namespace standin {
namespace ui {
namespace {

FrontEnd*& Active() {
    static FrontEnd* frontEnd = nullptr;
    return frontEnd;
}

}  // namespace

void SetFrontEnd(FrontEnd* frontEnd) { Active() = frontEnd; }
FrontEnd* CurrentFrontEnd() { return Active(); }

int DefaultMessageBoxAnswer(UINT type) {
    switch (type & MB_TYPEMASK) {
        case MB_ABORTRETRYIGNORE: return IDABORT;
        case MB_YESNOCANCEL:
        case MB_YESNO: return IDYES;
        case MB_RETRYCANCEL: return IDRETRY;
        default: return IDOK;
    }
}

}  // namespace ui
}  // namespace standin

extern "C" int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    using namespace standin::ui;
    // Windows shows "Error" as the caption of a box that brings none.
    std::string title = caption ? caption : "Error";
    std::string body = text ? text : "";
    HWND focus = GetFocus();
    FrontEnd* frontEnd = CurrentFrontEnd();
    int answer =
        frontEnd ? frontEnd->ShowMessageBox(owner, title, body, type) : DefaultMessageBoxAnswer(type);
    // The box is modal: focus comes back to where it was when it closes.
    if (focus && IsWindow(focus) && GetFocus() != focus) ChangeFocus(focus);
    return answer;
}
