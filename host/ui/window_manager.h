// The stand-in window manager: window records behind HWND handles, window
// classes, message sending and the posted-message queue. Controls and the
// dialog manager keep their own state in a window's ControlState.
#ifndef STANDIN_UI_WINDOW_MANAGER_H
#define STANDIN_UI_WINDOW_MANAGER_H

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace standin {
namespace ui {

// Per-window data of a control class or of the dialog manager.
struct ControlState {
    virtual ~ControlState() = default;
};

struct Window {
    HWND handle = nullptr;
    std::string className;  // as registered, e.g. "Button", "SysListView32", "#32770"
    std::string text;
    DWORD style = 0;
    DWORD exStyle = 0;
    int id = 0;
    HWND parent = nullptr;
    std::vector<HWND> children;  // creation order: the dialog's template (and tab) order
    RECT rect = {0, 0, 0, 0};    // window rectangle in the parent's client coordinates
    WNDPROC proc = nullptr;
    HINSTANCE instance = nullptr;
    LONG_PTR userData = 0;
    std::map<int, LONG_PTR> extra;  // extra window bytes by offset (DWLP_* of a dialog)
    HFONT font = nullptr;
    HICON bigIcon = nullptr;
    HICON smallIcon = nullptr;
    bool iconic = false;
    bool zoomed = false;
    bool redraw = true;       // WM_SETREDRAW
    bool needsPaint = false;  // invalidated and not yet painted
    int paintCount = 0;       // WM_PAINT messages delivered
    bool destroyed = false;
    std::unique_ptr<ControlState> state;
};

// The record behind a handle, or null for a handle that is not a live window.
Window* FindWindowRecord(HWND hwnd);
// Every live top-level window, in creation order.
std::vector<HWND> TopLevelWindows();

// Registers Button, Edit, Static, SysListView32 and the dialog class once.
void EnsureBuiltinClasses();
// Registers a built-in control class (case-insensitive name).
void RegisterBuiltinClass(const std::string& name, WNDPROC proc);
// Class name of a dialog-template class ordinal (0x80 Button, 0x81 Edit, ...).
std::string ClassNameOfAtom(WORD atom);

// Sends WM_NOTIFY with the given header fields filled from the control.
LRESULT NotifyParent(HWND control, NMHDR* header, UINT code);

// Posted messages, delivered by the modal loops in order.
bool DispatchOnePostedMessage();
void DiscardPostedMessages(HWND hwnd);

// Windows that have been invalidated get one WM_PAINT each.
void PaintInvalidWindows();

// The keyboard state the front ends set while they deliver a key.
void SetKeyDown(int virtualKey, bool down);

// Changes focus; the dialog manager adds its default-button handling on top.
HWND ChangeFocus(HWND hwnd);

// Forgets every window, class state and queued message (tests).
void ResetWindowManager();

}  // namespace ui
}  // namespace standin

#endif
