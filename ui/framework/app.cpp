#include "ui/framework/app.h"

#include <objbase.h>
#include <ole2.h>
#include <shlobj.h>

namespace {
CWinApp* theApplication = nullptr;
}

CWinApp::CWinApp() {
    if (!theApplication) theApplication = this;
}

CWinApp::~CWinApp() {
    if (theApplication == this) theApplication = nullptr;
}

BOOL CWinApp::InitInstance() {
    if (m_dwRestartManagerSupportFlags & AFX_RESTART_MANAGER_SUPPORT_RESTART) {
        RegisterApplicationRestart(L"", 0);
    }
    return TRUE;
}

int CWinApp::Run(HINSTANCE instance) {
    m_hInstance = instance;
    if (!InitInstance()) return 0;
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

CWinApp* AfxGetApp() { return theApplication; }

HINSTANCE AfxGetResourceHandle() {
    if (theApplication && theApplication->m_hInstance) return theApplication->m_hInstance;
    return GetModuleHandleW(nullptr);
}

void AfxEnableControlContainer() { OleInitialize(nullptr); }

CShellManager::CShellManager() {
    if (FAILED(SHGetMalloc(&malloc_))) malloc_ = nullptr;
}

CShellManager::~CShellManager() {
    if (malloc_) malloc_->Release();
}
