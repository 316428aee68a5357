// The process entry: runs the one application object and returns.
#include "afx.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand) {
    CWinApp* app = AfxGetApp();
    if (app == NULL) return -1;  // no application object in the program
    app->SetProcessArguments(instance, commandLine, showCommand);
    // A dialog-based application does all its work inside InitInstance; the
    // framework has no modeless windows, so there is no message loop to run
    // afterwards whatever InitInstance answers.
    app->InitInstance();
    return app->ExitInstance();
}
