// Window records, classes, messages, focus and the generic window procedure.
#include "window_manager.h"

#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>

namespace standin {
namespace ui {
namespace {

struct PostedMessage {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

struct Registry {
    std::map<HWND, std::unique_ptr<Window>> windows;
    std::vector<std::unique_ptr<Window>> destroyed;  // kept: a handler may still run on them
    std::vector<HWND> creationOrder;
    std::map<std::string, WNDPROC> classes;  // lower-case name -> procedure
    std::map<std::string, std::string> classSpelling;
    std::deque<PostedMessage> posted;
    uintptr_t nextHandle = 0x10010;
    HWND focus = nullptr;
    bool keyDown[256] = {};
};

Registry& State() {
    static Registry registry;
    return registry;
}

std::string Lower(const std::string& text) {
    std::string out = text;
    for (char& c : out) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return out;
}

// Frame sizes of a top-level window: thick or dialog frame, caption bar.
const int kFrame = 4;
const int kCaption = 22;
// A minimised window is a classic icon-sized box; its sides are odd and
// unequal, so that a program centring its icon shows how it rounds each way.
const int kIconicWidth = 37;
const int kIconicHeight = 35;

void ClientSize(const Window& w, LONG* width, LONG* height) {
    if (w.iconic) {
        *width = kIconicWidth;
        *height = kIconicHeight;
        return;
    }
    LONG cx = w.rect.right - w.rect.left;
    LONG cy = w.rect.bottom - w.rect.top;
    if (!(w.style & WS_CHILD)) {
        if (w.style & (WS_THICKFRAME | WS_DLGFRAME | WS_CAPTION)) {
            cx -= 2 * kFrame;
            cy -= 2 * kFrame;
        }
        if ((w.style & WS_CAPTION) == WS_CAPTION) cy -= kCaption;
    } else {
        int edge = 0;
        if (w.style & WS_BORDER) edge += 1;
        if (w.exStyle & WS_EX_CLIENTEDGE) edge += 2;
        cx -= 2 * edge;
        cy -= 2 * edge;
    }
    *width = std::max<LONG>(cx, 0);
    *height = std::max<LONG>(cy, 0);
}

size_t CopyText(const std::string& text, char* buffer, size_t size) {
    if (!buffer || size == 0) return 0;
    size_t n = std::min(text.size(), size - 1);
    memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return n;
}

void DestroyRecursive(HWND hwnd) {
    Registry& r = State();
    Window* w = FindWindowRecord(hwnd);
    if (!w || w->destroyed) return;
    w->destroyed = true;
    if (r.focus == hwnd) r.focus = nullptr;
    SendMessageA(hwnd, WM_DESTROY, 0, 0);
    std::vector<HWND> children = w->children;
    for (HWND child : children) DestroyRecursive(child);
    w->proc(hwnd, WM_NCDESTROY, 0, 0);
    DiscardPostedMessages(hwnd);
    if (Window* parent = FindWindowRecord(w->parent)) {
        auto& list = parent->children;
        list.erase(std::remove(list.begin(), list.end(), hwnd), list.end());
    }
    r.creationOrder.erase(std::remove(r.creationOrder.begin(), r.creationOrder.end(), hwnd),
                          r.creationOrder.end());
    auto it = r.windows.find(hwnd);
    r.destroyed.push_back(std::move(it->second));
    r.windows.erase(it);
}

}  // namespace

Window* FindWindowRecord(HWND hwnd) {
    if (!hwnd) return nullptr;
    auto& windows = State().windows;
    auto it = windows.find(hwnd);
    return it == windows.end() ? nullptr : it->second.get();
}

std::vector<HWND> TopLevelWindows() {
    std::vector<HWND> out;
    for (HWND hwnd : State().creationOrder) {
        Window* w = FindWindowRecord(hwnd);
        if (w && !w->parent) out.push_back(hwnd);
    }
    return out;
}

void RegisterBuiltinClass(const std::string& name, WNDPROC proc) {
    State().classes[Lower(name)] = proc;
    State().classSpelling[Lower(name)] = name;
}

std::string ClassNameOfAtom(WORD atom) {
    switch (atom) {
        case 0x0080: return "Button";
        case 0x0081: return "Edit";
        case 0x0082: return "Static";
        case 0x0083: return "ListBox";
        case 0x0084: return "ScrollBar";
        case 0x0085: return "ComboBox";
        default: return "";
    }
}

LRESULT NotifyParent(HWND control, NMHDR* header, UINT code) {
    Window* w = FindWindowRecord(control);
    if (!w) return 0;
    header->hwndFrom = control;
    header->idFrom = static_cast<UINT_PTR>(static_cast<UINT>(w->id));
    header->code = code;
    if (!w->parent) return 0;
    return SendMessageA(w->parent, WM_NOTIFY, header->idFrom, reinterpret_cast<LPARAM>(header));
}

bool DispatchOnePostedMessage() {
    Registry& r = State();
    if (r.posted.empty()) return false;
    PostedMessage m = r.posted.front();
    r.posted.pop_front();
    if (FindWindowRecord(m.hwnd)) SendMessageA(m.hwnd, m.message, m.wParam, m.lParam);
    return true;
}

void DiscardPostedMessages(HWND hwnd) {
    auto& q = State().posted;
    q.erase(std::remove_if(q.begin(), q.end(), [hwnd](const PostedMessage& m) { return m.hwnd == hwnd; }),
            q.end());
}

void PaintInvalidWindows() {
    std::vector<HWND> order = State().creationOrder;
    for (HWND hwnd : order) {
        Window* w = FindWindowRecord(hwnd);
        if (!w || !w->needsPaint || !(w->style & WS_VISIBLE)) continue;
        w->needsPaint = false;  // one WM_PAINT per invalidation, painted or not
        w->paintCount++;
        SendMessageA(hwnd, WM_PAINT, 0, 0);
    }
}

void SetKeyDown(int virtualKey, bool down) {
    if (virtualKey >= 0 && virtualKey < 256) State().keyDown[virtualKey] = down;
}

HWND ChangeFocus(HWND hwnd) {
    Registry& r = State();
    HWND old = r.focus;
    if (hwnd == old) return old;
    if (hwnd && !FindWindowRecord(hwnd)) return nullptr;
    r.focus = hwnd;
    if (old && FindWindowRecord(old)) SendMessageA(old, WM_KILLFOCUS, reinterpret_cast<WPARAM>(hwnd), 0);
    if (hwnd && r.focus == hwnd) SendMessageA(hwnd, WM_SETFOCUS, reinterpret_cast<WPARAM>(old), 0);
    return old;
}

void ResetWindowManager() {
    Registry& r = State();
    std::vector<HWND> top = TopLevelWindows();
    for (HWND hwnd : top) DestroyRecursive(hwnd);
    r.posted.clear();
    r.focus = nullptr;
    std::fill(std::begin(r.keyDown), std::end(r.keyDown), false);
}

}  // namespace ui
}  // namespace standin

using standin::ui::FindWindowRecord;
using standin::ui::Window;

extern "C" {

ATOM WINAPI RegisterClassA(const WNDCLASSA* wndClass) {
    if (!wndClass || !wndClass->lpszClassName || !wndClass->lpfnWndProc ||
        IS_INTRESOURCE(wndClass->lpszClassName))
        return 0;
    standin::ui::EnsureBuiltinClasses();
    std::string key = standin::ui::Lower(wndClass->lpszClassName);
    auto& classes = standin::ui::State().classes;
    if (classes.count(key)) return 0;
    standin::ui::RegisterBuiltinClass(wndClass->lpszClassName, wndClass->lpfnWndProc);
    return static_cast<ATOM>(0xC000 + classes.size());
}

HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                            int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                            LPVOID param) {
    using namespace standin::ui;
    EnsureBuiltinClasses();
    Registry& r = State();
    std::string name;
    if (!className) return nullptr;
    if (IS_INTRESOURCE(className))
        name = ClassNameOfAtom(static_cast<WORD>(reinterpret_cast<ULONG_PTR>(className)));
    else
        name = className;
    auto cls = r.classes.find(Lower(name));
    if (cls == r.classes.end()) return nullptr;
    if (parent && !FindWindowRecord(parent)) return nullptr;
    if ((style & WS_CHILD) && !parent) return nullptr;

    auto record = std::make_unique<Window>();
    HWND hwnd = reinterpret_cast<HWND>(r.nextHandle);
    r.nextHandle += 4;
    record->handle = hwnd;
    record->className = r.classSpelling[Lower(name)];
    record->text = windowName && !IS_INTRESOURCE(windowName) ? windowName : "";
    record->style = style;
    record->exStyle = exStyle;
    record->id = (style & WS_CHILD) ? static_cast<int>(reinterpret_cast<INT_PTR>(menu)) : 0;
    record->parent = parent;
    record->rect = {x, y, x + std::max(width, 0), y + std::max(height, 0)};
    record->proc = cls->second;
    record->instance = instance;
    record->needsPaint = true;
    r.windows[hwnd] = std::move(record);
    r.creationOrder.push_back(hwnd);
    if (Window* p = FindWindowRecord(parent)) {
        if (style & WS_CHILD) p->children.push_back(hwnd);
    }

    CREATESTRUCTA create;
    memset(&create, 0, sizeof(create));
    create.lpCreateParams = param;
    create.hInstance = instance;
    create.hMenu = menu;
    create.hwndParent = parent;
    create.x = x;
    create.y = y;
    create.cx = width;
    create.cy = height;
    create.style = static_cast<LONG>(style);
    create.lpszName = windowName;
    create.lpszClass = className;
    create.dwExStyle = exStyle;
    if (!SendMessageA(hwnd, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&create)) ||
        SendMessageA(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
        DestroyRecursive(hwnd);
        return nullptr;
    }
    return hwnd;
}

BOOL WINAPI DestroyWindow(HWND hwnd) {
    if (!FindWindowRecord(hwnd)) return FALSE;
    standin::ui::DestroyRecursive(hwnd);
    return TRUE;
}

BOOL WINAPI IsWindow(HWND hwnd) { return FindWindowRecord(hwnd) != nullptr; }

BOOL WINAPI IsWindowVisible(HWND hwnd) {
    for (Window* w = FindWindowRecord(hwnd); w; w = FindWindowRecord(w->parent)) {
        if (!(w->style & WS_VISIBLE)) return FALSE;
        if (!w->parent) return TRUE;
    }
    return FALSE;
}

BOOL WINAPI IsWindowEnabled(HWND hwnd) {
    Window* w = FindWindowRecord(hwnd);
    return w && !(w->style & WS_DISABLED);
}

BOOL WINAPI EnableWindow(HWND hwnd, BOOL enable) {
    Window* w = FindWindowRecord(hwnd);
    if (!w) return FALSE;
    BOOL wasDisabled = (w->style & WS_DISABLED) != 0;
    if (enable)
        w->style &= ~static_cast<DWORD>(WS_DISABLED);
    else
        w->style |= WS_DISABLED;
    if (wasDisabled == !enable) return wasDisabled;
    if (!enable && standin::ui::State().focus == hwnd) standin::ui::ChangeFocus(nullptr);
    SendMessageA(hwnd, WM_ENABLE, enable ? TRUE : FALSE, 0);
    w->needsPaint = true;
    return wasDisabled;
}

BOOL WINAPI ShowWindow(HWND hwnd, int command) {
    Window* w = FindWindowRecord(hwnd);
    if (!w) return FALSE;
    BOOL wasVisible = (w->style & WS_VISIBLE) != 0;
    switch (command) {
        case SW_HIDE: w->style &= ~static_cast<DWORD>(WS_VISIBLE); return wasVisible;
        case SW_MINIMIZE:
        case SW_SHOWMINIMIZED:
        case SW_SHOWMINNOACTIVE:
            w->style |= WS_VISIBLE;
            if (!w->iconic && !(w->style & WS_CHILD)) {
                w->iconic = true;
                w->style |= WS_MINIMIZE;
                SendMessageA(hwnd, WM_SIZE, SIZE_MINIMIZED, 0);
            }
            break;
        case SW_MAXIMIZE:
            w->style |= WS_VISIBLE;
            if (!(w->style & WS_CHILD)) {
                w->iconic = false;
                w->style &= ~static_cast<DWORD>(WS_MINIMIZE);
                w->zoomed = true;
                w->style |= WS_MAXIMIZE;
                SendMessageA(hwnd, WM_SIZE, SIZE_MAXIMIZED, 0);
            }
            break;
        case SW_RESTORE:
        case SW_SHOWNORMAL:
            w->style |= WS_VISIBLE;
            if (w->iconic || w->zoomed) {
                w->iconic = false;
                w->zoomed = false;
                w->style &= ~static_cast<DWORD>(WS_MINIMIZE | WS_MAXIMIZE);
                SendMessageA(hwnd, WM_SIZE, SIZE_RESTORED, 0);
            }
            break;
        default: w->style |= WS_VISIBLE; break;
    }
    w->needsPaint = true;
    for (HWND child : w->children) {
        if (Window* c = FindWindowRecord(child)) c->needsPaint = true;
    }
    return wasVisible;
}

BOOL WINAPI IsIconic(HWND hwnd) {
    Window* w = FindWindowRecord(hwnd);
    return w && w->iconic;
}

BOOL WINAPI IsZoomed(HWND hwnd) {
    Window* w = FindWindowRecord(hwnd);
    return w && w->zoomed;
}

HWND WINAPI GetParent(HWND hwnd) {
    Window* w = FindWindowRecord(hwnd);
    return w ? w->parent : nullptr;
}

int WINAPI GetClassNameA(HWND hwnd, LPSTR buffer, int size) {
    Window* w = FindWindowRecord(hwnd);
    if (!w || size <= 0) return 0;
    return static_cast<int>(standin::ui::CopyText(w->className, buffer, static_cast<size_t>(size)));
}

BOOL WINAPI GetClientRect(HWND hwnd, LPRECT rect) {
    Window* w = FindWindowRecord(hwnd);
    if (!w || !rect) return FALSE;
    rect->left = rect->top = 0;
    standin::ui::ClientSize(*w, &rect->right, &rect->bottom);
    return TRUE;
}

BOOL WINAPI GetWindowRect(HWND hwnd, LPRECT rect) {
    Window* w = FindWindowRecord(hwnd);
    if (!w || !rect) return FALSE;
    if (w->iconic) {
        *rect = {w->rect.left, w->rect.top, w->rect.left + standin::ui::kIconicWidth,
                 w->rect.top + standin::ui::kIconicHeight};
        return TRUE;
    }
    // Screen coordinates: add the client origins of the ancestors.
    RECT out = w->rect;
    for (Window* p = FindWindowRecord(w->parent); p; p = FindWindowRecord(p->parent)) {
        LONG dx = p->rect.left, dy = p->rect.top;
        if (!(p->style & WS_CHILD)) {
            if (p->style & (WS_THICKFRAME | WS_DLGFRAME | WS_CAPTION)) {
                dx += standin::ui::kFrame;
                dy += standin::ui::kFrame;
            }
            if ((p->style & WS_CAPTION) == WS_CAPTION) dy += standin::ui::kCaption;
        }
        out.left += dx;
        out.right += dx;
        out.top += dy;
        out.bottom += dy;
    }
    *rect = out;
    return TRUE;
}

BOOL WINAPI InvalidateRect(HWND hwnd, const RECT*, BOOL) {
    Window* w = FindWindowRecord(hwnd);
    if (!w) return FALSE;
    w->needsPaint = true;
    return TRUE;
}

BOOL WINAPI UpdateWindow(HWND hwnd) {
    Window* w = FindWindowRecord(hwnd);
    if (!w) return FALSE;
    if (w->needsPaint && (w->style & WS_VISIBLE)) {
        w->needsPaint = false;
        w->paintCount++;
        SendMessageA(hwnd, WM_PAINT, 0, 0);
    }
    return TRUE;
}

BOOL WINAPI SetWindowTextA(HWND hwnd, LPCSTR text) {
    if (!FindWindowRecord(hwnd)) return FALSE;
    return SendMessageA(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text ? text : "")) != 0;
}

int WINAPI GetWindowTextA(HWND hwnd, LPSTR buffer, int size) {
    if (!FindWindowRecord(hwnd) || !buffer || size <= 0) return 0;
    return static_cast<int>(
        SendMessageA(hwnd, WM_GETTEXT, static_cast<WPARAM>(size), reinterpret_cast<LPARAM>(buffer)));
}

int WINAPI GetWindowTextLengthA(HWND hwnd) {
    if (!FindWindowRecord(hwnd)) return 0;
    return static_cast<int>(SendMessageA(hwnd, WM_GETTEXTLENGTH, 0, 0));
}

LONG_PTR WINAPI GetWindowLongPtrA(HWND hwnd, int index) {
    Window* w = FindWindowRecord(hwnd);
    if (!w) return 0;
    switch (index) {
        case GWLP_WNDPROC: return reinterpret_cast<LONG_PTR>(w->proc);
        case GWLP_HINSTANCE: return reinterpret_cast<LONG_PTR>(w->instance);
        case GWLP_HWNDPARENT: return reinterpret_cast<LONG_PTR>(w->parent);
        case GWLP_ID: return w->id;
        case GWL_STYLE: return static_cast<LONG_PTR>(static_cast<LONG>(w->style));
        case GWL_EXSTYLE: return static_cast<LONG_PTR>(static_cast<LONG>(w->exStyle));
        case GWLP_USERDATA: return w->userData;
        default: break;
    }
    // Extra bytes (DWLP_* of a dialog) by non-negative offset.
    if (index < 0) return 0;
    auto it = w->extra.find(index);
    return it == w->extra.end() ? 0 : it->second;
}

LONG_PTR WINAPI SetWindowLongPtrA(HWND hwnd, int index, LONG_PTR value) {
    Window* w = FindWindowRecord(hwnd);
    if (!w) return 0;
    LONG_PTR old = GetWindowLongPtrA(hwnd, index);
    switch (index) {
        case GWLP_WNDPROC:
            if (value) w->proc = reinterpret_cast<WNDPROC>(value);
            return old;
        case GWLP_HINSTANCE: w->instance = reinterpret_cast<HINSTANCE>(value); return old;
        case GWLP_ID: w->id = static_cast<int>(value); return old;
        case GWL_STYLE:
            w->style = static_cast<DWORD>(value);
            w->needsPaint = true;
            return old;
        case GWL_EXSTYLE: w->exStyle = static_cast<DWORD>(value); return old;
        case GWLP_USERDATA: w->userData = value; return old;
        default: break;
    }
    if (index < 0) return 0;
    w->extra[index] = value;
    return old;
}

LONG WINAPI GetWindowLongA(HWND hwnd, int index) { return static_cast<LONG>(GetWindowLongPtrA(hwnd, index)); }

LONG WINAPI SetWindowLongA(HWND hwnd, int index, LONG value) {
    return static_cast<LONG>(SetWindowLongPtrA(hwnd, index, value));
}

LRESULT WINAPI SendMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = FindWindowRecord(hwnd);
    if (!w || !w->proc) return 0;
    return w->proc(hwnd, message, wParam, lParam);
}

BOOL WINAPI PostMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!FindWindowRecord(hwnd)) return FALSE;
    standin::ui::State().posted.push_back({hwnd, message, wParam, lParam});
    return TRUE;
}

LRESULT WINAPI CallWindowProcA(WNDPROC proc, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return proc ? proc(hwnd, message, wParam, lParam) : 0;
}

LRESULT WINAPI DefWindowProcA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = FindWindowRecord(hwnd);
    if (!w) return 0;
    switch (message) {
        case WM_NCCREATE: return TRUE;
        case WM_SETTEXT:
            w->text = lParam ? reinterpret_cast<const char*>(lParam) : "";
            w->needsPaint = true;
            return TRUE;
        case WM_GETTEXT:
            return static_cast<LRESULT>(
                standin::ui::CopyText(w->text, reinterpret_cast<char*>(lParam), static_cast<size_t>(wParam)));
        case WM_GETTEXTLENGTH: return static_cast<LRESULT>(w->text.size());
        case WM_SETREDRAW:
            w->redraw = wParam != 0;
            if (w->redraw) w->needsPaint = true;
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            BeginPaint(hwnd, &ps);
            EndPaint(hwnd, &ps);
            return 0;
        }
        case WM_ERASEBKGND:
        case WM_ICONERASEBKGND: return 1;
        case WM_CLOSE: DestroyWindow(hwnd); return 0;
        case WM_SYSCOMMAND:
            switch (wParam & 0xFFF0) {
                case SC_CLOSE: SendMessageA(hwnd, WM_CLOSE, 0, 0); break;
                case SC_MINIMIZE: ShowWindow(hwnd, SW_MINIMIZE); break;
                case SC_MAXIMIZE: ShowWindow(hwnd, SW_MAXIMIZE); break;
                case SC_RESTORE: ShowWindow(hwnd, SW_RESTORE); break;
                default: break;
            }
            return 0;
        case WM_SETICON: {
            HICON old = wParam == ICON_BIG ? w->bigIcon : w->smallIcon;
            (wParam == ICON_BIG ? w->bigIcon : w->smallIcon) = reinterpret_cast<HICON>(lParam);
            return reinterpret_cast<LRESULT>(old);
        }
        case WM_GETICON: return reinterpret_cast<LRESULT>(wParam == ICON_BIG ? w->bigIcon : w->smallIcon);
        case WM_SETFONT: w->font = reinterpret_cast<HFONT>(wParam); return 0;
        case WM_GETFONT: return reinterpret_cast<LRESULT>(w->font);
        default: return 0;
    }
}

HWND WINAPI SetFocus(HWND hwnd) {
    if (hwnd && !FindWindowRecord(hwnd)) return nullptr;
    return standin::ui::ChangeFocus(hwnd);
}

HWND WINAPI GetFocus(void) { return standin::ui::State().focus; }

HWND WINAPI GetActiveWindow(void) {
    std::vector<HWND> top = standin::ui::TopLevelWindows();
    return top.empty() ? nullptr : top.back();
}

SHORT WINAPI GetKeyState(int virtualKey) {
    if (virtualKey < 0 || virtualKey >= 256) return 0;
    return standin::ui::State().keyDown[virtualKey] ? static_cast<SHORT>(0x8000) : 0;
}

}  // extern "C"
