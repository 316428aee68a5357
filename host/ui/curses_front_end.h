// The terminal front end: the running dialog drawn with ncurses, four
// horizontal and eight vertical dialog units a character cell, driven by the
// keyboard and the mouse; message boxes as modal boxes.
#ifndef STANDIN_UI_CURSES_FRONT_END_H
#define STANDIN_UI_CURSES_FRONT_END_H

#include <cstdio>
#include <string>

#include "front_end.h"
#include "report.h"

struct screen;  // ncurses' SCREEN

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
    void Start();
    void Draw(HWND dialog);
    void Click(HWND dialog, int row, int column);
    void Wheel(HWND dialog, int row, int column, bool up);

    Report* report_;
    bool started_ = false;
    bool stdoutIsTerminal_ = false;
    FILE* terminalOut_ = nullptr;
    ::screen* screen_ = nullptr;
    HWND lastDialog_ = nullptr;
};

}  // namespace ui
}  // namespace standin

#endif
