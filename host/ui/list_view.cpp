// The list-view control in report view: columns, items and sub-items, item
// data, focused and selected states with their notifications, the selection
// mark, mouse clicks and keyboard navigation, column sizing.
#include "list_view.h"

#include <strings.h>

#include <algorithm>
#include <cstring>

#include "text_width.h"

namespace standin {
namespace ui {
namespace {

// Padding of a cell's text (left and right), used when sizing to contents.
const int kCellPadding = 12;
const int kScrollBarWidth = 17;

ListViewModel* Model(HWND hwnd) {
    Window* w = FindWindowRecord(hwnd);
    return w ? dynamic_cast<ListViewModel*>(w->state.get()) : nullptr;
}

int Count(const ListViewModel& m) { return static_cast<int>(m.items.size()); }

// Columns that shrink or go take the horizontal scroll position with them.
void KeepScrollInRange(HWND hwnd) {
    ListViewModel* m = Model(hwnd);
    if (m) m->scrollX = std::max(0, std::min(m->scrollX, ListViewMaxScrollX(hwnd)));
}

UINT StateOf(const ListViewModel& m, int index) {
    UINT state = m.items[index].state;
    if (index == m.focusedItem) state |= LVIS_FOCUSED;
    return state;
}

std::string TextArg(LPCSTR text) {
    if (!text || reinterpret_cast<LONG_PTR>(text) == -1) return "";  // LPSTR_TEXTCALLBACK is not kept
    return text;
}

LRESULT SendItemNotification(HWND hwnd, UINT code, int item, UINT oldState, UINT newState, UINT changed,
                             LPARAM param) {
    NMLISTVIEW nm;
    memset(&nm, 0, sizeof(nm));
    nm.iItem = item;
    nm.iSubItem = 0;
    nm.uOldState = oldState;
    nm.uNewState = newState;
    nm.uChanged = changed;
    nm.lParam = param;
    return NotifyParent(hwnd, &nm.hdr, code);
}

bool SetItem(HWND hwnd, const LVITEMA& request);

bool SetState(HWND hwnd, int index, UINT state, UINT mask) {
    LVITEMA item;
    memset(&item, 0, sizeof(item));
    item.mask = LVIF_STATE;
    item.iItem = index;
    item.state = state;
    item.stateMask = mask;
    return SetItem(hwnd, item);
}

void DeselectAllExcept(HWND hwnd, int keep) {
    for (int i = 0;; ++i) {
        ListViewModel* m = Model(hwnd);
        if (!m || i >= Count(*m)) break;
        if (i != keep && (m->items[i].state & LVIS_SELECTED)) SetState(hwnd, i, 0, LVIS_SELECTED);
    }
}

// Sets the main item's text, data or state, with LVN_ITEMCHANGING before and
// LVN_ITEMCHANGED after any change; a sub-item takes only its text.
bool SetItem(HWND hwnd, const LVITEMA& request) {
    ListViewModel* m = Model(hwnd);
    if (!m) return false;
    const int index = request.iItem;
    if (index < 0 || index >= Count(*m)) return false;
    const int columns = std::max<int>(1, static_cast<int>(m->columns.size()));
    if (request.iSubItem < 0 || request.iSubItem >= columns) return false;
    ListViewItem& item = m->items[index];
    if (request.iSubItem > 0) {
        if (request.mask & LVIF_TEXT) {
            if (item.cells.size() <= static_cast<size_t>(request.iSubItem))
                item.cells.resize(request.iSubItem + 1);
            item.cells[request.iSubItem] = TextArg(request.pszText);
            InvalidateRect(hwnd, nullptr, TRUE);
        }
        return true;
    }

    UINT changed = 0;
    const std::string newText = (request.mask & LVIF_TEXT) ? TextArg(request.pszText) : std::string();
    if ((request.mask & LVIF_TEXT) && item.cells[0] != newText) changed |= LVIF_TEXT;
    if ((request.mask & LVIF_PARAM) && item.param != request.lParam) changed |= LVIF_PARAM;
    if ((request.mask & LVIF_IMAGE) && item.image != request.iImage) changed |= LVIF_IMAGE;
    const UINT oldState = StateOf(*m, index);
    UINT newState = oldState;
    if (request.mask & LVIF_STATE) {
        newState = (oldState & ~request.stateMask) | (request.state & request.stateMask);
        if (newState != oldState) changed |= LVIF_STATE;
    }
    if (!changed) return true;
    const UINT reportOld = (changed & LVIF_STATE) ? oldState : 0;
    const UINT reportNew = (changed & LVIF_STATE) ? newState : 0;
    if (SendItemNotification(hwnd, LVN_ITEMCHANGING, index, reportOld, reportNew, changed, item.param))
        return false;  // the parent refused the change

    const bool selecting = (newState & LVIS_SELECTED) && !(oldState & LVIS_SELECTED);
    // Only one item has the focus: the one that had it loses it first, notified.
    if ((newState & LVIS_FOCUSED) && !(oldState & LVIS_FOCUSED) && m->focusedItem >= 0 &&
        m->focusedItem != index)
        SetState(hwnd, m->focusedItem, 0, LVIS_FOCUSED);
    Window* w = FindWindowRecord(hwnd);
    if (selecting && w && (w->style & LVS_SINGLESEL)) DeselectAllExcept(hwnd, index);

    m = Model(hwnd);  // the parent may have changed the list meanwhile
    if (!m || index >= Count(*m)) return false;
    ListViewItem& target = m->items[index];
    if (changed & LVIF_TEXT) target.cells[0] = newText;
    if (changed & LVIF_PARAM) target.param = request.lParam;
    if (changed & LVIF_IMAGE) target.image = request.iImage;
    if (changed & LVIF_STATE) {
        target.state = newState & ~static_cast<UINT>(LVIS_FOCUSED);
        if (newState & LVIS_FOCUSED)
            m->focusedItem = index;
        else if (m->focusedItem == index)
            m->focusedItem = -1;
        if (selecting && m->selectionMark == -1) m->selectionMark = index;
    }
    InvalidateRect(hwnd, nullptr, TRUE);
    SendItemNotification(hwnd, LVN_ITEMCHANGED, index, reportOld, reportNew, changed, target.param);
    return true;
}

int InsertItem(HWND hwnd, const LVITEMA* request) {
    ListViewModel* m = Model(hwnd);
    Window* w = FindWindowRecord(hwnd);
    if (!m || !w || !request || request->iSubItem != 0 || request->iItem < 0) return -1;
    ListViewItem item;
    item.cells.resize(std::max<size_t>(1, m->columns.size()));
    if (request->mask & LVIF_TEXT) item.cells[0] = TextArg(request->pszText);
    if (request->mask & LVIF_PARAM) item.param = request->lParam;
    if (request->mask & LVIF_IMAGE) item.image = request->iImage;
    UINT state = (request->mask & LVIF_STATE) ? (request->state & request->stateMask) : 0;
    item.state = state & ~static_cast<UINT>(LVIS_FOCUSED);
    int index = std::min(request->iItem, Count(*m));
    if (w->style & (LVS_SORTASCENDING | LVS_SORTDESCENDING)) {
        const bool ascending = (w->style & LVS_SORTASCENDING) != 0;
        index = 0;
        while (index < Count(*m)) {
            int cmp = strcasecmp(m->items[index].cells[0].c_str(), item.cells[0].c_str());
            if (ascending ? cmp > 0 : cmp < 0) break;
            ++index;
        }
    }
    m->items.insert(m->items.begin() + index, std::move(item));
    if (m->focusedItem >= index) m->focusedItem++;
    if (m->selectionMark >= index) m->selectionMark++;
    if (state & LVIS_FOCUSED) m->focusedItem = index;
    InvalidateRect(hwnd, nullptr, TRUE);
    SendItemNotification(hwnd, LVN_INSERTITEM, index, 0, 0, 0, m->items[index].param);
    return index;
}

bool DeleteItem(HWND hwnd, int index) {
    ListViewModel* m = Model(hwnd);
    if (!m || index < 0 || index >= Count(*m)) return false;
    SendItemNotification(hwnd, LVN_DELETEITEM, index, 0, 0, 0, m->items[index].param);
    m = Model(hwnd);
    if (!m || index >= Count(*m)) return false;
    m->items.erase(m->items.begin() + index);
    if (m->focusedItem == index)
        m->focusedItem = -1;
    else if (m->focusedItem > index)
        m->focusedItem--;
    if (m->selectionMark == index)
        m->selectionMark = -1;
    else if (m->selectionMark > index)
        m->selectionMark--;
    m->topIndex = std::max(0, std::min(m->topIndex, Count(*m) - 1));
    InvalidateRect(hwnd, nullptr, TRUE);
    return true;
}

bool DeleteAllItems(HWND hwnd) {
    ListViewModel* m = Model(hwnd);
    if (!m) return false;
    if (!m->items.empty()) {
        // A parent that answers FALSE wants LVN_DELETEITEM for every item.
        if (!SendItemNotification(hwnd, LVN_DELETEALLITEMS, -1, 0, 0, 0, 0)) {
            m = Model(hwnd);
            for (int i = 0; m && i < Count(*m); ++i) {
                SendItemNotification(hwnd, LVN_DELETEITEM, i, 0, 0, 0, m->items[i].param);
                m = Model(hwnd);
            }
        }
    }
    m = Model(hwnd);
    if (!m) return false;
    m->items.clear();
    m->focusedItem = -1;
    m->selectionMark = -1;
    m->topIndex = 0;
    InvalidateRect(hwnd, nullptr, TRUE);
    return true;
}

int ClientWidth(HWND hwnd) {
    RECT rc;
    GetClientRect(hwnd, &rc);
    int width = rc.right;
    const ListViewModel* m = Model(hwnd);
    if (m && Count(*m) > ListViewRowsPerPage(hwnd)) width -= kScrollBarWidth;
    return std::max(width, 0);
}

bool SetColumnWidth(HWND hwnd, int column, int cx) {
    ListViewModel* m = Model(hwnd);
    if (!m || column < 0 || column >= static_cast<int>(m->columns.size())) return false;
    ListViewColumn& col = m->columns[column];
    if (cx == LVSCW_AUTOSIZE || cx == LVSCW_AUTOSIZE_USEHEADER) {
        int width = 0;
        for (const ListViewItem& item : m->items) {
            const std::string& text =
                static_cast<size_t>(column) < item.cells.size() ? item.cells[column] : "";
            width = std::max(width, TextWidth(text) + kCellPadding);
        }
        if (cx == LVSCW_AUTOSIZE_USEHEADER) {
            width = std::max(width, TextWidth(col.text) + kCellPadding);
            // The last column also takes whatever width the others leave free.
            if (column + 1 == static_cast<int>(m->columns.size())) {
                int others = 0;
                for (int i = 0; i < column; ++i) others += m->columns[i].width;
                width = std::max(width, ClientWidth(hwnd) - others);
            }
        }
        col.width = width;
    } else {
        col.width = std::max(cx, 0);
    }
    KeepScrollInRange(hwnd);
    InvalidateRect(hwnd, nullptr, TRUE);
    return true;
}

int InsertColumn(HWND hwnd, int index, const LVCOLUMNA* request) {
    ListViewModel* m = Model(hwnd);
    if (!m || !request || index < 0) return -1;
    index = std::min(index, static_cast<int>(m->columns.size()));
    ListViewColumn col;
    if (request->mask & LVCF_TEXT) col.text = TextArg(request->pszText);
    if (request->mask & LVCF_WIDTH) col.width = std::max(request->cx, 0);
    if (request->mask & LVCF_FMT) col.format = request->fmt;
    col.subItem = (request->mask & LVCF_SUBITEM) ? request->iSubItem : index;
    const bool hadColumns = !m->columns.empty();
    m->columns.insert(m->columns.begin() + index, col);
    for (ListViewItem& item : m->items) {
        // The first column takes over the item text slot that exists without columns.
        if (!hadColumns) continue;
        if (static_cast<size_t>(index) <= item.cells.size())
            item.cells.insert(item.cells.begin() + index, std::string());
    }
    InvalidateRect(hwnd, nullptr, TRUE);
    return index;
}

bool GetColumn(HWND hwnd, int index, LVCOLUMNA* out) {
    const ListViewModel* m = Model(hwnd);
    if (!m || !out || index < 0 || index >= static_cast<int>(m->columns.size())) return false;
    const ListViewColumn& col = m->columns[index];
    if (out->mask & LVCF_FMT) out->fmt = col.format;
    if (out->mask & LVCF_WIDTH) out->cx = col.width;
    if (out->mask & LVCF_SUBITEM) out->iSubItem = col.subItem;
    if (out->mask & LVCF_ORDER) out->iOrder = index;
    if ((out->mask & LVCF_TEXT) && out->pszText && out->cchTextMax > 0) {
        size_t n = std::min(col.text.size(), static_cast<size_t>(out->cchTextMax - 1));
        memcpy(out->pszText, col.text.data(), n);
        out->pszText[n] = '\0';
    }
    return true;
}

int CopyCell(const ListViewModel& m, int index, int subItem, LPSTR buffer, int size) {
    if (!buffer || size <= 0) return 0;
    buffer[0] = '\0';
    if (index < 0 || index >= Count(m) || subItem < 0) return 0;
    const ListViewItem& item = m.items[index];
    if (static_cast<size_t>(subItem) >= item.cells.size()) return 0;
    const std::string& text = item.cells[subItem];
    size_t n = std::min(text.size(), static_cast<size_t>(size - 1));
    memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}

bool GetItem(HWND hwnd, LVITEMA* out) {
    const ListViewModel* m = Model(hwnd);
    if (!m || !out || out->iItem < 0 || out->iItem >= Count(*m) || out->iSubItem < 0) return false;
    const ListViewItem& item = m->items[out->iItem];
    if (out->mask & LVIF_TEXT) CopyCell(*m, out->iItem, out->iSubItem, out->pszText, out->cchTextMax);
    if (out->iSubItem == 0) {
        if (out->mask & LVIF_PARAM) out->lParam = item.param;
        if (out->mask & LVIF_IMAGE) out->iImage = item.image;
    }
    if (out->mask & LVIF_STATE) out->state = StateOf(*m, out->iItem) & out->stateMask;
    return true;
}

int NextItem(const ListViewModel& m, int start, UINT flags) {
    const int count = Count(m);
    if (flags & LVNI_ABOVE) return start > 0 && start - 1 < count ? start - 1 : -1;
    if (flags & LVNI_BELOW) return start + 1 < count ? start + 1 : -1;
    for (int i = std::max(start + 1, 0); i < count; ++i) {
        UINT state = StateOf(m, i);
        if ((flags & LVNI_SELECTED) && !(state & LVIS_SELECTED)) continue;
        if ((flags & LVNI_FOCUSED) && !(state & LVIS_FOCUSED)) continue;
        return i;
    }
    return -1;
}

void EnsureVisible(HWND hwnd, int index) {
    ListViewModel* m = Model(hwnd);
    if (!m || index < 0 || index >= Count(*m)) return;
    int page = ListViewRowsPerPage(hwnd);
    if (index < m->topIndex) m->topIndex = index;
    if (index >= m->topIndex + page) m->topIndex = index - page + 1;
    InvalidateRect(hwnd, nullptr, TRUE);
}

// What a click on an item or a keyboard move does: the focused item loses
// its focus, the others their selection, the item takes focus and selection,
// then the selection mark moves to it. Each change is notified on its own.
void SelectOnly(HWND hwnd, int index) {
    if (ListViewModel* m = Model(hwnd)) {
        if (m->focusedItem >= 0 && m->focusedItem != index) SetState(hwnd, m->focusedItem, 0, LVIS_FOCUSED);
    }
    DeselectAllExcept(hwnd, index);
    SetState(hwnd, index, LVIS_FOCUSED | LVIS_SELECTED, LVIS_FOCUSED | LVIS_SELECTED);
    if (ListViewModel* m = Model(hwnd)) {
        if (index < Count(*m)) m->selectionMark = index;
    }
    EnsureVisible(hwnd, index);
}

int ItemAtPoint(HWND hwnd, POINT pt, bool* onHeader) {
    const ListViewModel* m = Model(hwnd);
    Window* w = FindWindowRecord(hwnd);
    *onHeader = false;
    if (!m || !w) return -1;
    int top = (w->style & LVS_NOCOLUMNHEADER) ? 0 : kListHeaderHeight;
    if (pt.y < top) {
        *onHeader = !(w->style & LVS_NOCOLUMNHEADER);
        return -1;
    }
    int row = m->topIndex + (pt.y - top) / kListRowHeight;
    if (row >= Count(*m)) return -1;
    // Without full-row selection only the first column's text is the item.
    if (!(m->extendedStyle & LVS_EX_FULLROWSELECT) && !m->columns.empty()) {
        int textWidth = TextWidth(m->items[row].cells[0]) + kCellPadding;
        int x = pt.x + m->scrollX;
        if (x < 0 || x >= std::min(m->columns[0].width, textWidth)) return -1;
    }
    return row;
}

int SubItemAtPoint(const ListViewModel& m, POINT pt) {
    int x = 0;
    const int at = pt.x + m.scrollX;
    if (at < 0) return -1;
    const std::vector<int> widths = ListViewShownWidths(m);
    for (size_t i = 0; i < widths.size(); ++i) {
        x += widths[i];
        if (at < x) return static_cast<int>(i);
    }
    return -1;
}

void ScrollTo(HWND hwnd, int x) {
    ListViewModel* m = Model(hwnd);
    if (!m) return;
    int clamped = std::max(0, std::min(x, ListViewMaxScrollX(hwnd)));
    if (clamped == m->scrollX) return;
    m->scrollX = clamped;
    InvalidateRect(hwnd, nullptr, TRUE);
}

// WM_HSCROLL as the list's horizontal scroll bar sends it.
void HorizontalScroll(HWND hwnd, WPARAM request) {
    const ListViewModel* m = Model(hwnd);
    if (!m) return;
    const int page = std::max(ListViewVisibleWidth(hwnd), 1);
    switch (LOWORD(request)) {
        case SB_LINELEFT: ScrollTo(hwnd, m->scrollX - kListScrollStep); break;
        case SB_LINERIGHT: ScrollTo(hwnd, m->scrollX + kListScrollStep); break;
        case SB_PAGELEFT: ScrollTo(hwnd, m->scrollX - page); break;
        case SB_PAGERIGHT: ScrollTo(hwnd, m->scrollX + page); break;
        case SB_LEFT: ScrollTo(hwnd, 0); break;
        case SB_RIGHT: ScrollTo(hwnd, ListViewMaxScrollX(hwnd)); break;
        case SB_THUMBPOSITION:
        case SB_THUMBTRACK: ScrollTo(hwnd, static_cast<SHORT>(HIWORD(request))); break;
        default: break;
    }
}

void KeyDown(HWND hwnd, WPARAM key) {
    NMLVKEYDOWN nm;
    memset(&nm, 0, sizeof(nm));
    nm.wVKey = static_cast<WORD>(key);
    NotifyParent(hwnd, &nm.hdr, LVN_KEYDOWN);
    ListViewModel* m = Model(hwnd);
    if (!m || m->items.empty()) return;
    const int count = Count(*m);
    const int page = std::max(1, ListViewRowsPerPage(hwnd));
    const int current = m->focusedItem;
    int target;
    switch (key) {
        case VK_LEFT: ScrollTo(hwnd, m->scrollX - kListScrollStep); return;
        case VK_RIGHT: ScrollTo(hwnd, m->scrollX + kListScrollStep); return;
        case VK_UP: target = current < 0 ? 0 : std::max(current - 1, 0); break;
        case VK_DOWN: target = current < 0 ? 0 : std::min(current + 1, count - 1); break;
        case VK_HOME: target = 0; break;
        case VK_END: target = count - 1; break;
        // Page Up and Page Down first go to the top or the bottom row of the
        // page shown; from there they move a page less one row.
        case VK_PRIOR: {
            const int top = std::min(m->topIndex, count - 1);
            target = current == top ? std::max(top - (page - 1), 0) : top;
            break;
        }
        case VK_NEXT: {
            const int bottom = std::min(m->topIndex + page - 1, count - 1);
            target = current == bottom ? std::min(bottom + (page - 1), count - 1) : bottom;
            break;
        }
        case VK_SPACE: target = current < 0 ? 0 : current; break;
        default: return;
    }
    SelectOnly(hwnd, target);
}

LRESULT CALLBACK ListViewProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    ListViewModel* m = Model(hwnd);
    switch (message) {
        case WM_NCCREATE: {
            Window* w = FindWindowRecord(hwnd);
            if (w) w->state = std::make_unique<ListViewModel>();
            return TRUE;
        }
        case WM_GETDLGCODE: return DLGC_WANTARROWS | DLGC_WANTCHARS;
        case WM_SETFOCUS: {
            NMHDR nm;
            NotifyParent(hwnd, &nm, NM_SETFOCUS);
            return 0;
        }
        case WM_KILLFOCUS: {
            NMHDR nm;
            NotifyParent(hwnd, &nm, NM_KILLFOCUS);
            return 0;
        }
        case WM_LBUTTONDOWN: {
            if (!m) return 0;
            POINT pt = {static_cast<SHORT>(LOWORD(lParam)), static_cast<SHORT>(HIWORD(lParam))};
            bool onHeader;
            int row = ItemAtPoint(hwnd, pt, &onHeader);
            if (onHeader) return 0;  // headers that do not act as buttons: nothing happens
            if (GetFocus() != hwnd) SetFocus(hwnd);
            if (row >= 0)
                SelectOnly(hwnd, row);
            else
                DeselectAllExcept(hwnd, -1);
            if ((m = Model(hwnd))) m->pressedItem = row;
            return 0;
        }
        case WM_LBUTTONUP: {
            if (!m || m->pressedItem == -2) return 0;
            POINT pt = {static_cast<SHORT>(LOWORD(lParam)), static_cast<SHORT>(HIWORD(lParam))};
            NMITEMACTIVATE nm;
            memset(&nm, 0, sizeof(nm));
            nm.iItem = m->pressedItem;
            nm.iSubItem = SubItemAtPoint(*m, pt);
            nm.ptAction = pt;
            m->pressedItem = -2;
            NotifyParent(hwnd, &nm.hdr, NM_CLICK);
            return 0;
        }
        case WM_KEYDOWN: KeyDown(hwnd, wParam); return 0;
        case WM_HSCROLL: HorizontalScroll(hwnd, wParam); return 0;
        case WM_MOUSEWHEEL: {
            if (!m) return 0;
            int delta = static_cast<SHORT>(HIWORD(wParam)) > 0 ? -3 : 3;
            int maxTop = std::max(0, Count(*m) - ListViewRowsPerPage(hwnd));
            m->topIndex = std::max(0, std::min(m->topIndex + delta, maxTop));
            InvalidateRect(hwnd, nullptr, TRUE);
            return 0;
        }
        default: break;
    }
    if (!m) return DefWindowProcA(hwnd, message, wParam, lParam);
    switch (message) {
        case LVM_GETITEMCOUNT: return Count(*m);
        case LVM_INSERTITEMA: return InsertItem(hwnd, reinterpret_cast<const LVITEMA*>(lParam));
        case LVM_SETITEMA: {
            const LVITEMA* item = reinterpret_cast<const LVITEMA*>(lParam);
            return item && SetItem(hwnd, *item);
        }
        case LVM_GETITEMA: return GetItem(hwnd, reinterpret_cast<LVITEMA*>(lParam));
        case LVM_SETITEMSTATE: {
            const LVITEMA* item = reinterpret_cast<const LVITEMA*>(lParam);
            if (!item) return FALSE;
            int index = static_cast<int>(wParam);
            if (index == -1) {
                for (int i = 0; (m = Model(hwnd)) && i < Count(*m); ++i)
                    SetState(hwnd, i, item->state, item->stateMask);
                return TRUE;
            }
            return SetState(hwnd, index, item->state, item->stateMask);
        }
        case LVM_GETITEMSTATE: {
            int index = static_cast<int>(wParam);
            if (index < 0 || index >= Count(*m)) return 0;
            return StateOf(*m, index) & static_cast<UINT>(lParam);
        }
        case LVM_GETITEMTEXTA: {
            LVITEMA* item = reinterpret_cast<LVITEMA*>(lParam);
            if (!item) return 0;
            return CopyCell(*m, static_cast<int>(wParam), item->iSubItem, item->pszText, item->cchTextMax);
        }
        case LVM_SETITEMTEXTA: {
            const LVITEMA* item = reinterpret_cast<const LVITEMA*>(lParam);
            if (!item) return FALSE;
            LVITEMA request = *item;
            request.mask = LVIF_TEXT;
            request.iItem = static_cast<int>(wParam);
            return SetItem(hwnd, request);
        }
        case LVM_DELETEITEM: return DeleteItem(hwnd, static_cast<int>(wParam));
        case LVM_DELETEALLITEMS: return DeleteAllItems(hwnd);
        case LVM_GETNEXTITEM: return NextItem(*m, static_cast<int>(wParam), LOWORD(lParam));
        case LVM_GETSELECTEDCOUNT: {
            int n = 0;
            for (const ListViewItem& item : m->items) n += (item.state & LVIS_SELECTED) ? 1 : 0;
            return n;
        }
        case LVM_GETSTRINGWIDTHA: return lParam ? TextWidth(reinterpret_cast<const char*>(lParam)) : 0;
        case LVM_INSERTCOLUMNA:
            return InsertColumn(hwnd, static_cast<int>(wParam), reinterpret_cast<const LVCOLUMNA*>(lParam));
        case LVM_GETCOLUMNA:
            return GetColumn(hwnd, static_cast<int>(wParam), reinterpret_cast<LVCOLUMNA*>(lParam));
        case LVM_SETCOLUMNA: {
            const LVCOLUMNA* col = reinterpret_cast<const LVCOLUMNA*>(lParam);
            int index = static_cast<int>(wParam);
            if (!col || index < 0 || index >= static_cast<int>(m->columns.size())) return FALSE;
            ListViewColumn& target = m->columns[index];
            if (col->mask & LVCF_TEXT) target.text = TextArg(col->pszText);
            if (col->mask & LVCF_WIDTH) target.width = std::max(col->cx, 0);
            if (col->mask & LVCF_FMT) target.format = col->fmt;
            if (col->mask & LVCF_SUBITEM) target.subItem = col->iSubItem;
            KeepScrollInRange(hwnd);
            InvalidateRect(hwnd, nullptr, TRUE);
            return TRUE;
        }
        case LVM_DELETECOLUMN: {
            int index = static_cast<int>(wParam);
            if (index < 0 || index >= static_cast<int>(m->columns.size())) return FALSE;
            m->columns.erase(m->columns.begin() + index);
            for (ListViewItem& item : m->items) {
                if (m->columns.empty()) break;  // the item text stays
                if (static_cast<size_t>(index) < item.cells.size())
                    item.cells.erase(item.cells.begin() + index);
                if (item.cells.empty()) item.cells.resize(1);
            }
            KeepScrollInRange(hwnd);
            return TRUE;
        }
        case LVM_GETCOLUMNWIDTH: {
            int index = static_cast<int>(wParam);
            if (index < 0 || index >= static_cast<int>(m->columns.size())) return 0;
            return m->columns[index].width;
        }
        case LVM_SETCOLUMNWIDTH:
            return SetColumnWidth(hwnd, static_cast<int>(wParam), static_cast<SHORT>(LOWORD(lParam)));
        case LVM_GETHEADER: return 0;
        case LVM_GETTOPINDEX: return m->topIndex;
        case LVM_GETCOUNTPERPAGE: return ListViewRowsPerPage(hwnd);
        case LVM_ENSUREVISIBLE: EnsureVisible(hwnd, static_cast<int>(wParam)); return TRUE;
        case LVM_SCROLL: {
            // Horizontally by pixels; vertically by whole rows.
            int dy = static_cast<int>(lParam) / kListRowHeight;
            ScrollTo(hwnd, m->scrollX + static_cast<int>(wParam));
            if ((m = Model(hwnd)) && dy != 0) {
                int maxTop = std::max(0, Count(*m) - ListViewRowsPerPage(hwnd));
                m->topIndex = std::max(0, std::min(m->topIndex + dy, maxTop));
                InvalidateRect(hwnd, nullptr, TRUE);
            }
            return TRUE;
        }
        case LVM_SETEXTENDEDLISTVIEWSTYLE: {
            DWORD old = m->extendedStyle;
            DWORD mask = wParam ? static_cast<DWORD>(wParam) : 0xFFFFFFFFu;
            m->extendedStyle = (old & ~mask) | (static_cast<DWORD>(lParam) & mask);
            InvalidateRect(hwnd, nullptr, TRUE);
            return old;
        }
        case LVM_GETEXTENDEDLISTVIEWSTYLE: return m->extendedStyle;
        case LVM_GETSELECTIONMARK: return m->selectionMark;
        case LVM_SETSELECTIONMARK: {
            int old = m->selectionMark;
            m->selectionMark = static_cast<int>(lParam);
            return old;
        }
        case LVM_HITTEST: {
            LVHITTESTINFO* info = reinterpret_cast<LVHITTESTINFO*>(lParam);
            if (!info) return -1;
            bool onHeader;
            info->iItem = ItemAtPoint(hwnd, info->pt, &onHeader);
            info->iSubItem = SubItemAtPoint(*m, info->pt);
            info->flags = info->iItem >= 0 ? LVHT_ONITEMLABEL : LVHT_NOWHERE;
            return info->iItem;
        }
        case LVM_GETITEMRECT: {
            RECT* rect = reinterpret_cast<RECT*>(lParam);
            int index = static_cast<int>(wParam);
            if (!rect || index < 0 || index >= Count(*m)) return FALSE;
            Window* w = FindWindowRecord(hwnd);
            int top = (w && (w->style & LVS_NOCOLUMNHEADER)) ? 0 : kListHeaderHeight;
            int width = 0;
            for (const ListViewColumn& col : m->columns) width += col.width;
            rect->left = -m->scrollX;
            rect->right = width - m->scrollX;
            rect->top = top + (index - m->topIndex) * kListRowHeight;
            rect->bottom = rect->top + kListRowHeight;
            return TRUE;
        }
        default: return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}

}  // namespace

const ListViewModel* ListViewOf(HWND hwnd) { return Model(hwnd); }

int ListViewRowsPerPage(HWND hwnd) {
    Window* w = FindWindowRecord(hwnd);
    if (!w) return 1;
    int rows = (w->rect.bottom - w->rect.top) / kListRowHeight - 2;
    if (!(w->style & LVS_NOCOLUMNHEADER)) rows -= 1;
    return std::max(rows, 1);
}

int ListViewVisibleWidth(HWND hwnd) {
    Window* w = FindWindowRecord(hwnd);
    if (!w) return 0;
    return std::max(0, static_cast<int>(w->rect.right - w->rect.left) - 2 * kBaseUnitX);
}

std::vector<int> ListViewShownWidths(const ListViewModel& m) {
    std::vector<int> widths;
    for (size_t c = 0; c < m.columns.size(); ++c) {
        int width = m.columns[c].width;
        for (const ListViewItem& item : m.items) {
            if (c < item.cells.size() && !item.cells[c].empty())
                width = std::max(width, TextWidth(item.cells[c]) + kCellPadding);
        }
        widths.push_back(width);
    }
    return widths;
}

int ListViewContentWidth(HWND hwnd) {
    const ListViewModel* m = Model(hwnd);
    if (!m) return 0;
    int width = 0;
    for (int shown : ListViewShownWidths(*m)) width += shown;
    return width;
}

int ListViewMaxScrollX(HWND hwnd) {
    return std::max(0, ListViewContentWidth(hwnd) - ListViewVisibleWidth(hwnd));
}

void RegisterListViewClass() { RegisterBuiltinClass(WC_LISTVIEWA, ListViewProc); }

}  // namespace ui
}  // namespace standin
