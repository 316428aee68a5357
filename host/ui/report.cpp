// Report records, written and flushed one at a time.
#include "report.h"

#include <commctrl.h>

#include <cerrno>
#include <cstring>

namespace standin {
namespace ui {
namespace {

int ColumnCount(HWND list) {
    int count = 0;
    LVCOLUMNA column;
    memset(&column, 0, sizeof(column));
    column.mask = LVCF_WIDTH;
    while (SendMessageA(list, LVM_GETCOLUMNA, count, reinterpret_cast<LPARAM>(&column))) ++count;
    return count;
}

}  // namespace

std::string ReportField(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\\': out += "\\\\"; break;
            default: out += c; break;
        }
    }
    return out;
}

void Report::Record(const std::vector<std::string>& fields) {
    if (!out_) return;
    std::string line;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i) line += '\t';
        line += i == 0 ? fields[i] : ReportField(fields[i]);
    }
    line += '\n';
    // A full disk shows at the flush at the latest; the first error is kept.
    errno = 0;
    bool written = fputs(line.c_str(), out_) >= 0;
    written = fflush(out_) == 0 && written;
    if (!written && !failed_) {
        failed_ = true;
        error_ = errno ? errno : EIO;
    }
}

void Report::ListRows(HWND list, const char* kind, bool withItemData) {
    if (!list) return;
    const int rows = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    const int columns = ColumnCount(list);
    for (int row = 0; row < rows; ++row) {
        std::vector<std::string> fields = {kind, std::to_string(row)};
        if (withItemData) {
            LVITEMA item;
            memset(&item, 0, sizeof(item));
            item.mask = LVIF_PARAM;
            item.iItem = row;
            SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
            char data[16];
            snprintf(data, sizeof(data), "%08X", static_cast<unsigned>(static_cast<DWORD>(item.lParam)));
            fields.push_back(data);
        }
        for (int column = 0; column < columns; ++column) {
            char text[1024];
            LVITEMA item;
            memset(&item, 0, sizeof(item));
            item.iSubItem = column;
            item.pszText = text;
            item.cchTextMax = sizeof(text);
            text[0] = '\0';
            SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
            fields.push_back(text);
        }
        Record(fields);
    }
}

// The selection mark, the focused row (-1 for none), then every selected
// row: what the program's buttons and the arrow keys act on, which the rows'
// text does not show.
void Report::ListSelection(HWND list) {
    if (!list) return;
    const int mark = static_cast<int>(SendMessageA(list, LVM_GETSELECTIONMARK, 0, 0));
    const int focused =
        static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
    std::vector<std::string> fields = {"selection", std::to_string(mark), std::to_string(focused)};
    const int rows = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < rows; ++row) {
        if (SendMessageA(list, LVM_GETITEMSTATE, row, LVIS_SELECTED) & LVIS_SELECTED)
            fields.push_back(std::to_string(row));
    }
    Record(fields);
}

void Report::Dump(HWND dialog, const DialogControls& controls) {
    HWND devices = GetDlgItem(dialog, controls.deviceList);
    ListRows(devices, "device", true);
    ListSelection(devices);
    ListRows(GetDlgItem(dialog, controls.registerList), "register", false);
    for (int k = 0; k < controls.slotCount; ++k) {
        char text[1024] = "";
        GetDlgItemTextA(dialog, controls.slotEdits[k], text, sizeof(text));
        Record({"slot", std::to_string(k), text});
    }
    HWND focus = GetFocus();
    Record({"focus", std::to_string(focus ? GetDlgCtrlID(focus) : 0)});
}

void Report::MessageBoxShown(const std::string& caption, const std::string& text) {
    Record({"msgbox", caption, text});
}

void Report::DialogEnded(INT_PTR code) { Record({"end", std::to_string(static_cast<long long>(code))}); }

void Report::ProcessExit() { Record({"exit"}); }

}  // namespace ui
}  // namespace standin
