// The program's dialog framework: a small class shell over plain Win32 for a
// dialog-based application. One application object runs the program from
// its InitInstance; dialogs run modally from a template resource; a message
// map per class routes WM_COMMAND, WM_NOTIFY, WM_PAINT and WM_QUERYDRAGICON to
// member handlers; controls are bound to member objects by id.
//
// This is the one header the program includes.
#ifndef QUORVENAL_FRAMEWORK_AFX_H
#define QUORVENAL_FRAMEWORK_AFX_H

#include <windows.h>
#include <commctrl.h>

#include "afx_msgmap.h"

// The framework's standard command ids.
#ifndef ID_HELP
#define ID_HELP 0xE146
#endif

class CWnd;
class CDataExchange;

// Anything with a message map.
class CCmdTarget {
public:
    CCmdTarget() = default;
    virtual ~CCmdTarget() = default;
    CCmdTarget(const CCmdTarget&) = delete;
    CCmdTarget& operator=(const CCmdTarget&) = delete;

    // Looks `message` up in the class's maps, most derived first. code and id
    // are the notification code and control id of WM_COMMAND and WM_NOTIFY
    // (0 for other messages). Calls the first matching handler, stores what it
    // returned in *result and returns TRUE; returns FALSE when none matches.
    BOOL DispatchMapped(UINT message, UINT code, UINT id, WPARAM wParam, LPARAM lParam, LRESULT* result);

protected:
    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;
};

// A window handle with the operations the program uses.
class CWnd : public CCmdTarget {
public:
    CWnd() = default;
    ~CWnd() override;

    HWND m_hWnd = NULL;

    HWND GetSafeHwnd() const { return m_hWnd; }
    // The handle of child control `id` (NULL when there is none).
    HWND GetDlgItem(int id) const;
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    void SetWindowTextA(LPCSTR text);
    int GetWindowTextA(LPSTR text, int maxCount) const;
    void GetClientRect(LPRECT rect) const;
    BOOL IsIconic() const;

    // Moves data between the window and its members through DoDataExchange.
    // FALSE: load the controls (binds them); TRUE: save from them. Returns
    // FALSE when an exchange failed, e.g. a control id the window lacks.
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

    // The object registered for a window the framework created, or NULL.
    static CWnd* FromHandlePermanent(HWND hwnd);

    // Routes one message through the message map: WM_COMMAND by control id
    // and notification code (then to the application's map), WM_NOTIFY by
    // the sender's id and code, anything else by message. Returns TRUE when a
    // handler ran; *result is its result.
    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

protected:
    virtual void DoDataExchange(CDataExchange* dx);

    // Ties this object to hwnd so that its messages reach the message map.
    void Attach(HWND hwnd);
    void Detach();
};

// The current direction of an UpdateData call and whether it failed.
class CDataExchange {
public:
    CDataExchange(CWnd* dialog, BOOL saveAndValidate)
        : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialog) {}

    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;
    BOOL m_bFailed = FALSE;
};

// Binds `control` to the dialog's child window `id`. A missing control marks
// the exchange failed and leaves the control unbound.
void DDX_Control(CDataExchange* dx, int id, CWnd& control);

// A modal dialog built from a dialog template resource.
class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId, CWnd* parent = NULL);

    // Runs the dialog until EndDialog; returns its end code, or -1 when the
    // dialog could not be created.
    virtual INT_PTR DoModal();
    void EndDialog(int result);

    // Binds the controls (UpdateData(FALSE)) and returns TRUE so that the
    // dialog manager gives the focus to the first tab-stop control. When a
    // control cannot be bound the dialog ends with -1 and FALSE is returned.
    virtual BOOL OnInitDialog();

    // The dialog procedure of every CDialog.
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

protected:
    // "OK" (IDOK): saves the controls' data and ends the dialog with IDOK.
    virtual void OnOK();
    // "Cancel" (IDCANCEL, also Escape and the close box): ends it with IDCANCEL.
    virtual void OnCancel();
    // Default painting: validates the update region, drawing nothing of its own.
    void OnPaint();

    LPCSTR m_lpszTemplateName;
    CWnd* m_pParentWnd;

    DECLARE_MESSAGE_MAP()
};

// A report-view list control (the program sends most list-view messages itself).
class CListCtrl : public CWnd {
public:
    BOOL SetItem(const LVITEM* item);
    BOOL SetItem(int item, int subItem, UINT mask, LPCSTR text, int image, UINT state, UINT stateMask,
                 LPARAM lParam);
    BOOL SetItemState(int item, UINT state, UINT stateMask);
    DWORD_PTR GetItemData(int item) const;
};

// An edit control.
class CEdit : public CWnd {};

// BeginPaint on construction, EndPaint on destruction.
class CPaintDC {
public:
    explicit CPaintDC(CWnd* wnd);
    ~CPaintDC();
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;

    HDC GetSafeHdc() const { return m_hDC; }
    BOOL DrawIcon(int x, int y, HICON icon) { return ::DrawIcon(m_hDC, x, y, icon); }

    HDC m_hDC;
    PAINTSTRUCT m_ps;

private:
    HWND m_hWnd;
};

// The application: its one object is constructed statically, and the process
// entry (WinMain) runs its InitInstance and then ends the process.
class CWinApp : public CCmdTarget {
public:
    // appName NULL: the program file's name without its extension.
    explicit CWinApp(LPCSTR appName = NULL);
    ~CWinApp() override;

    // The program's start-up; the base does nothing and returns TRUE.
    virtual BOOL InitInstance();
    // Called last; its result is the process's exit code.
    virtual int ExitInstance();

    // The framework's help command. The program ships no help file, so there
    // is nothing to open.
    void OnHelp();

    LPCSTR m_pszAppName = NULL;
    HINSTANCE m_hInstance = NULL;
    LPSTR m_lpCmdLine = NULL;
    int m_nCmdShow = 0;
    CWnd* m_pMainWnd = NULL;

    // Called by WinMain with its arguments before InitInstance.
    void SetProcessArguments(HINSTANCE instance, LPSTR commandLine, int showCommand);

private:
    char m_defaultAppName[MAX_PATH] = {};

    DECLARE_MESSAGE_MAP()
};

// The process entry the framework provides; it runs the application object.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand);

// The application object (NULL when the program has none).
CWinApp* AfxGetApp();
// The application's title: its name.
LPCSTR AfxGetAppName();
HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();
// The module holding resource `name` of `type`: the program itself.
HINSTANCE AfxFindResourceHandle(LPCSTR name, LPCSTR type);
// MessageBoxA owned by the main window, captioned with the application's title.
int AfxMessageBox(LPCSTR text, UINT type = MB_OK, UINT helpId = 0);

#endif
