// The application object and the process-wide pieces the framework's start-up provides.
#pragma once

#include <windows.h>

#include <string>

class CWnd;

class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Instance start: the base registers with the restart manager as the support flags ask.
    // False means no message loop runs and the process ends.
    virtual BOOL InitInstance();
    // The framework's run of the process: InitInstance, then a message loop if it returned true.
    int Run(HINSTANCE instance);

    void SetRegistryKey(const wchar_t* company) { registryKey_ = company; }
    const std::wstring& RegistryKey() const { return registryKey_; }

    HINSTANCE m_hInstance = nullptr;
    CWnd* m_pMainWnd = nullptr;
    DWORD m_dwRestartManagerSupportFlags = 0;

private:
    std::wstring registryKey_;
};

constexpr DWORD AFX_RESTART_MANAGER_SUPPORT_RESTART = 0x01;

// The one application object, or none.
CWinApp* AfxGetApp();
// The module the dialog templates and pictures come from: the program's own.
HINSTANCE AfxGetResourceHandle();
// Lets windows host embedded (OLE) controls: OLE is initialised on the calling thread.
void AfxEnableControlContainer();

// Holds the shell's allocator for the framework's shell helpers while it exists.
class CShellManager {
public:
    CShellManager();
    ~CShellManager();
    CShellManager(const CShellManager&) = delete;
    CShellManager& operator=(const CShellManager&) = delete;

private:
    struct IMalloc* malloc_ = nullptr;
};
