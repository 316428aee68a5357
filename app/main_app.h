// The application object: its start-up routine is the program's whole life.
#ifndef QUORVENAL_MAIN_APP_H
#define QUORVENAL_MAIN_APP_H

#include "../framework/afx.h"

class MainApp : public CWinApp {
public:
    MainApp();
    BOOL InitInstance() override;

    DECLARE_MESSAGE_MAP()
};

extern MainApp theApp;

#endif
