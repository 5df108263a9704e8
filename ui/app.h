// CChimeboxApp: the application object; its start routine runs the whole program.
#pragma once

#include "ui/framework/app.h"

class CChimeboxApp : public CWinApp {
public:
    CChimeboxApp();
    // Runs the main window modally, then tells every worker thread to quit. Always false: no
    // further message loop runs and the process ends.
    BOOL InitInstance() override;
};

extern CChimeboxApp theApp;
