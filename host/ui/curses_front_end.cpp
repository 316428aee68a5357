// Drawing the dialog and its controls in character cells, and turning keys
// and mouse clicks into user input.
//
// Everything is drawn on a pad at least as large as the dialog and copied to
// the terminal clipped to its size, so that a small terminal cuts the picture
// off at its edges and never wraps a row.
#include "curses_front_end.h"

#include <commctrl.h>
#include <curses.h>

#include <algorithm>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "dialog_manager.h"
#include "list_view.h"
#include "text_width.h"
#include "user_input.h"
#include "window_manager.h"

namespace standin {
namespace ui {
namespace {

// The dialog's client area starts one cell in from the frame, below the caption.
const int kClientTop = 1;
const int kClientLeft = 1;

struct CellRect {
    int top, left, height, width;
    bool Contains(int row, int column) const {
        return row >= top && row < top + height && column >= left && column < left + width;
    }
};

// Pixels to cells: a cell is kBaseUnitX pixels wide and kBaseUnitY high.
CellRect CellsOf(const Window& w) {
    CellRect r;
    r.left = kClientLeft + (w.rect.left + kBaseUnitX / 2) / kBaseUnitX;
    r.top = kClientTop + (w.rect.top + kBaseUnitY / 2) / kBaseUnitY;
    r.width = std::max<int>(1, (w.rect.right - w.rect.left + kBaseUnitX / 2) / kBaseUnitX);
    r.height = std::max<int>(1, (w.rect.bottom - w.rect.top + kBaseUnitY / 2) / kBaseUnitY);
    return r;
}

// The dialog with its frame and caption, in cells from the terminal's corner.
CellRect FrameOf(HWND dialog) {
    RECT client;
    GetClientRect(dialog, &client);
    return {0, 0, static_cast<int>(client.bottom / kBaseUnitY) + 2,
            static_cast<int>(client.right / kBaseUnitX) + 2};
}

// Text on one row, never past `width` cells nor past the canvas's right edge.
void Text(WINDOW* win, int row, int column, const std::string& text, int width) {
    if (row < 0 || row >= getmaxy(win) || column < 0) return;
    width = std::min(width, getmaxx(win) - column);
    if (width <= 0) return;
    mvwaddnstr(win, row, column, text.c_str(), std::min(width, static_cast<int>(text.size())));
}

void Box(WINDOW* win, const CellRect& r) {
    if (r.height < 2 || r.width < 2) return;
    mvwaddch(win, r.top, r.left, ACS_ULCORNER);
    mvwhline(win, r.top, r.left + 1, ACS_HLINE, r.width - 2);
    mvwaddch(win, r.top, r.left + r.width - 1, ACS_URCORNER);
    mvwvline(win, r.top + 1, r.left, ACS_VLINE, r.height - 2);
    mvwvline(win, r.top + 1, r.left + r.width - 1, ACS_VLINE, r.height - 2);
    mvwaddch(win, r.top + r.height - 1, r.left, ACS_LLCORNER);
    mvwhline(win, r.top + r.height - 1, r.left + 1, ACS_HLINE, r.width - 2);
    mvwaddch(win, r.top + r.height - 1, r.left + r.width - 1, ACS_LRCORNER);
}

// Breaks a caption at spaces into lines of at most `width` characters (a word
// longer than that is split).
std::vector<std::string> CaptionLines(const std::string& text, size_t width) {
    std::vector<std::string> lines;
    std::string current;
    size_t at = 0;
    while (at < text.size()) {
        size_t space = text.find(' ', at);
        std::string word = text.substr(at, space == std::string::npos ? std::string::npos : space - at);
        at = space == std::string::npos ? text.size() : space + 1;
        while (word.size() > width) {
            if (!current.empty()) lines.push_back(current);
            current.clear();
            lines.push_back(word.substr(0, width));
            word.erase(0, width);
        }
        if (current.empty()) {
            current = word;
        } else if (current.size() + 1 + word.size() <= width) {
            current += " " + word;
        } else {
            lines.push_back(current);
            current = word;
        }
    }
    if (!current.empty() || lines.empty()) lines.push_back(current);
    return lines;
}

// A group box's title sits on its top line after the corner; a title longer
// than that starts on the corner, so that it shows whole where it fits the box.
void DrawGroupBox(WINDOW* win, const Window& w) {
    CellRect r = CellsOf(w);
    Box(win, r);
    const int length = static_cast<int>(w.text.size());
    const int column = length <= r.width - 2 ? r.left + 1 : r.left;
    Text(win, r.top, column, w.text, r.left + r.width - column);
}

// A push button is its caption in brackets (angle brackets for the default
// button). A caption wider than the button is broken into lines over the
// button's rows, each line bracketed, so that it shows whole.
void DrawButton(WINDOW* win, const Window& w, bool focused, bool isDefault) {
    CellRect r = CellsOf(w);
    const int inner = std::max(r.width - 2, 1);
    std::vector<std::string> lines = CaptionLines(w.text, static_cast<size_t>(inner));
    if (static_cast<int>(lines.size()) > r.height) {
        // Not enough rows: the caption on one line, cut at the button's edge.
        lines.assign(1, w.text.substr(0, static_cast<size_t>(inner)));
    }
    size_t longest = 0;
    for (const std::string& line : lines) longest = std::max(longest, line.size());
    const std::string open = isDefault ? "<" : "[";
    const std::string close = isDefault ? ">" : "]";
    const int firstRow = r.top + (r.height - static_cast<int>(lines.size())) / 2;
    attr_t attributes =
        (focused ? A_REVERSE : 0) | (isDefault ? A_BOLD : 0) | ((w.style & WS_DISABLED) ? A_DIM : 0);
    wattron(win, attributes);
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string line = lines[i];
        size_t before = (longest - line.size()) / 2;
        line = std::string(before, ' ') + line + std::string(longest - line.size() - before, ' ');
        std::string label = open + line + close;
        int column = r.left + std::max(0, (r.width - static_cast<int>(label.size())) / 2);
        Text(win, firstRow + static_cast<int>(i), column, label, r.left + r.width - column);
    }
    wattroff(win, attributes);
}

void DrawEdit(WINDOW* win, const Window& w, bool focused) {
    CellRect r = CellsOf(w);
    int row = r.top + (r.height - 1) / 2;
    std::string field = w.text;
    field.resize(static_cast<size_t>(std::max(r.width - 2, 0)), ' ');
    mvwaddch(win, row, r.left, '[');
    wattron(win, focused ? A_REVERSE : A_UNDERLINE);
    Text(win, row, r.left + 1, field, r.width - 2);
    wattroff(win, focused ? A_REVERSE : A_UNDERLINE);
    mvwaddch(win, row, r.left + r.width - 1, ']');
}

// The list's columns in cells: where each starts and how wide it is.
struct ColumnCells {
    int start;
    int cells;
};

std::vector<ColumnCells> ColumnLayout(const ListViewModel& m) {
    std::vector<ColumnCells> layout;
    int x = 0;
    for (int width : ListViewShownWidths(m)) {
        int cells = std::max(1, width / kBaseUnitX);
        layout.push_back({x, cells});
        x += cells;
    }
    return layout;
}

int TotalCells(const std::vector<ColumnCells>& layout) {
    return layout.empty() ? 0 : layout.back().start + layout.back().cells;
}

// The first cell of the rows shown: the list's scroll position in cells; at
// the end of its range, the last column's end is at the right border.
int FirstShownCell(HWND hwnd, const ListViewModel& m, int totalCells, int innerWidth) {
    const int last = std::max(0, totalCells - innerWidth);
    if (m.scrollX <= 0) return 0;
    if (m.scrollX >= ListViewMaxScrollX(hwnd)) return last;
    return std::min(m.scrollX / kBaseUnitX, last);
}

// The horizontal scroll bar on the bottom border: arrows at its ends and a
// mark where the view is.
struct ScrollBarCells {
    int row = -1;
    int leftArrow = -1, rightArrow = -1;
    int thumb = -1;
};

ScrollBarCells HorizontalBar(const CellRect& r, int first, int totalCells, int innerWidth) {
    ScrollBarCells bar;
    const int last = totalCells - innerWidth;
    if (last <= 0 || r.width < 6 || r.height < 3) return bar;
    bar.row = r.top + r.height - 1;
    bar.leftArrow = r.left + 1;
    bar.rightArrow = r.left + r.width - 2;
    const int track = r.width - 4;
    bar.thumb = r.left + 2 + static_cast<int>(static_cast<long long>(first) * (track - 1) / last);
    return bar;
}

// One row of cells (header or item) from the first cell shown.
void DrawListRow(WINDOW* win, int row, int left, int innerWidth, int first,
                 const std::vector<ColumnCells>& layout, const std::vector<std::string>& texts,
                 const std::vector<attr_t>& attributes) {
    for (size_t c = 0; c < layout.size(); ++c) {
        const int start = layout[c].start, cells = layout[c].cells;
        const int shownFrom = std::max(start, first), shownTo = std::min(start + cells, first + innerWidth);
        if (shownFrom >= shownTo) continue;
        std::string cell = c < texts.size() ? texts[c] : "";
        const bool fills = static_cast<int>(cell.size()) >= cells;
        cell.resize(static_cast<size_t>(cells), ' ');
        if (cells > 1 && fills) cell[cells - 1] = ' ';  // a gap before the next column
        wattron(win, attributes[c]);
        Text(win, row, left + shownFrom - first, cell.substr(static_cast<size_t>(shownFrom - start)),
             shownTo - shownFrom);
        wattroff(win, attributes[c]);
    }
}

void DrawList(WINDOW* win, HWND hwnd, const Window& w, bool focused) {
    const ListViewModel* m = ListViewOf(hwnd);
    if (!m) return;
    CellRect r = CellsOf(w);
    Box(win, r);
    const int innerLeft = r.left + 1;
    const int innerWidth = r.width - 2;
    const int page = ListViewRowsPerPage(hwnd);
    const std::vector<ColumnCells> layout = ColumnLayout(*m);
    const int totalCells = TotalCells(layout);
    const int first = FirstShownCell(hwnd, *m, totalCells, innerWidth);
    // Header.
    std::vector<std::string> texts;
    for (const ListViewColumn& col : m->columns) texts.push_back(col.text);
    DrawListRow(win, r.top + 1, innerLeft, innerWidth, first, layout, texts,
                std::vector<attr_t>(layout.size(), A_BOLD));
    // Rows.
    const bool fullRow = (m->extendedStyle & LVS_EX_FULLROWSELECT) != 0;
    for (int i = 0; i < page; ++i) {
        int index = m->topIndex + i;
        if (index >= static_cast<int>(m->items.size())) break;
        const ListViewItem& item = m->items[index];
        int row = r.top + 2 + i;
        if (row >= r.top + r.height - 1) break;
        bool selected = (item.state & LVIS_SELECTED) && (focused || (w.style & LVS_SHOWSELALWAYS));
        std::vector<attr_t> attributes(layout.size(), 0);
        for (size_t c = 0; c < layout.size(); ++c) {
            if (selected && (fullRow || c == 0)) attributes[c] |= A_REVERSE;
            if (index == m->focusedItem && focused && c == 0) attributes[c] |= A_UNDERLINE;
        }
        DrawListRow(win, row, innerLeft, innerWidth, first, layout, item.cells, attributes);
    }
    // A scroll position mark on the right edge.
    const int count = static_cast<int>(m->items.size());
    if (count > page && r.height > 4) {
        int track = r.height - 3;
        int at =
            static_cast<int>(static_cast<long long>(m->topIndex) * (track - 1) / std::max(1, count - page));
        mvwaddch(win, r.top + 2 + at, r.left + r.width - 1, ACS_CKBOARD);
    }
    // The horizontal scroll bar on the bottom edge when the columns are wider than the list.
    ScrollBarCells bar = HorizontalBar(r, first, totalCells, innerWidth);
    if (bar.row >= 0) {
        const int last = totalCells - innerWidth;
        wattron(win, first > 0 ? A_BOLD : A_DIM);
        mvwaddch(win, bar.row, bar.leftArrow, '<');
        wattroff(win, first > 0 ? A_BOLD : A_DIM);
        wattron(win, first < last ? A_BOLD : A_DIM);
        mvwaddch(win, bar.row, bar.rightArrow, '>');
        wattroff(win, first < last ? A_BOLD : A_DIM);
        mvwaddch(win, bar.row, bar.thumb, ACS_CKBOARD);
    }
}

// The list's client point under a cell inside its border, in the list's own pixels.
POINT ListPoint(HWND hwnd, const Window& w, int row, int column) {
    const ListViewModel* m = ListViewOf(hwnd);
    CellRect r = CellsOf(w);
    POINT pt = {0, 0};
    pt.y = (row - r.top - 1) * kListRowHeight + kListRowHeight / 2;
    if (!m) return pt;
    const std::vector<ColumnCells> layout = ColumnLayout(*m);
    const int totalCells = TotalCells(layout);
    const int cell = column - r.left - 1 + FirstShownCell(hwnd, *m, totalCells, r.width - 2);
    const std::vector<int> widths = ListViewShownWidths(*m);
    int pixels = 0;
    for (size_t c = 0; c < layout.size(); ++c) {
        if (cell < layout[c].start + layout[c].cells) {
            pt.x = pixels + (cell - layout[c].start) * kBaseUnitX + 1 - m->scrollX;
            return pt;
        }
        pixels += widths[c];
    }
    pt.x = pixels + (cell - totalCells) * kBaseUnitX + 1 - m->scrollX;
    return pt;
}

// A control's client point under a cell (for a button or an edit box).
POINT ControlPoint(const Window& w, int row, int column) {
    CellRect r = CellsOf(w);
    POINT pt = {(column - r.left) * kBaseUnitX + kBaseUnitX / 2, (row - r.top) * kBaseUnitY + kBaseUnitY / 2};
    // The cell rectangle rounds the control's: keep points inside it inside the control.
    const int width = static_cast<int>(w.rect.right - w.rect.left),
              height = static_cast<int>(w.rect.bottom - w.rect.top);
    if (r.Contains(row, column)) {
        pt.x = std::min<int>(pt.x, width - 1);
        pt.y = std::min<int>(pt.y, height - 1);
    }
    return pt;
}

std::string HelpLine(HWND dialog) {
    // Escape presses the dialog's IDCANCEL button: name it as it is captioned.
    std::string escape = "cancel";
    char caption[128] = "";
    if (HWND cancel = GetDlgItem(dialog, IDCANCEL)) {
        GetWindowTextA(cancel, caption, sizeof caption);
        if (caption[0]) escape = caption;
    }
    return "Tab/Shift-Tab move  Up/Down/PgUp/PgDn select  Left/Right scroll  Enter/Space press  Esc " +
           escape + "  F9 minimise  F4 close";
}

std::vector<std::string> Wrap(const std::string& text, size_t width) {
    std::vector<std::string> lines;
    std::string current;
    for (char c : text) {
        if (c == '\n' || current.size() >= width) {
            lines.push_back(current);
            current.clear();
            if (c == '\n') continue;
        }
        current += c;
    }
    lines.push_back(current);
    return lines;
}

struct BoxButton {
    const char* label;
    int id;
};

std::vector<BoxButton> ButtonsOf(UINT type) {
    switch (type & MB_TYPEMASK) {
        case MB_OKCANCEL: return {{"OK", IDOK}, {"Cancel", IDCANCEL}};
        case MB_ABORTRETRYIGNORE: return {{"Abort", IDABORT}, {"Retry", IDRETRY}, {"Ignore", IDIGNORE}};
        case MB_YESNOCANCEL: return {{"Yes", IDYES}, {"No", IDNO}, {"Cancel", IDCANCEL}};
        case MB_YESNO: return {{"Yes", IDYES}, {"No", IDNO}};
        case MB_RETRYCANCEL: return {{"Retry", IDRETRY}, {"Cancel", IDCANCEL}};
        default: return {{"OK", IDOK}};
    }
}

}  // namespace

CursesFrontEnd::CursesFrontEnd(Report* report) : report_(report) {}

CursesFrontEnd::~CursesFrontEnd() {
    if (!started_) return;
    if (canvas_) delwin(canvas_);
    endwin();
    if (screen_) delscreen(screen_);
    if (terminalOut_) fclose(terminalOut_);
}

void CursesFrontEnd::Start() {
    if (started_) return;
    started_ = true;
    if (!getenv("ESCDELAY")) set_escdelay(25);
    // The screen goes to the terminal itself, so that standard output stays
    // the program's diagnostics wherever it is sent.
    terminalOut_ = fopen("/dev/tty", "w");
    screen_ = newterm(nullptr, terminalOut_ ? terminalOut_ : stdout, stdin);
    if (!screen_) {
        fprintf(stderr, "quorvenal: the terminal cannot be used for the window\n");
        exit(2);
    }
    set_term(screen_);
    // Raw input: Ctrl-C arrives as a key (the close box) instead of killing the
    // process with the terminal still in screen mode and the service left behind.
    raw();
    // Diagnostics printed to the same terminal overwrite the screen: redraw it whole.
    stdoutIsTerminal_ = isatty(STDOUT_FILENO) != 0;
    noecho();
    curs_set(0);
    // Presses and releases apart: a button acts when it is released, as on Windows.
    mousemask(BUTTON1_PRESSED | BUTTON1_RELEASED | BUTTON4_PRESSED | BUTTON5_PRESSED, nullptr);
    mouseinterval(0);
    EnsureCanvas(1, 1);
}

void CursesFrontEnd::EnsureCanvas(int rows, int columns) {
    rows = std::max(rows, LINES);
    columns = std::max(columns, COLS);
    // The pad only grows: what is drawn on it stays when a larger picture needs more room.
    if (canvas_ && getmaxy(canvas_) >= rows && getmaxx(canvas_) >= columns) return;
    if (canvas_) {
        rows = std::max(rows, getmaxy(canvas_));
        columns = std::max(columns, getmaxx(canvas_));
        delwin(canvas_);
    }
    canvas_ = newpad(rows, columns);
    if (!canvas_) {
        endwin();
        fprintf(stderr, "quorvenal: the terminal cannot be used for the window\n");
        exit(2);
    }
    keypad(canvas_, TRUE);
}

void CursesFrontEnd::Show() {
    if (stdoutIsTerminal_) clearok(curscr, TRUE);
    pnoutrefresh(canvas_, 0, 0, 0, 0, LINES - 1, COLS - 1);
    doupdate();
}

int CursesFrontEnd::ReadKey() { return wgetch(canvas_); }

void CursesFrontEnd::Draw(HWND dialog) {
    fflush(stdout);
    Window* d = FindWindowRecord(dialog);
    if (!d) {
        EnsureCanvas(1, 1);
        werase(canvas_);
        Show();
        return;
    }
    if (d->iconic) {
        // The minimised window: the program's icon in a small box, and its caption.
        EnsureCanvas(4, 1);
        werase(canvas_);
        CellRect icon = {0, 0, 3, 6};
        Box(canvas_, icon);
        mvwaddstr(canvas_, 1, 2, "[Q]");
        Text(canvas_, 3, 0, d->text + " (minimised: Enter or a click restores it)", COLS);
        Show();
        return;
    }
    const CellRect frame = FrameOf(dialog);
    EnsureCanvas(frame.height + 1, frame.width);
    werase(canvas_);
    Box(canvas_, frame);
    wattron(canvas_, A_REVERSE);
    std::string caption = " " + d->text + " ";
    caption.resize(static_cast<size_t>(std::max(frame.width - 2, 0)), ' ');
    Text(canvas_, 0, 1, caption, frame.width - 2);
    Text(canvas_, 0, frame.width - 8, "[_][X]", 6);
    wattroff(canvas_, A_REVERSE);
    HWND focus = GetFocus();
    HWND defaultButton = CurrentDefaultButton(dialog);
    // Group boxes first, so that the controls inside them are drawn over them.
    for (int pass = 0; pass < 2; ++pass) {
        for (HWND child : d->children) {
            Window* w = FindWindowRecord(child);
            if (!w || !(w->style & WS_VISIBLE)) continue;
            bool groupBox = w->className == "Button" && (w->style & BS_TYPEMASK) == BS_GROUPBOX;
            if ((pass == 0) != groupBox) continue;
            if (groupBox)
                DrawGroupBox(canvas_, *w);
            else if (w->className == "Button")
                DrawButton(canvas_, *w, child == focus, child == defaultButton);
            else if (w->className == "Edit")
                DrawEdit(canvas_, *w, child == focus);
            else if (w->className == WC_LISTVIEWA)
                DrawList(canvas_, child, *w, child == focus);
            else {
                CellRect r = CellsOf(*w);
                Text(canvas_, r.top, r.left, w->text, r.width);
            }
        }
    }
    if (LINES < frame.height + 1 || COLS < frame.width) {
        std::string note = " the window needs " + std::to_string(frame.width) + " x " +
                           std::to_string(frame.height + 1) + " cells: enlarge the terminal ";
        wmove(canvas_, LINES - 1, 0);
        wclrtoeol(canvas_);
        wattron(canvas_, A_REVERSE);
        Text(canvas_, LINES - 1, 0, note, COLS);
        wattroff(canvas_, A_REVERSE);
    } else {
        Text(canvas_, frame.height, 0, HelpLine(dialog), COLS);
    }
    Show();
}

void CursesFrontEnd::MouseDown(HWND dialog, int row, int column) {
    press_ = Press();
    press_.seen = true;
    Window* d = FindWindowRecord(dialog);
    if (!d) return;
    if (d->iconic) {
        press_.kind = Press::Restore;
        return;
    }
    const int width = FrameOf(dialog).width;
    if (row == 0) {
        if (column >= width - 8 && column < width - 5) press_.kind = Press::Minimize;
        if (column >= width - 5 && column < width - 2) press_.kind = Press::CloseBox;
        return;
    }
    // The topmost control under the cell; group boxes let clicks through.
    for (auto it = d->children.rbegin(); it != d->children.rend(); ++it) {
        Window* w = FindWindowRecord(*it);
        if (!w || !(w->style & WS_VISIBLE)) continue;
        if (w->className == "Button" && (w->style & BS_TYPEMASK) == BS_GROUPBOX) continue;
        CellRect r = CellsOf(*w);
        if (!r.Contains(row, column)) continue;
        if (!IsWindowEnabled(*it)) return;
        if (w->className == WC_LISTVIEWA) {
            const ListViewModel* m = ListViewOf(*it);
            const int innerWidth = r.width - 2;
            if (m && row == r.top + r.height - 1) {
                // The bottom border: the horizontal scroll bar when there is one.
                const std::vector<ColumnCells> layout = ColumnLayout(*m);
                const int totalCells = TotalCells(layout);
                ScrollBarCells bar =
                    HorizontalBar(r, FirstShownCell(*it, *m, totalCells, innerWidth), totalCells, innerWidth);
                if (bar.row < 0 || column <= r.left || column >= r.left + r.width - 1) return;
                WORD request = column == bar.leftArrow    ? SB_LINELEFT
                               : column == bar.rightArrow ? SB_LINERIGHT
                               : column < bar.thumb       ? SB_PAGELEFT
                                                          : SB_PAGERIGHT;
                if (column != bar.thumb) SendMessageA(*it, WM_HSCROLL, MAKEWPARAM(request, 0), 0);
                return;
            }
            // Inside the border: the first inner row is the header, then the items.
            if (row == r.top || column == r.left || column == r.left + r.width - 1) return;
            POINT pt = ListPoint(*it, *w, row, column);
            SendMessageA(*it, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(pt.x, pt.y));
        } else {
            POINT pt = ControlPoint(*w, row, column);
            SendMessageA(*it, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(pt.x, pt.y));
        }
        press_.kind = Press::Control;
        press_.control = *it;
        return;
    }
}

void CursesFrontEnd::MouseUp(HWND dialog, int row, int column) {
    Press press = press_;
    press_ = Press();
    if (!press.seen) {
        // ncurses reports a press and its release that reach it together as
        // the release alone: that is a click where it happened.
        MouseDown(dialog, row, column);
        press = press_;
        press_ = Press();
    }
    Window* d = FindWindowRecord(dialog);
    if (!d) return;
    const int width = FrameOf(dialog).width;
    switch (press.kind) {
        case Press::None: return;
        case Press::Restore:
            if (d->iconic) PressRestore(dialog);
            return;
        case Press::Minimize:
            if (row == 0 && column >= width - 8 && column < width - 5) PressMinimize(dialog);
            return;
        case Press::CloseBox:
            if (row == 0 && column >= width - 5 && column < width - 2) PressCloseBox(dialog);
            return;
        case Press::Control: {
            Window* w = FindWindowRecord(press.control);
            if (!w) return;
            POINT pt = w->className == WC_LISTVIEWA ? ListPoint(press.control, *w, row, column)
                                                    : ControlPoint(*w, row, column);
            SendMessageA(press.control, WM_LBUTTONUP, 0, MAKELPARAM(pt.x, pt.y));
            return;
        }
    }
}

void CursesFrontEnd::Wheel(HWND dialog, int row, int column, bool up) {
    Window* d = FindWindowRecord(dialog);
    if (!d || d->iconic) return;
    for (HWND child : d->children) {
        Window* w = FindWindowRecord(child);
        if (!w || !(w->style & WS_VISIBLE) || w->className != WC_LISTVIEWA) continue;
        CellRect r = CellsOf(*w);
        if (!r.Contains(row, column)) continue;
        SendMessageA(child, WM_MOUSEWHEEL, MAKEWPARAM(0, up ? 120 : static_cast<WORD>(-120)), 0);
        return;
    }
}

bool CursesFrontEnd::NextInput(HWND dialog) {
    Start();
    lastDialog_ = dialog;
    Draw(dialog);
    for (;;) {
        int key = ReadKey();
        switch (key) {
            case ERR: return false;  // no terminal input any more
            case KEY_RESIZE: Draw(dialog); continue;
            case '\t': PressKey(dialog, VK_TAB, false); return true;
            case KEY_BTAB: PressKey(dialog, VK_TAB, true); return true;
            case KEY_UP: PressKey(dialog, VK_UP, false); return true;
            case KEY_DOWN: PressKey(dialog, VK_DOWN, false); return true;
            case KEY_LEFT: PressKey(dialog, VK_LEFT, false); return true;
            case KEY_RIGHT: PressKey(dialog, VK_RIGHT, false); return true;
            case KEY_PPAGE: PressKey(dialog, VK_PRIOR, false); return true;
            case KEY_NPAGE: PressKey(dialog, VK_NEXT, false); return true;
            case KEY_HOME: PressKey(dialog, VK_HOME, false); return true;
            case KEY_END: PressKey(dialog, VK_END, false); return true;
            case ' ': PressKey(dialog, VK_SPACE, false); return true;
            case 27: PressKey(dialog, VK_ESCAPE, false); return true;
            case '\n':
            case '\r':
            case KEY_ENTER:
                if (IsIconic(dialog))
                    PressRestore(dialog);
                else
                    PressKey(dialog, VK_RETURN, false);
                return true;
            case KEY_F(4):
            case 3:  // Ctrl-C
                PressCloseBox(dialog);
                return true;
            case KEY_F(9): PressMinimize(dialog); return true;
            case KEY_MOUSE: {
                MEVENT event;
                if (getmouse(&event) != OK) continue;
                if (event.bstate & (BUTTON4_PRESSED | BUTTON5_PRESSED)) {
                    Wheel(dialog, event.y, event.x, (event.bstate & BUTTON4_PRESSED) != 0);
                    return true;
                }
                if (event.bstate & BUTTON1_PRESSED) {
                    MouseDown(dialog, event.y, event.x);
                    return true;
                }
                if (event.bstate & BUTTON1_RELEASED) {
                    MouseUp(dialog, event.y, event.x);
                    return true;
                }
                continue;
            }
            default:
                if (key >= 0x20 && key < 0x7F) {
                    TypeCharacter(dialog, static_cast<char>(key));
                    return true;
                }
                continue;
        }
    }
}

int CursesFrontEnd::ShowMessageBox(HWND, const std::string& caption, const std::string& text, UINT type) {
    if (report_) report_->MessageBoxShown(caption, text);
    Start();
    std::vector<BoxButton> buttons = ButtonsOf(type);
    std::vector<std::string> lines = Wrap(text, 60);
    size_t width = caption.size() + 4;
    for (const std::string& line : lines) width = std::max(width, line.size() + 4);
    std::string row;
    for (const BoxButton& b : buttons) row += std::string("[ ") + b.label + " ] ";
    width = std::max(width, row.size() + 4);
    int height = static_cast<int>(lines.size()) + 5;
    int top = std::max(0, (std::min(LINES, 42) - height) / 2);
    int left = std::max(0, (std::min(COLS, 109) - static_cast<int>(width)) / 2);
    size_t chosen = 0;
    int pressed = -1;  // the button a mouse button went down on
    bool pressSeen = false;
    for (;;) {
        EnsureCanvas(top + height, left + static_cast<int>(width));
        if (lastDialog_ && IsWindow(lastDialog_)) {
            Draw(lastDialog_);
        } else {
            werase(canvas_);
        }
        for (int y = 0; y < height; ++y) mvwhline(canvas_, top + y, left, ' ', static_cast<int>(width));
        Box(canvas_, {top, left, height, static_cast<int>(width)});
        wattron(canvas_, A_REVERSE);
        Text(canvas_, top, left + 1, " " + caption + " ", static_cast<int>(width) - 2);
        wattroff(canvas_, A_REVERSE);
        for (size_t i = 0; i < lines.size(); ++i)
            Text(canvas_, top + 2 + static_cast<int>(i), left + 2, lines[i], static_cast<int>(width) - 4);
        int x = left + 2;
        std::vector<std::pair<int, int>> spans;
        for (size_t i = 0; i < buttons.size(); ++i) {
            std::string label = std::string("[ ") + buttons[i].label + " ]";
            if (i == chosen) wattron(canvas_, A_REVERSE);
            Text(canvas_, top + height - 2, x, label, static_cast<int>(label.size()));
            if (i == chosen) wattroff(canvas_, A_REVERSE);
            spans.push_back({x, x + static_cast<int>(label.size())});
            x += static_cast<int>(label.size()) + 1;
        }
        Show();
        int key = ReadKey();
        switch (key) {
            case ERR:
            case 3: return DefaultMessageBoxAnswer(type);
            case '\t':
            case KEY_RIGHT: chosen = (chosen + 1) % buttons.size(); break;
            case KEY_BTAB:
            case KEY_LEFT: chosen = (chosen + buttons.size() - 1) % buttons.size(); break;
            case '\n':
            case '\r':
            case ' ':
            case KEY_ENTER: return buttons[chosen].id;
            case 27:
                for (const BoxButton& b : buttons) {
                    if (b.id == IDCANCEL) return IDCANCEL;
                }
                if (buttons.size() == 1) return buttons[0].id;
                break;
            case KEY_MOUSE: {
                MEVENT event;
                if (getmouse(&event) != OK) break;
                int under = -1;
                for (size_t i = 0; i < spans.size(); ++i) {
                    if (event.y == top + height - 2 && event.x >= spans[i].first && event.x < spans[i].second)
                        under = static_cast<int>(i);
                }
                // A button is chosen on the press and pressed on its release over it.
                if (event.bstate & BUTTON1_PRESSED) {
                    pressed = under;
                    pressSeen = true;
                    if (under >= 0) chosen = static_cast<size_t>(under);
                } else if (event.bstate & BUTTON1_RELEASED) {
                    if (!pressSeen) pressed = under;  // press and release read together
                    if (under >= 0 && under == pressed) return buttons[static_cast<size_t>(under)].id;
                    pressed = -1;
                    pressSeen = false;
                }
                break;
            }
            default: break;
        }
    }
}

void CursesFrontEnd::DialogEnded(HWND, INT_PTR result) {
    if (report_) report_->DialogEnded(result);
    lastDialog_ = nullptr;
}

}  // namespace ui
}  // namespace standin
