// The list-view wrapper and the paint device context.
#include "afx.h"

BOOL CListCtrl::SetItem(const LVITEM* item) {
    return static_cast<BOOL>(SendMessage(LVM_SETITEM, 0, reinterpret_cast<LPARAM>(item)));
}

BOOL CListCtrl::SetItem(int item, int subItem, UINT mask, LPCSTR text, int image, UINT state, UINT stateMask,
                        LPARAM lParam) {
    LVITEM record = {};
    record.mask = mask;
    record.iItem = item;
    record.iSubItem = subItem;
    record.pszText = const_cast<LPSTR>(text);  // the control copies, never writes
    record.iImage = image;
    record.state = state;
    record.stateMask = stateMask;
    record.lParam = lParam;
    return SetItem(&record);
}

BOOL CListCtrl::SetItemState(int item, UINT state, UINT stateMask) {
    LVITEM record = {};
    record.state = state;
    record.stateMask = stateMask;
    return static_cast<BOOL>(
        SendMessage(LVM_SETITEMSTATE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&record)));
}

DWORD_PTR CListCtrl::GetItemData(int item) const {
    LVITEM record = {};
    record.mask = LVIF_PARAM;
    record.iItem = item;
    // A row that does not exist leaves lParam at 0.
    SendMessage(LVM_GETITEM, 0, reinterpret_cast<LPARAM>(&record));
    return static_cast<DWORD_PTR>(record.lParam);
}

CPaintDC::CPaintDC(CWnd* wnd) : m_hWnd(wnd->m_hWnd) { m_hDC = ::BeginPaint(m_hWnd, &m_ps); }

CPaintDC::~CPaintDC() { ::EndPaint(m_hWnd, &m_ps); }
