// User actions turned into window messages.
#include "user_input.h"

#include <commctrl.h>

#include <algorithm>

#include "dialog_manager.h"
#include "list_view.h"
#include "window_manager.h"

namespace standin {
namespace ui {

void ClickAt(HWND control, int x, int y) {
    if (!IsWindowVisible(control) || !IsWindowEnabled(control)) return;
    LPARAM point = MAKELPARAM(x, y);
    SendMessageA(control, WM_LBUTTONDOWN, MK_LBUTTON, point);
    if (IsWindow(control)) SendMessageA(control, WM_LBUTTONUP, 0, point);
}

void ClickControl(HWND control) {
    RECT rc;
    if (!GetClientRect(control, &rc)) return;
    ClickAt(control, rc.right / 2, rc.bottom / 2);
}

void ClickListRow(HWND list, int row) {
    const ListViewModel* model = ListViewOf(list);
    if (!model || row < 0) return;
    if (row < static_cast<int>(model->items.size())) SendMessageA(list, LVM_ENSUREVISIBLE, row, FALSE);
    model = ListViewOf(list);
    Window* w = FindWindowRecord(list);
    int header = (w->style & LVS_NOCOLUMNHEADER) ? 0 : kListHeaderHeight;
    int visibleRow = row - model->topIndex;
    if (row >= static_cast<int>(model->items.size())) {
        // The empty part below the last item (or below the page when the list is full).
        int below = static_cast<int>(model->items.size()) - model->topIndex;
        RECT rc;
        GetClientRect(list, &rc);
        ClickAt(list, 3, header + below * kListRowHeight + kListRowHeight / 2);
        return;
    }
    // Inside the first column's text, so the row is hit with or without full-row selection.
    ClickAt(list, 3, header + visibleRow * kListRowHeight + kListRowHeight / 2);
}

void PressKey(HWND dialog, int virtualKey, bool shift) {
    if (shift) SetKeyDown(VK_SHIFT, true);
    DialogKey(dialog, virtualKey);
    if (shift) SetKeyDown(VK_SHIFT, false);
}

void TypeCharacter(HWND dialog, char c) {
    HWND focus = GetFocus();
    if (!focus) focus = dialog;
    SendMessageA(focus, WM_CHAR, static_cast<WPARAM>(static_cast<unsigned char>(c)), 1);
}

void PressCloseBox(HWND dialog) { SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }
void PressMinimize(HWND dialog) { SendMessageA(dialog, WM_SYSCOMMAND, SC_MINIMIZE, 0); }
void PressRestore(HWND dialog) { SendMessageA(dialog, WM_SYSCOMMAND, SC_RESTORE, 0); }

}  // namespace ui
}  // namespace standin
