// The dialog manager: dialogs built from templates, their modal loop, focus,
// tab and group navigation, the default push button, and the keyboard
// interface of a dialog (Tab, arrows, Enter, Escape).
#ifndef STANDIN_UI_DIALOG_MANAGER_H
#define STANDIN_UI_DIALOG_MANAGER_H

#include <windows.h>

#include "window_manager.h"

namespace standin {
namespace ui {

struct DialogState : ControlState {
    bool ended = false;
    INT_PTR result = 0;
    int defaultId = 0;  // DM_GETDEFID; 0 until a default push button or DM_SETDEFID gives one
    HWND lastFocus = nullptr;
    int baseUnitX = 6;   // pixels per 4 horizontal dialog units (MapDialogRect)
    int baseUnitY = 13;  // pixels per 8 vertical dialog units
};

DialogState* DialogOf(HWND hwnd);
bool IsDialog(HWND hwnd);

// The dialog that holds a control (the control itself when it is a dialog).
HWND DialogOfControl(HWND hwnd);

// Focus to a control of a dialog, as the dialog manager moves it.
void DialogSetFocus(HWND dialog, HWND control);

// The push button that Enter presses now: the focused push button, else the
// dialog's default button (DM_GETDEFID, IDOK when there is none).
HWND CurrentDefaultButton(HWND dialog);

// A key pressed while the dialog is active, handled as IsDialogMessage does.
void DialogKey(HWND dialog, int virtualKey);

}  // namespace ui
}  // namespace standin

#endif
