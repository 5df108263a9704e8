#include "ui/app.h"

#include <commctrl.h>

#include <memory>

#include "startup/startup.h"
#include "ui/main_window.h"

CChimeboxApp theApp;

CChimeboxApp::CChimeboxApp() { m_dwRestartManagerSupportFlags = AFX_RESTART_MANAGER_SUPPORT_RESTART; }

BOOL CChimeboxApp::InitInstance() {
    INITCOMMONCONTROLSEX classes{};
    classes.dwSize = sizeof classes;
    classes.dwICC = 0xFF;
    InitCommonControlsEx(&classes);

    CWinApp::InitInstance();

    AfxEnableControlContainer();
    auto shellManager = std::make_unique<CShellManager>();
    SetRegistryKey(L"应用程序向导生成的本地应用程序");

    auto mainWindow = std::make_unique<CChimeboxDlg>();
    m_pMainWnd = mainWindow.get();
    mainWindow->DoModal();
    // Only posts: nothing waits for any thread.
    PostQuitToAllThreads(
        {mainWindow->statusUpdaterThread, mainWindow->heartbeatWriterThread, mainWindow->itunesWatcherThread});

    shellManager.reset();
    m_pMainWnd = nullptr;
    mainWindow.reset();
    return FALSE;
}
