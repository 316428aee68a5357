// Drawing the dialog and its controls in character cells, and turning keys
// and mouse clicks into user input.
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

void Text(int row, int column, const std::string& text, int width) {
    if (width <= 0) return;
    std::string shown = text.substr(0, static_cast<size_t>(width));
    mvaddnstr(row, column, shown.c_str(), width);
}

void Box(const CellRect& r) {
    if (r.height < 2 || r.width < 2) return;
    mvaddch(r.top, r.left, ACS_ULCORNER);
    mvhline(r.top, r.left + 1, ACS_HLINE, r.width - 2);
    mvaddch(r.top, r.left + r.width - 1, ACS_URCORNER);
    mvvline(r.top + 1, r.left, ACS_VLINE, r.height - 2);
    mvvline(r.top + 1, r.left + r.width - 1, ACS_VLINE, r.height - 2);
    mvaddch(r.top + r.height - 1, r.left, ACS_LLCORNER);
    mvhline(r.top + r.height - 1, r.left + 1, ACS_HLINE, r.width - 2);
    mvaddch(r.top + r.height - 1, r.left + r.width - 1, ACS_LRCORNER);
}

void DrawButton(const Window& w, bool focused, bool isDefault) {
    CellRect r = CellsOf(w);
    if ((w.style & BS_TYPEMASK) == BS_GROUPBOX) {
        Box(r);
        Text(r.top, r.left + 1, w.text, r.width - 2);
        return;
    }
    std::string text = w.text.substr(0, static_cast<size_t>(std::max(r.width - 2, 1)));
    std::string label = isDefault ? "<" + text + ">" : "[" + text + "]";
    int row = r.top + (r.height - 1) / 2;
    int column = r.left + std::max(0, (r.width - static_cast<int>(label.size())) / 2);
    attr_t attributes = (focused ? A_REVERSE : 0) | (isDefault ? A_BOLD : 0) | ((w.style & WS_DISABLED) ? A_DIM : 0);
    attron(attributes);
    Text(row, column, label, r.left + r.width - column);
    attroff(attributes);
}

void DrawEdit(const Window& w, bool focused) {
    CellRect r = CellsOf(w);
    int row = r.top + (r.height - 1) / 2;
    std::string field = w.text;
    field.resize(static_cast<size_t>(std::max(r.width - 2, 0)), ' ');
    mvaddch(row, r.left, '[');
    attron(focused ? A_REVERSE : A_UNDERLINE);
    Text(row, r.left + 1, field, r.width - 2);
    attroff(focused ? A_REVERSE : A_UNDERLINE);
    mvaddch(row, r.left + r.width - 1, ']');
}

void DrawList(HWND hwnd, const Window& w, bool focused) {
    const ListViewModel* m = ListViewOf(hwnd);
    if (!m) return;
    CellRect r = CellsOf(w);
    Box(r);
    const int innerLeft = r.left + 1;
    const int innerWidth = r.width - 2;
    const int page = ListViewRowsPerPage(hwnd);
    // Header.
    int x = 0;
    attron(A_BOLD);
    for (const ListViewColumn& col : m->columns) {
        int cells = std::max(1, col.width / kBaseUnitX);
        if (x >= innerWidth) break;
        Text(r.top + 1, innerLeft + x, col.text, std::min(cells - 1, innerWidth - x));
        x += cells;
    }
    attroff(A_BOLD);
    // Rows.
    for (int i = 0; i < page; ++i) {
        int index = m->topIndex + i;
        if (index >= static_cast<int>(m->items.size())) break;
        const ListViewItem& item = m->items[index];
        int row = r.top + 2 + i;
        if (row >= r.top + r.height - 1) break;
        bool selected = (item.state & LVIS_SELECTED) && (focused || (w.style & LVS_SHOWSELALWAYS));
        bool fullRow = (m->extendedStyle & LVS_EX_FULLROWSELECT) != 0;
        x = 0;
        for (size_t c = 0; c < m->columns.size() && x < innerWidth; ++c) {
            int cells = std::max(1, m->columns[c].width / kBaseUnitX);
            std::string text = c < item.cells.size() ? item.cells[c] : "";
            attr_t attributes = 0;
            if (selected && (fullRow || c == 0)) attributes |= A_REVERSE;
            if (index == m->focusedItem && focused && c == 0) attributes |= A_UNDERLINE;
            int shown = std::min(cells, innerWidth - x);
            std::string cell = text;
            cell.resize(static_cast<size_t>(std::max(shown, 0)), ' ');
            if (shown > 1 && static_cast<int>(text.size()) >= shown) cell[shown - 1] = ' ';
            attron(attributes);
            Text(row, innerLeft + x, cell, shown);
            attroff(attributes);
            x += cells;
        }
    }
    // A scroll position mark on the right edge.
    const int count = static_cast<int>(m->items.size());
    if (count > page && r.height > 4) {
        int track = r.height - 3;
        int at = static_cast<int>(static_cast<long long>(m->topIndex) * (track - 1) / std::max(1, count - page));
        mvaddch(r.top + 2 + at, r.left + r.width - 1, ACS_CKBOARD);
    }
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
    keypad(stdscr, TRUE);
    curs_set(0);
    mousemask(BUTTON1_PRESSED | BUTTON1_CLICKED | BUTTON4_PRESSED | BUTTON5_PRESSED, nullptr);
    mouseinterval(0);
}

void CursesFrontEnd::Draw(HWND dialog) {
    fflush(stdout);
    if (stdoutIsTerminal_) clearok(curscr, TRUE);
    erase();
    Window* d = FindWindowRecord(dialog);
    if (!d) {
        refresh();
        return;
    }
    if (d->iconic) {
        // The minimised window: the program's icon in a small box, and its caption.
        CellRect icon = {0, 0, 3, 6};
        Box(icon);
        mvaddstr(1, 2, "[Q]");
        Text(3, 0, d->text + " (minimised: Enter or a click restores it)", COLS);
        refresh();
        return;
    }
    RECT client;
    GetClientRect(dialog, &client);
    CellRect frame = {0, 0, static_cast<int>(client.bottom / kBaseUnitY) + 2,
                      static_cast<int>(client.right / kBaseUnitX) + 2};
    Box(frame);
    attron(A_REVERSE);
    std::string caption = " " + d->text + " ";
    caption.resize(static_cast<size_t>(std::max(frame.width - 2, 0)), ' ');
    Text(0, 1, caption, frame.width - 2);
    Text(0, frame.width - 8, "[_][X]", 6);
    attroff(A_REVERSE);
    HWND focus = GetFocus();
    HWND defaultButton = CurrentDefaultButton(dialog);
    // Group boxes first, so that the controls inside them are drawn over them.
    for (int pass = 0; pass < 2; ++pass) {
        for (HWND child : d->children) {
            Window* w = FindWindowRecord(child);
            if (!w || !(w->style & WS_VISIBLE)) continue;
            bool groupBox = w->className == "Button" && (w->style & BS_TYPEMASK) == BS_GROUPBOX;
            if ((pass == 0) != groupBox) continue;
            if (w->className == "Button")
                DrawButton(*w, child == focus, child == defaultButton);
            else if (w->className == "Edit")
                DrawEdit(*w, child == focus);
            else if (w->className == WC_LISTVIEWA)
                DrawList(child, *w, child == focus);
            else {
                CellRect r = CellsOf(*w);
                Text(r.top, r.left, w->text, r.width);
            }
        }
    }
    if (LINES < frame.height + 1 || COLS < frame.width) {
        std::string note = " the window needs " + std::to_string(frame.width) + " x " +
                           std::to_string(frame.height + 1) + " cells: enlarge the terminal ";
        attron(A_REVERSE);
        Text(LINES - 1, 0, note, COLS);
        attroff(A_REVERSE);
    } else {
        mvaddstr(frame.height, 0,
                 "Tab/Shift-Tab move  arrows, PgUp/PgDn scroll  Enter/Space press  Esc cancel  F9 minimise  F4 close");
    }
    refresh();
}

void CursesFrontEnd::Click(HWND dialog, int row, int column) {
    Window* d = FindWindowRecord(dialog);
    if (!d) return;
    if (d->iconic) {
        PressRestore(dialog);
        return;
    }
    RECT client;
    GetClientRect(dialog, &client);
    int width = static_cast<int>(client.right / kBaseUnitX) + 2;
    if (row == 0) {
        if (column >= width - 8 && column < width - 5) PressMinimize(dialog);
        if (column >= width - 5 && column < width - 2) PressCloseBox(dialog);
        return;
    }
    // The topmost control under the cell; group boxes let clicks through.
    for (auto it = d->children.rbegin(); it != d->children.rend(); ++it) {
        Window* w = FindWindowRecord(*it);
        if (!w || !(w->style & WS_VISIBLE)) continue;
        if (w->className == "Button" && (w->style & BS_TYPEMASK) == BS_GROUPBOX) continue;
        CellRect r = CellsOf(*w);
        if (row < r.top || row >= r.top + r.height || column < r.left || column >= r.left + r.width) continue;
        if (w->className == WC_LISTVIEWA) {
            // Inside the border: the first inner row is the header, then the items.
            int innerRow = row - r.top - 1;
            int innerColumn = column - r.left - 1;
            if (innerRow < 0 || innerColumn < 0 || row == r.top + r.height - 1) return;
            ClickAt(*it, innerColumn * kBaseUnitX + 1, innerRow * kListRowHeight + kListRowHeight / 2);
        } else {
            ClickControl(*it);
        }
        return;
    }
}

void CursesFrontEnd::Wheel(HWND dialog, int row, int column, bool up) {
    Window* d = FindWindowRecord(dialog);
    if (!d || d->iconic) return;
    for (HWND child : d->children) {
        Window* w = FindWindowRecord(child);
        if (!w || !(w->style & WS_VISIBLE) || w->className != WC_LISTVIEWA) continue;
        CellRect r = CellsOf(*w);
        if (row < r.top || row >= r.top + r.height || column < r.left || column >= r.left + r.width) continue;
        SendMessageA(child, WM_MOUSEWHEEL, MAKEWPARAM(0, up ? 120 : static_cast<WORD>(-120)), 0);
        return;
    }
}

bool CursesFrontEnd::NextInput(HWND dialog) {
    Start();
    lastDialog_ = dialog;
    Draw(dialog);
    for (;;) {
        int key = getch();
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
                if (!(event.bstate & (BUTTON1_PRESSED | BUTTON1_CLICKED))) continue;
                Click(dialog, event.y, event.x);
                return true;
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
    for (;;) {
        if (lastDialog_ && IsWindow(lastDialog_)) Draw(lastDialog_); else erase();
        for (int y = 0; y < height; ++y) mvhline(top + y, left, ' ', static_cast<int>(width));
        Box({top, left, height, static_cast<int>(width)});
        attron(A_REVERSE);
        Text(top, left + 1, " " + caption + " ", static_cast<int>(width) - 2);
        attroff(A_REVERSE);
        for (size_t i = 0; i < lines.size(); ++i) Text(top + 2 + static_cast<int>(i), left + 2, lines[i], static_cast<int>(width) - 4);
        int x = left + 2;
        std::vector<std::pair<int, int>> spans;
        for (size_t i = 0; i < buttons.size(); ++i) {
            std::string label = std::string("[ ") + buttons[i].label + " ]";
            if (i == chosen) attron(A_REVERSE);
            Text(top + height - 2, x, label, static_cast<int>(label.size()));
            if (i == chosen) attroff(A_REVERSE);
            spans.push_back({x, x + static_cast<int>(label.size())});
            x += static_cast<int>(label.size()) + 1;
        }
        refresh();
        int key = getch();
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
                for (size_t i = 0; i < spans.size(); ++i) {
                    if (event.y == top + height - 2 && event.x >= spans[i].first && event.x < spans[i].second)
                        return buttons[i].id;
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
