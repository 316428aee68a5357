// The headless front end's report: one tab-separated record a line.
//   device ROW ITEMDATA CELL...   register ROW CELL...   slot K TEXT
//   focus ID   msgbox CAPTION TEXT   end CODE   exit
#ifndef STANDIN_UI_REPORT_H
#define STANDIN_UI_REPORT_H

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "dialog_controls.h"

namespace standin {
namespace ui {

// A cell as the control holds it; only tab, line feed, carriage return and
// backslash are written as \t, \n, \r and \\ so that a record stays one line.
std::string ReportField(const std::string& text);

class Report {
public:
    // Writes to `out`, which the caller keeps open while the report is used.
    explicit Report(FILE* out) : out_(out) {}

    void Record(const std::vector<std::string>& fields);
    // Every device row, the device list's selection, every register row, the
    // slots, then the focus.
    void Dump(HWND dialog, const DialogControls& controls);
    void MessageBoxShown(const std::string& caption, const std::string& text);
    void DialogEnded(INT_PTR code);
    void ProcessExit();

    // Whether a record could not be written whole, and the error (errno) then.
    bool Failed() const { return failed_; }
    int Error() const { return error_; }

private:
    void ListRows(HWND list, const char* kind, bool withItemData);
    void ListSelection(HWND list);
    FILE* out_;
    bool failed_ = false;
    int error_ = 0;
};

}  // namespace ui
}  // namespace standin

#endif
