// Phones attached and detached: the event function subscribed at start-up.
#pragma once

#include "device/apple_api.h"
#include "platform/platform.h"

// What an attach goes on to do, filled by the layers above the device layer: the protocol check
// of the first attach and the per-phone worker thread. A hook that is not set is skipped.
struct AttachHooks {
    bool (*checkProtocolVersion)() = nullptr;
    platform::ThreadEntry deviceWorker = nullptr;
};
void SetAttachHooks(const AttachHooks& hooks);

void APPLE_CALL OnDeviceNotification(const AMDeviceEvent* event);

// Posts MSG_THREAD_QUIT to AthReader, AthDriver and DeviceWorker, in this order.
void PostQuitToPhoneThreads();

// Subscribes OnDeviceNotification to device events.
void SubscribeDeviceEvents();
