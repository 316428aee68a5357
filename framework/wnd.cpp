// CWnd: a window handle, the registry of windows the framework created, and
// the routing of their messages into the message map.
#include "afx.h"

#include <vector>

namespace {

struct Registration {
    HWND hwnd;
    CWnd* wnd;
};

// Windows the framework created (its dialogs), so that the dialog procedure
// can find the object for a handle. One thread, a handful of windows.
std::vector<Registration>& Registry() {
    static std::vector<Registration> registry;
    return registry;
}

}  // namespace

CWnd::~CWnd() { Detach(); }

CWnd* CWnd::FromHandlePermanent(HWND hwnd) {
    if (hwnd == NULL) return NULL;
    for (const Registration& entry : Registry()) {
        if (entry.hwnd == hwnd) return entry.wnd;
    }
    return NULL;
}

void CWnd::Attach(HWND hwnd) {
    Detach();
    m_hWnd = hwnd;
    Registry().push_back(Registration{hwnd, this});
}

void CWnd::Detach() {
    std::vector<Registration>& registry = Registry();
    for (size_t i = 0; i < registry.size(); ++i) {
        if (registry[i].wnd == this) {
            registry.erase(registry.begin() + static_cast<long>(i));
            break;
        }
    }
    m_hWnd = NULL;
}

HWND CWnd::GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return ::SendMessageA(m_hWnd, message, wParam, lParam);
}

void CWnd::SetWindowTextA(LPCSTR text) { ::SetWindowTextA(m_hWnd, text); }

int CWnd::GetWindowTextA(LPSTR text, int maxCount) const { return ::GetWindowTextA(m_hWnd, text, maxCount); }

void CWnd::GetClientRect(LPRECT rect) const { ::GetClientRect(m_hWnd, rect); }

BOOL CWnd::IsIconic() const { return ::IsIconic(m_hWnd); }

void CWnd::DoDataExchange(CDataExchange*) {}

BOOL CWnd::UpdateData(BOOL saveAndValidate) {
    CDataExchange dx(this, saveAndValidate);
    DoDataExchange(&dx);
    return !dx.m_bFailed;
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    *result = 0;
    if (message == WM_COMMAND) {
        UINT code = HIWORD(wParam);
        UINT id = LOWORD(wParam);
        if (DispatchMapped(message, code, id, wParam, lParam, result)) return TRUE;
        // Commands the window does not handle go to the application.
        CWinApp* app = AfxGetApp();
        return app != NULL && app->DispatchMapped(message, code, id, wParam, lParam, result);
    }
    if (message == WM_NOTIFY) {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header == NULL) return FALSE;
        return DispatchMapped(message, header->code, static_cast<UINT>(header->idFrom), wParam, lParam,
                              result);
    }
    return DispatchMapped(message, 0, 0, wParam, lParam, result);
}

void DDX_Control(CDataExchange* dx, int id, CWnd& control) {
    if (dx->m_bSaveAndValidate) return;  // binding happens when the controls are loaded
    HWND item = dx->m_pDlgWnd->GetDlgItem(id);
    control.m_hWnd = item;
    if (item == NULL) dx->m_bFailed = TRUE;
}
