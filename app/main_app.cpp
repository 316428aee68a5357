// MainApp: the program's one application object and its whole life.
#include "main_app.h"

#include "device_channel.h"
#include "main_dialog.h"
#include "service_control.h"

MainApp theApp;

BEGIN_MESSAGE_MAP(MainApp, CWinApp)
ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

MainApp::MainApp() = default;

BOOL MainApp::InitInstance() {
    // The list-view class must exist before the dialog is created.
    InitCommonControls();
    CWinApp::InitInstance();

    // A service left by an earlier run would keep an old driver loaded.
    UninstallDriverService();

    char driverPath[MAX_PATH] = {};
    if (OpenDeviceChannel(driverPath) != kChannelOpen) {
        MessageBoxA(NULL, "Failed to install/load quorvenal.sys!", NULL, MB_OK);
        UninstallDriverService();
        return FALSE;
    }

    MainDialog dialog;
    m_pMainWnd = &dialog;
    INT_PTR response = dialog.DoModal();
    // Only a dialog that ran removes the service; one that could not be
    // created (-1) leaves the driver installed.
    if (response == IDOK || response == IDCANCEL) {
        UninstallDriverService();
    }
    m_pMainWnd = NULL;  // the dialog object ends with this function
    return FALSE;
}
