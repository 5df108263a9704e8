#include "device/ui_notify.h"

#include <atomic>

namespace {
std::atomic<UiNotifySender> currentSender{nullptr};
}

void SetUiNotifySender(UiNotifySender sender) { currentSender = sender; }

void SendUiNotify(uint32_t code) {
    if (UiNotifySender sender = currentSender.load()) sender(code);
}
