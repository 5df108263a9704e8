#include "device/device_events.h"

#include <cstring>

#include "device/apple_bindings.h"
#include "device/device_session.h"
#include "device/sync_state.h"
#include "device/ui_notify.h"

namespace {

AttachHooks attachHooks;

uint32_t ConnectionNumber(AMDeviceRef device) {
    uint32_t number = 0;
    std::memcpy(&number, static_cast<const char*>(device) + AM_DEVICE_CONNECTION_NUMBER_OFFSET, sizeof number);
    return number;
}

// One phone at a time: an event for another phone than the current one is ignored.
bool IsOtherPhone(AMDeviceRef device) {
    AMDeviceRef current = syncState.device.load();
    return current && ConnectionNumber(current) != ConnectionNumber(device);
}

void PostQuit(const std::atomic<platform::ThreadId>& thread) {
    if (platform::ThreadId id = thread.load()) platform::PostToThread(id, platform::MSG_THREAD_QUIT, 0, 0);
}

void IdentifyPhone(AMDeviceRef device) {
    if (CFStringRef id = MobileDevice.AMDeviceCopyDeviceIdentifier(device)) {
        CopyCfStringText(id, syncState.deviceId);
        CoreFoundation.CFRelease(id);
    }
    CFStringRef key = CoreFoundation.__CFStringMakeConstantString("DeviceName");
    CFTypeRef name = MobileDevice.AMDeviceCopyValue(device, nullptr, key);
    CoreFoundation.CFRelease(key);
    if (name) {
        syncState.connectionState = Connected;
        CopyCfStringText(name, syncState.statusText);
        CoreFoundation.CFRelease(name);
    }
}

void OnAttached(AMDeviceRef device) {
    if (IsOtherPhone(device)) return;
    syncState.device = device;
    DeviceSession session;
    if (!EnterDeviceSession(session)) return;
    IdentifyPhone(session.device);
    LeaveDeviceSession(session);

    PostQuitToPhoneThreads();

    if (syncState.firstAttach && attachHooks.checkProtocolVersion) {
        bool accepted = attachHooks.checkProtocolVersion();
        syncState.protocolOk = accepted;
        // The window runs a modal prompt; this thread waits until the user has closed it.
        if (!accepted) SendUiNotify(NOTIFY_UPDATE_NEEDED);
        syncState.firstAttach = false;
    }
    if (attachHooks.deviceWorker) syncState.deviceWorkerThread = platform::StartThread(attachHooks.deviceWorker, nullptr);
}

void OnDetached(AMDeviceRef device) {
    if (IsOtherPhone(device)) return;
    PostQuitToPhoneThreads();
    // The phone's reference is cleared under the session mutex, so a session that began before
    // the detach has ended before the library may let go of the reference.
    platform::MutexHandle mutex = platform::OpenNamedMutex(SESSION_MUTEX_NAME);
    if (mutex) platform::WaitNamedMutex(mutex);
    syncState.connectionState = Waiting;
    syncState.statusText.Set(STATUS_WAITING_TEXT);
    syncState.deviceId.Set({});
    syncState.device = nullptr;
    if (mutex) {
        platform::ReleaseNamedMutex(mutex);
        platform::CloseNamedMutex(mutex);
    }
}

}  // namespace

void SetAttachHooks(const AttachHooks& hooks) { attachHooks = hooks; }

void PostQuitToPhoneThreads() {
    PostQuit(syncState.athReaderThread);
    PostQuit(syncState.athDriverThread);
    PostQuit(syncState.deviceWorkerThread);
}

void APPLE_CALL OnDeviceNotification(const AMDeviceEvent* event) {
    if (!event || !event->device) return;
    if (event->kind == AMDeviceEventAttached) OnAttached(event->device);
    else if (event->kind == AMDeviceEventDetached) OnDetached(event->device);
}

void SubscribeDeviceEvents() {
    MobileDevice.AMDeviceNotificationSubscribe(OnDeviceNotification, 0, 0, nullptr, &syncState.deviceNotification);
}
