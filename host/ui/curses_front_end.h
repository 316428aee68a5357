// The terminal front end: the running dialog drawn with ncurses, four
// horizontal and eight vertical dialog units a character cell, driven by the
// keyboard and the mouse; message boxes as modal boxes.
#ifndef STANDIN_UI_CURSES_FRONT_END_H
#define STANDIN_UI_CURSES_FRONT_END_H

#include <cstdio>
#include <string>

#include "front_end.h"
#include "report.h"

struct screen;   // ncurses' SCREEN
struct _win_st;  // ncurses' WINDOW

namespace standin {
namespace ui {

class CursesFrontEnd : public FrontEnd {
public:
    // `report` may be null; when given, message boxes and the end are reported.
    explicit CursesFrontEnd(Report* report);
    ~CursesFrontEnd() override;

    bool NextInput(HWND dialog) override;
    int ShowMessageBox(HWND owner, const std::string& caption, const std::string& text, UINT type) override;
    void DialogEnded(HWND dialog, INT_PTR result) override;

private:
    // What a mouse button went down on; the action waits for its release.
    struct Press {
        enum Kind { None, Minimize, CloseBox, Restore, Control } kind = None;
        HWND control = nullptr;
        bool seen = false;  // a press came (on a target or not)
    };

    void Start();
    // Makes the drawing surface at least `rows` x `columns` (and the terminal's size).
    void EnsureCanvas(int rows, int columns);
    void Show();
    void Draw(HWND dialog);
    void MouseDown(HWND dialog, int row, int column);
    void MouseUp(HWND dialog, int row, int column);
    void Wheel(HWND dialog, int row, int column, bool up);
    int ReadKey();

    Report* report_;
    bool started_ = false;
    bool stdoutIsTerminal_ = false;
    FILE* terminalOut_ = nullptr;
    ::screen* screen_ = nullptr;
    ::_win_st* canvas_ = nullptr;  // a pad the size of the dialog or the terminal, whichever is larger
    HWND lastDialog_ = nullptr;
    Press press_;
};

}  // namespace ui
}  // namespace standin

#endif
