#include "ui/notify_dispatch.h"

#include "device/ui_notify.h"
#include "ui/image_buttons.h"

LRESULT DispatchUiNotify(WPARAM code, UiNotifyActions& actions) {
    switch (code) {
    case NOTIFY_MINIMIZE: actions.MinimizeMainWindow(); break;
    case NOTIFY_CLOSE: actions.CloseMainWindow(); break;
    case NOTIFY_DOWNLOAD_ITUNES: actions.OpenWebPage(ITUNES_DOWNLOAD_URL); break;
    case NOTIFY_OPEN_HELP: actions.OpenWebPage(HELP_PAGE_URL); break;
    case NOTIFY_ITUNES_RUNNING: actions.RunItunesRunningPrompt(); break;
    case NOTIFY_UPDATE_NEEDED: actions.RunVersionPrompt(); break;
    default: return 0;
    }
    return static_cast<LRESULT>(code);
}
