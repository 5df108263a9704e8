// What the main window does for each MSG_UI_NOTIFY code.
#pragma once

#include <windows.h>

class UiNotifyActions {
public:
    virtual ~UiNotifyActions() = default;
    virtual void MinimizeMainWindow() = 0;
    // The main window's OK action.
    virtual void CloseMainWindow() = 0;
    virtual void OpenWebPage(const wchar_t* url) = 0;
    // Each runs its prompt modally and returns when the user has closed it.
    virtual void RunItunesRunningPrompt() = 0;
    virtual void RunVersionPrompt() = 0;
};

// Carries out the code's action; the code it handled, or 0 for a code it does not know.
LRESULT DispatchUiNotify(WPARAM code, UiNotifyActions& actions);
