// CWinApp and the application-wide helpers.
#include "afx.h"

#include <string.h>

namespace {
CWinApp* g_app = NULL;
}

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
END_MESSAGE_MAP()

CWinApp::CWinApp(LPCSTR appName) : m_pszAppName(appName) { g_app = this; }

CWinApp::~CWinApp() {
    if (g_app == this) g_app = NULL;
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::ExitInstance() { return 0; }

void CWinApp::OnHelp() {}

void CWinApp::SetProcessArguments(HINSTANCE instance, LPSTR commandLine, int showCommand) {
    m_hInstance = instance;
    m_lpCmdLine = commandLine;
    m_nCmdShow = showCommand;
    if (m_pszAppName != NULL) return;

    // No name given: the program file's name without folder and extension.
    char path[MAX_PATH] = {};
    DWORD length = ::GetModuleFileNameA(instance, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        m_pszAppName = "";
        return;
    }
    const char* name = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '\\' || *p == '/' || *p == ':') name = p + 1;
    }
    size_t nameLength = strlen(name);  // shorter than path, which fits MAX_PATH
    memcpy(m_defaultAppName, name, nameLength + 1);
    char* dot = strrchr(m_defaultAppName, '.');
    if (dot != NULL && dot != m_defaultAppName) *dot = '\0';
    m_pszAppName = m_defaultAppName;
}

CWinApp* AfxGetApp() { return g_app; }

LPCSTR AfxGetAppName() { return (g_app != NULL && g_app->m_pszAppName != NULL) ? g_app->m_pszAppName : ""; }

HINSTANCE AfxGetInstanceHandle() {
    if (g_app != NULL && g_app->m_hInstance != NULL) return g_app->m_hInstance;
    return ::GetModuleHandleA(NULL);
}

HINSTANCE AfxGetResourceHandle() { return AfxGetInstanceHandle(); }

HINSTANCE AfxFindResourceHandle(LPCSTR, LPCSTR) {
    // Every resource of the program lives in its own module.
    return AfxGetResourceHandle();
}

int AfxMessageBox(LPCSTR text, UINT type, UINT) {
    HWND owner = NULL;
    if (g_app != NULL && g_app->m_pMainWnd != NULL) owner = g_app->m_pMainWnd->m_hWnd;
    return ::MessageBoxA(owner, text, AfxGetAppName(), type);
}
