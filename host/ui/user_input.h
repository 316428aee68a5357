// What a user does, delivered through the same messages Windows would send:
// mouse clicks on controls and list rows, keys, the caption buttons.
#ifndef STANDIN_UI_USER_INPUT_H
#define STANDIN_UI_USER_INPUT_H

#include <windows.h>

namespace standin {
namespace ui {

// A left click in the middle of a control (a disabled or hidden one ignores it).
void ClickControl(HWND control);
// A left click on row `row` of a list view, scrolled into view first; a row
// past the last item is a click on the empty part of the list.
void ClickListRow(HWND list, int row);
// A left click at a point of a control's client area.
void ClickAt(HWND control, int x, int y);
// A key pressed and released while the dialog is active, with Shift held or not.
void PressKey(HWND dialog, int virtualKey, bool shift);
// A typed character to the focused control.
void TypeCharacter(HWND dialog, char c);
// The caption buttons.
void PressCloseBox(HWND dialog);
void PressMinimize(HWND dialog);
void PressRestore(HWND dialog);

}  // namespace ui
}  // namespace standin

#endif
