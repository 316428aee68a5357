// Dialogs from templates, the modal loop, the default dialog procedure and
// the dialog keyboard interface.
#include "dialog_manager.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>

#include "dialog_template.h"
#include "front_end.h"
#include "resources.h"
#include "text_width.h"

namespace standin {
namespace ui {
namespace {

int MulDiv(int value, int numerator, int denominator) {
    long long product = static_cast<long long>(value) * numerator;
    long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator : (product - half) / denominator);
}

bool IsSpecialReturn(UINT message) {
    switch (message) {
        case WM_INITDIALOG:
        case WM_QUERYDRAGICON:
        case 0x0039:  // WM_COMPAREITEM
        case 0x002E:  // WM_VKEYTOITEM
        case 0x002F:  // WM_CHARTOITEM
        case 0x030F:  // WM_QUERYNEWPALETTE
            return true;
        default: return message >= 0x0132 && message <= 0x0138;  // WM_CTLCOLOR*
    }
}

bool IsChildOf(HWND dialog, HWND hwnd) {
    for (Window* w = FindWindowRecord(hwnd); w; w = FindWindowRecord(w->parent)) {
        if (w->parent == dialog) return true;
    }
    return false;
}

bool Focusable(HWND hwnd) {
    Window* w = FindWindowRecord(hwnd);
    return w && (w->style & WS_VISIBLE) && !(w->style & WS_DISABLED);
}

UINT DialogCode(HWND hwnd) { return static_cast<UINT>(SendMessageA(hwnd, WM_GETDLGCODE, 0, 0)); }

std::vector<HWND> Controls(HWND dialog) {
    Window* w = FindWindowRecord(dialog);
    return w ? w->children : std::vector<HWND>();
}

// The id Enter activates and its control (which may be absent).
HWND DefaultButtonAndId(HWND dialog, int* id) {
    HWND focus = GetFocus();
    if (focus && IsChildOf(dialog, focus) &&
        (DialogCode(focus) & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON))) {
        *id = GetDlgCtrlID(focus);
        return focus;
    }
    LRESULT def = SendMessageA(dialog, DM_GETDEFID, 0, 0);
    *id = HIWORD(def) == DC_HASDEFID ? LOWORD(def) : IDOK;
    return GetDlgItem(dialog, *id);
}

// Builds the dialog window and its controls; null when the template is bad
// or a control's class does not exist.
HWND CreateFromTemplate(HINSTANCE instance, const DialogTemplate& t, HWND parent, DLGPROC proc) {
    int unitX = 8, unitY = 16;  // the system font, for templates without a font
    if (t.hasFont) {
        unitX = MulDiv(kBaseUnitX, t.pointSize, 8);
        unitY = MulDiv(kBaseUnitY, t.pointSize, 8);
    }
    const int frame = 4, caption = 22;
    int width = MulDiv(t.cx, unitX, 4);
    int height = MulDiv(t.cy, unitY, 8);
    DWORD style = t.style & ~static_cast<DWORD>(WS_VISIBLE);
    if (style & (WS_THICKFRAME | WS_DLGFRAME | WS_CAPTION)) {
        width += 2 * frame;
        height += 2 * frame;
    }
    if ((style & WS_CAPTION) == WS_CAPTION) height += caption;
    HWND dialog = CreateWindowExA(t.exStyle, "#32770", t.title.c_str(), style, MulDiv(t.x, unitX, 4),
                                  MulDiv(t.y, unitY, 8), width, height, parent, nullptr, instance, nullptr);
    if (!dialog) return nullptr;
    Window* w = FindWindowRecord(dialog);
    auto state = std::make_unique<DialogState>();
    state->baseUnitX = unitX;
    state->baseUnitY = unitY;
    w->state = std::move(state);
    SetWindowLongPtrA(dialog, DWLP_DLGPROC, reinterpret_cast<LONG_PTR>(proc));

    for (const DialogItem& item : t.items) {
        const char* text = item.textIsOrdinal ? "" : item.text.c_str();
        void* creation =
            item.creationData.empty() ? nullptr : const_cast<unsigned char*>(item.creationData.data());
        HWND control = CreateWindowExA(
            item.exStyle, item.className.c_str(), text, item.style | WS_CHILD, MulDiv(item.x, unitX, 4),
            MulDiv(item.y, unitY, 8), MulDiv(item.cx, unitX, 4), MulDiv(item.cy, unitY, 8), dialog,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(static_cast<int>(item.id))), instance, creation);
        if (!control) {
            fprintf(stderr, "quorvenal: dialog control %d of class \"%s\" cannot be created\n",
                    static_cast<int>(item.id), item.className.c_str());
            DestroyWindow(dialog);
            return nullptr;
        }
        SendMessageA(control, WM_SETFONT, 0, 0);
        DialogState* ds = DialogOf(dialog);
        if (ds && ds->defaultId == 0 && (DialogCode(control) & DLGC_DEFPUSHBUTTON))
            ds->defaultId = static_cast<int>(item.id);
    }
    return dialog;
}

INT_PTR RunModal(HINSTANCE instance, const void* data, size_t size, HWND parent, DLGPROC proc, LPARAM param) {
    FrontEnd* frontEnd = CurrentFrontEnd();
    DialogTemplate t;
    std::string error;
    HWND dialog = nullptr;
    if (ParseDialogTemplate(data, size, &t, &error)) {
        dialog = CreateFromTemplate(instance, t, parent, proc);
    } else {
        fprintf(stderr, "quorvenal: dialog template is malformed: %s\n", error.c_str());
    }
    if (!dialog) {
        if (frontEnd) frontEnd->DialogEnded(nullptr, -1);
        return -1;
    }
    HWND firstTab = GetNextDlgTabItem(dialog, nullptr, FALSE);
    if (SendMessageA(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(firstTab), param)) {
        HWND focus = GetNextDlgTabItem(dialog, nullptr, FALSE);
        if (focus && IsWindow(dialog)) DialogSetFocus(dialog, focus);
    }
    if (IsWindow(dialog) && DialogOf(dialog) && !DialogOf(dialog)->ended) ShowWindow(dialog, SW_SHOWNORMAL);

    bool closePressed = false;
    for (;;) {
        DialogState* state = DialogOf(dialog);
        if (!state || state->ended) break;
        if (DispatchOnePostedMessage()) continue;
        PaintInvalidWindows();
        state = DialogOf(dialog);
        if (!state || state->ended) break;
        frontEnd = CurrentFrontEnd();
        if (frontEnd && frontEnd->NextInput(dialog)) continue;
        if (!closePressed) {
            closePressed = true;
            SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
            continue;
        }
        // No more input and the close box did not end it: nothing can end it now.
        while (DispatchOnePostedMessage()) {
        }
        state = DialogOf(dialog);
        if (!state || state->ended) break;
        fprintf(stderr, "quorvenal: the dialog did not end at its close box and no input is left\n");
        state->ended = true;
        state->result = -1;
    }
    DialogState* state = DialogOf(dialog);
    INT_PTR result = state ? state->result : -1;
    DestroyWindow(dialog);
    frontEnd = CurrentFrontEnd();
    if (frontEnd) frontEnd->DialogEnded(dialog, result);
    return result;
}

}  // namespace

DialogState* DialogOf(HWND hwnd) {
    Window* w = FindWindowRecord(hwnd);
    return w ? dynamic_cast<DialogState*>(w->state.get()) : nullptr;
}

bool IsDialog(HWND hwnd) { return DialogOf(hwnd) != nullptr; }

HWND DialogOfControl(HWND hwnd) {
    for (Window* w = FindWindowRecord(hwnd); w; w = FindWindowRecord(w->parent)) {
        if (dynamic_cast<DialogState*>(w->state.get())) return w->handle;
    }
    return nullptr;
}

void DialogSetFocus(HWND dialog, HWND control) {
    if (!control) return;
    SetFocus(control);
    if (DialogCode(control) & DLGC_HASSETSEL) SendMessageA(control, EM_SETSEL, 0, -1);
    if (DialogState* state = DialogOf(dialog)) state->lastFocus = control;
}

HWND CurrentDefaultButton(HWND dialog) {
    int id;
    return DefaultButtonAndId(dialog, &id);
}

void DialogKey(HWND dialog, int key) {
    HWND focus = GetFocus();
    if (focus && !IsChildOf(dialog, focus)) focus = nullptr;
    UINT code = focus ? DialogCode(focus) : 0;
    const bool shift = GetKeyState(VK_SHIFT) < 0;
    switch (key) {
        case VK_TAB:
            if (!(code & (DLGC_WANTTAB | DLGC_WANTALLKEYS))) {
                HWND next = GetNextDlgTabItem(dialog, focus, shift ? TRUE : FALSE);
                if (next) DialogSetFocus(dialog, next);
                return;
            }
            break;
        case VK_LEFT:
        case VK_UP:
        case VK_RIGHT:
        case VK_DOWN:
            if (!(code & (DLGC_WANTARROWS | DLGC_WANTALLKEYS))) {
                HWND next =
                    GetNextDlgGroupItem(dialog, focus, (key == VK_LEFT || key == VK_UP) ? TRUE : FALSE);
                if (next && next != focus) DialogSetFocus(dialog, next);
                return;
            }
            break;
        case VK_RETURN:
            if (!(code & DLGC_WANTALLKEYS)) {
                int id;
                HWND button = DefaultButtonAndId(dialog, &id);
                if (button && !IsWindowEnabled(button)) return;
                SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                             reinterpret_cast<LPARAM>(button));
                return;
            }
            break;
        case VK_ESCAPE:
            if (!(code & DLGC_WANTALLKEYS)) {
                HWND cancel = GetDlgItem(dialog, IDCANCEL);
                if (cancel && !IsWindowEnabled(cancel)) return;
                SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                             reinterpret_cast<LPARAM>(cancel));
                return;
            }
            break;
        default: break;
    }
    HWND target = focus ? focus : dialog;
    SendMessageA(target, WM_KEYDOWN, static_cast<WPARAM>(key), 1);
    if (IsWindow(target))
        SendMessageA(target, WM_KEYUP, static_cast<WPARAM>(key), static_cast<LPARAM>(0xC0000001u));
}

}  // namespace ui
}  // namespace standin

using namespace standin::ui;

extern "C" {

INT_PTR WINAPI DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND parent, DLGPROC dialogProc,
                               LPARAM initParam) {
    HRSRC resource = FindResourceA(instance, templateName, RT_DIALOG);
    HGLOBAL loaded = resource ? LoadResource(instance, resource) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    DWORD size = resource ? SizeofResource(instance, resource) : 0;
    if (!data || size == 0) {
        if (FrontEnd* frontEnd = CurrentFrontEnd()) frontEnd->DialogEnded(nullptr, -1);
        return -1;
    }
    return RunModal(instance, data, size, parent, dialogProc, initParam);
}

INT_PTR WINAPI DialogBoxIndirectParamA(HINSTANCE instance, LPCVOID dialogTemplate, HWND parent,
                                       DLGPROC dialogProc, LPARAM initParam) {
    // The length is not passed: a template inside a loaded resource is bounded
    // by that resource; any other the caller vouches for, up to 64 KiB.
    size_t size = dialogTemplate ? ResourceBytesFrom(dialogTemplate) : 0;
    if (dialogTemplate && size == 0) size = 0xFFFF;
    return RunModal(instance, dialogTemplate, size, parent, dialogProc, initParam);
}

BOOL WINAPI EndDialog(HWND dialog, INT_PTR result) {
    DialogState* state = DialogOf(dialog);
    if (!state) return FALSE;
    state->ended = true;
    state->result = result;
    return TRUE;
}

LRESULT WINAPI DefDlgProcA(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = FindWindowRecord(dialog);
    if (!w) return 0;
    DLGPROC proc = reinterpret_cast<DLGPROC>(GetWindowLongPtrA(dialog, DWLP_DLGPROC));
    if (proc) {
        SetWindowLongPtrA(dialog, DWLP_MSGRESULT, 0);
        INT_PTR handled = proc(dialog, message, wParam, lParam);
        if (handled || !IsWindow(dialog)) {
            if (IsSpecialReturn(message)) return handled;
            return IsWindow(dialog) ? GetWindowLongPtrA(dialog, DWLP_MSGRESULT) : 0;
        }
    }
    DialogState* state = DialogOf(dialog);
    switch (message) {
        case WM_ERASEBKGND: return 1;
        case DM_GETDEFID: return state && state->defaultId ? MAKELRESULT(state->defaultId, DC_HASDEFID) : 0;
        case DM_SETDEFID:
            if (state) state->defaultId = static_cast<int>(wParam);
            return TRUE;
        case WM_SETFOCUS: {
            HWND restore = state && IsWindow(state->lastFocus) ? state->lastFocus
                                                               : GetNextDlgTabItem(dialog, nullptr, FALSE);
            if (restore) DialogSetFocus(dialog, restore);
            return 0;
        }
        case WM_CLOSE: {
            HWND cancel = GetDlgItem(dialog, IDCANCEL);
            if (cancel && !IsWindowEnabled(cancel)) return 0;
            PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                         reinterpret_cast<LPARAM>(cancel));
            return 0;
        }
        case WM_INITDIALOG:
        case WM_COMMAND:
        case WM_NOTIFY: return 0;
        default: return DefWindowProcA(dialog, message, wParam, lParam);
    }
}

HWND WINAPI GetDlgItem(HWND dialog, int id) {
    for (HWND child : standin::ui::Controls(dialog)) {
        Window* w = FindWindowRecord(child);
        if (w && w->id == id) return child;
    }
    return nullptr;
}

int WINAPI GetDlgCtrlID(HWND hwnd) {
    Window* w = FindWindowRecord(hwnd);
    return w && (w->style & WS_CHILD) ? w->id : 0;
}

LRESULT WINAPI SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND control = GetDlgItem(dialog, id);
    return control ? SendMessageA(control, message, wParam, lParam) : 0;
}

BOOL WINAPI SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
    HWND control = GetDlgItem(dialog, id);
    return control ? SetWindowTextA(control, text) : FALSE;
}

UINT WINAPI GetDlgItemTextA(HWND dialog, int id, LPSTR buffer, int size) {
    HWND control = GetDlgItem(dialog, id);
    if (!control) {
        if (buffer && size > 0) buffer[0] = '\0';
        return 0;
    }
    return static_cast<UINT>(GetWindowTextA(control, buffer, size));
}

HWND WINAPI GetNextDlgTabItem(HWND dialog, HWND control, BOOL previous) {
    std::vector<HWND> items = standin::ui::Controls(dialog);
    const int n = static_cast<int>(items.size());
    if (n == 0) return nullptr;
    int start = -1;
    for (int i = 0; i < n; ++i) {
        if (items[i] == control) start = i;
    }
    auto isStop = [](HWND hwnd) {
        Window* w = FindWindowRecord(hwnd);
        return w && (w->style & WS_TABSTOP) && standin::ui::Focusable(hwnd);
    };
    for (int step = 1; step <= n; ++step) {
        int i;
        if (start < 0)
            i = previous ? n - step : step - 1;
        else
            i = ((previous ? start - step : start + step) % n + n) % n;
        if (isStop(items[i])) return items[i];
    }
    return control;
}

HWND WINAPI GetNextDlgGroupItem(HWND dialog, HWND control, BOOL previous) {
    std::vector<HWND> items = standin::ui::Controls(dialog);
    const int n = static_cast<int>(items.size());
    int at = -1;
    for (int i = 0; i < n; ++i) {
        if (items[i] == control) at = i;
    }
    if (at < 0) return GetNextDlgTabItem(dialog, nullptr, previous);
    auto hasGroup = [&](int i) {
        Window* w = FindWindowRecord(items[i]);
        return w && (w->style & WS_GROUP);
    };
    int first = at;
    while (first > 0 && !hasGroup(first)) --first;
    int last = at + 1;
    while (last < n && !hasGroup(last)) ++last;
    const int size = last - first;
    for (int step = 1; step < size; ++step) {
        int offset = ((at - first) + (previous ? -step : step)) % size;
        if (offset < 0) offset += size;
        HWND candidate = items[first + offset];
        if (standin::ui::Focusable(candidate) && !(standin::ui::DialogCode(candidate) & DLGC_STATIC))
            return candidate;
    }
    return control;
}

BOOL WINAPI MapDialogRect(HWND dialog, LPRECT rect) {
    DialogState* state = DialogOf(dialog);
    if (!state || !rect) return FALSE;
    rect->left = standin::ui::MulDiv(rect->left, state->baseUnitX, 4);
    rect->right = standin::ui::MulDiv(rect->right, state->baseUnitX, 4);
    rect->top = standin::ui::MulDiv(rect->top, state->baseUnitY, 8);
    rect->bottom = standin::ui::MulDiv(rect->bottom, state->baseUnitY, 8);
    return TRUE;
}

LONG WINAPI GetDialogBaseUnits(void) { return MAKELONG(8, 16); }

}  // extern "C"
