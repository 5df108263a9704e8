// MSG_UI_NOTIFY: how the core tells the main window something. The window (or the headless
// runner) installs the sender; the call returns only when the window has handled the code.
#pragma once

#include <cstdint>

#include "platform/platform.h"

inline constexpr uint32_t MSG_UI_NOTIFY = platform::MSG_USER_BASE + 100;

enum : uint32_t {
    NOTIFY_MINIMIZE = 1,
    NOTIFY_CLOSE = 2,
    NOTIFY_DOWNLOAD_ITUNES = 3,
    NOTIFY_OPEN_HELP = 4,
    NOTIFY_ITUNES_RUNNING = 80,
    NOTIFY_UPDATE_NEEDED = 99,
};

using UiNotifySender = void (*)(uint32_t code);

void SetUiNotifySender(UiNotifySender sender);
// Sends synchronously; without a window nothing receives it.
void SendUiNotify(uint32_t code);
