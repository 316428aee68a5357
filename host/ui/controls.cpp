// The button (push button and group box), edit and static controls, and the
// registration of every built-in class.
#include <windows.h>

#include "dialog_manager.h"
#include "list_view.h"
#include "window_manager.h"

namespace standin {
namespace ui {
namespace {

struct ButtonState : ControlState {
    bool pressed = false;
};

struct EditState : ControlState {
    int selectionStart = 0;
    int selectionEnd = 0;
};

DWORD ButtonType(const Window& w) { return w.style & BS_TYPEMASK; }

void Click(HWND hwnd) {
    Window* w = FindWindowRecord(hwnd);
    if (!w || !w->parent) return;
    SendMessageA(w->parent, WM_COMMAND, MAKEWPARAM(w->id, BN_CLICKED), reinterpret_cast<LPARAM>(hwnd));
}

LRESULT CALLBACK ButtonProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = FindWindowRecord(hwnd);
    if (!w) return 0;
    ButtonState* state = dynamic_cast<ButtonState*>(w->state.get());
    switch (message) {
        case WM_NCCREATE: w->state = std::make_unique<ButtonState>(); return TRUE;
        case WM_GETDLGCODE:
            switch (ButtonType(*w)) {
                case BS_GROUPBOX: return DLGC_STATIC;
                case BS_DEFPUSHBUTTON: return DLGC_BUTTON | DLGC_DEFPUSHBUTTON;
                case BS_PUSHBUTTON: return DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON;
                case BS_RADIOBUTTON:
                case BS_AUTORADIOBUTTON: return DLGC_BUTTON | DLGC_RADIOBUTTON;
                default: return DLGC_BUTTON;
            }
        case WM_LBUTTONDOWN:
            if (ButtonType(*w) == BS_GROUPBOX || !state) return 0;  // a frame, not a target
            if (GetFocus() != hwnd) SetFocus(hwnd);
            if ((state = dynamic_cast<ButtonState*>(w->state.get()))) state->pressed = true;
            InvalidateRect(hwnd, nullptr, TRUE);
            return 0;
        case WM_LBUTTONUP: {
            if (!state || !state->pressed) return 0;
            state->pressed = false;
            InvalidateRect(hwnd, nullptr, TRUE);
            // Released off the button: the press is taken back, nothing is clicked.
            RECT rc;
            GetClientRect(hwnd, &rc);
            const int x = static_cast<SHORT>(LOWORD(lParam)), y = static_cast<SHORT>(HIWORD(lParam));
            if (x >= 0 && y >= 0 && x < rc.right && y < rc.bottom) Click(hwnd);
            return 0;
        }
        case WM_KEYDOWN:
            if (wParam == VK_SPACE && state && ButtonType(*w) != BS_GROUPBOX) state->pressed = true;
            return 0;
        case WM_KEYUP:
            if (wParam == VK_SPACE && state && state->pressed) {
                state->pressed = false;
                Click(hwnd);
            }
            return 0;
        case WM_KILLFOCUS:
            if (state) state->pressed = false;
            return 0;
        case BM_CLICK:
            SendMessageA(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, 0);
            SendMessageA(hwnd, WM_LBUTTONUP, 0, 0);
            return 0;
        case BM_SETSTYLE:
            w->style =
                (w->style & ~static_cast<DWORD>(BS_TYPEMASK)) | (static_cast<DWORD>(wParam) & BS_TYPEMASK);
            if (lParam) InvalidateRect(hwnd, nullptr, TRUE);
            return 0;
        case BM_GETSTATE:
            return (state && state->pressed ? BST_PUSHED : 0) | (GetFocus() == hwnd ? BST_FOCUS : 0);
        default: return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}

LRESULT CALLBACK EditProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = FindWindowRecord(hwnd);
    if (!w) return 0;
    EditState* state = dynamic_cast<EditState*>(w->state.get());
    switch (message) {
        case WM_NCCREATE: w->state = std::make_unique<EditState>(); return TRUE;
        case WM_GETDLGCODE: return DLGC_WANTCHARS | DLGC_HASSETSEL | DLGC_WANTARROWS;
        case WM_LBUTTONDOWN:
            if (GetFocus() != hwnd) SetFocus(hwnd);
            return 0;
        case EM_SETREADONLY:
            if (wParam)
                w->style |= ES_READONLY;
            else
                w->style &= ~static_cast<DWORD>(ES_READONLY);
            return TRUE;
        case EM_SETSEL:
            if (state) {
                int length = static_cast<int>(w->text.size());
                int start = static_cast<int>(wParam), end = static_cast<int>(lParam);
                if (start < 0) start = end = 0;
                if (end < 0 || end > length) end = length;
                state->selectionStart = std::min(start, length);
                state->selectionEnd = end;
            }
            return 0;
        case EM_GETSEL: return state ? MAKELONG(state->selectionStart, state->selectionEnd) : 0;
        case WM_CHAR:
            if (w->style & ES_READONLY) return 0;
            if (wParam == VK_BACK) {
                if (!w->text.empty()) w->text.pop_back();
            } else if (wParam >= 0x20 && wParam < 0x100) {
                w->text += static_cast<char>(wParam);
            }
            InvalidateRect(hwnd, nullptr, TRUE);
            return 0;
        default: return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}

LRESULT CALLBACK StaticProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_GETDLGCODE) return DLGC_STATIC;
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace

void EnsureBuiltinClasses() {
    static bool done = false;
    if (done) return;
    done = true;
    RegisterBuiltinClass("Button", ButtonProc);
    RegisterBuiltinClass("Edit", EditProc);
    RegisterBuiltinClass("Static", StaticProc);
    RegisterBuiltinClass("#32770", DefDlgProcA);
    RegisterListViewClass();
}

}  // namespace ui
}  // namespace standin
