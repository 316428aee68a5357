// A front end feeds user actions to the stand-in's modal loops and shows
// message boxes: the terminal (ncurses) front end, the headless script runner,
// or a test's own.
#ifndef STANDIN_UI_FRONT_END_H
#define STANDIN_UI_FRONT_END_H

#include <windows.h>

#include <string>

namespace standin {
namespace ui {

class FrontEnd {
public:
    virtual ~FrontEnd() = default;
    // Performs the next user action on the running modal dialog (through the
    // user-input calls of user_input.h). Returns false when no more input
    // will come; the loop then presses the dialog's close box.
    virtual bool NextInput(HWND dialog) = 0;
    // Shows a message box and returns the button chosen (IDOK, ...).
    virtual int ShowMessageBox(HWND owner, const std::string& caption, const std::string& text,
                               UINT type) = 0;
    // A modal dialog has ended with `result` (-1 also when it could not be created).
    virtual void DialogEnded(HWND dialog, INT_PTR result) = 0;
};

// The active front end; null means no user: message boxes answer at once
// and a modal dialog is closed by its close box as soon as it runs.
void SetFrontEnd(FrontEnd* frontEnd);
FrontEnd* CurrentFrontEnd();

// The button a message box of this type answers when it is acknowledged
// without a choice: OK where there is one, else its first button.
int DefaultMessageBoxAnswer(UINT type);

}  // namespace ui
}  // namespace standin

#endif
