// CDialog: modal runs from a template, the dialog procedure that feeds the
// message map, and the base OK/Cancel/paint behaviour.
#include "afx.h"

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_COMMAND(IDOK, &CDialog::OnOK)
ON_COMMAND(IDCANCEL, &CDialog::OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT templateId, CWnd* parent)
    : m_lpszTemplateName(MAKEINTRESOURCEA(templateId)), m_pParentWnd(parent) {}

INT_PTR CDialog::DoModal() {
    HINSTANCE instance = AfxFindResourceHandle(m_lpszTemplateName, RT_DIALOG);
    HWND parent = m_pParentWnd != NULL ? m_pParentWnd->m_hWnd : NULL;
    INT_PTR result = ::DialogBoxParamA(instance, m_lpszTemplateName, parent, &CDialog::DialogProc,
                                       reinterpret_cast<LPARAM>(this));
    Detach();
    return result;
}

void CDialog::EndDialog(int result) { ::EndDialog(m_hWnd, result); }

BOOL CDialog::OnInitDialog() {
    if (!UpdateData(FALSE)) {
        // A control the class binds is missing from the template: the dialog
        // cannot work, so it ends as one that could not be created.
        EndDialog(-1);
        return FALSE;
    }
    return TRUE;
}

void CDialog::OnOK() {
    if (!UpdateData(TRUE)) return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::OnPaint() { CPaintDC dc(this); }

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        // The object arrives with the first message that counts; from here on
        // the handle finds it.
        CDialog* dialog = reinterpret_cast<CDialog*>(lParam);
        if (dialog == NULL) return FALSE;
        dialog->Attach(hwnd);
        return dialog->OnInitDialog();
    }
    CDialog* dialog = static_cast<CDialog*>(FromHandlePermanent(hwnd));
    if (dialog == NULL) return FALSE;  // messages before WM_INITDIALOG
    if (message == WM_NCDESTROY) {
        dialog->Detach();
        return FALSE;
    }
    LRESULT result = 0;
    if (!dialog->OnWndMsg(message, wParam, lParam, &result)) return FALSE;
    // A dialog procedure returns WM_QUERYDRAGICON's answer itself; other
    // answers travel in the window's message result.
    if (message == WM_QUERYDRAGICON) return static_cast<INT_PTR>(result);
    if (message == WM_NOTIFY) ::SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, result);
    return TRUE;
}
