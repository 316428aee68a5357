// The stand-in's list-view control ("SysListView32") in report view, and what
// the front ends read of it to draw it.
#ifndef STANDIN_UI_LIST_VIEW_H
#define STANDIN_UI_LIST_VIEW_H

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "window_manager.h"

namespace standin {
namespace ui {

struct ListViewColumn {
    std::string text;
    int width = 0;  // pixels
    int format = LVCFMT_LEFT;
    int subItem = 0;  // as the inserter gave it; cells are kept by column index
};

struct ListViewItem {
    std::vector<std::string> cells;  // by column index; cell 0 is the item text
    UINT state = 0;                  // LVIS_* except LVIS_FOCUSED, which is focusedItem
    LPARAM param = 0;
    int image = 0;
};

struct ListViewModel : ControlState {
    std::vector<ListViewColumn> columns;
    std::vector<ListViewItem> items;
    int focusedItem = -1;
    int selectionMark = -1;
    DWORD extendedStyle = 0;
    int topIndex = 0;
    int scrollX = 0;       // pixels the rows and the header are scrolled to the left
    int pressedItem = -2;  // item under a mouse button that is down; -2 none
};

// Geometry of the report view: one header line and rows of one text line,
// 13 pixels each (one terminal cell).
const int kListRowHeight = 13;
const int kListHeaderHeight = 13;

// Horizontal scrolling: Left and Right scroll by kListScrollStep pixels, a
// click on the scroll bar's track by the visible width.
const int kListScrollStep = 30;

// The model behind a list-view window, or null.
const ListViewModel* ListViewOf(HWND hwnd);
// Rows shown at once: the list's height in rows less two border lines and the header.
int ListViewRowsPerPage(HWND hwnd);
// Width shown at once, in pixels: the list's width less its two border columns
// (one cell each, as the border lines above and below).
int ListViewVisibleWidth(HWND hwnd);
// The width a column is drawn with: its own width, or its widest text and the
// cell padding when that is wider. Windows' proportional font fits texts that
// the stand-in's fixed-pitch cells do not; drawn this way, every cell shows whole.
std::vector<int> ListViewShownWidths(const ListViewModel& m);
// The sum of the shown column widths, and how far the view can scroll to the left.
int ListViewContentWidth(HWND hwnd);
int ListViewMaxScrollX(HWND hwnd);

void RegisterListViewClass();

}  // namespace ui
}  // namespace standin

#endif
