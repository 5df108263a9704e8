#include "device/device_session.h"

#include <cstring>

#include "device/apple_bindings.h"

bool EnterDeviceSession(DeviceSession& session) {
    session.mutex = platform::OpenNamedMutex(SESSION_MUTEX_NAME);
    if (!session.mutex) return false;
    platform::WaitNamedMutex(session.mutex);
    session.device = syncState.device.load();
    if (!session.device) return true;
    AMDeviceRef device = session.device;
    // Each step runs only when the one before it succeeded; the caller's operation is tried
    // whatever was reached, and its own result shows whether it worked.
    if (MobileDevice.AMDeviceConnect(device) == 0 && MobileDevice.AMDeviceIsPaired(device) == 1 &&
        MobileDevice.AMDeviceValidatePairing(device) == 0) {
        MobileDevice.AMDeviceStartSession(device);
    }
    return true;
}

void LeaveDeviceSession(DeviceSession& session) {
    if (session.device) {
        MobileDevice.AMDeviceStopSession(session.device);
        MobileDevice.AMDeviceDisconnect(session.device);
    }
    platform::ReleaseNamedMutex(session.mutex);
    platform::CloseNamedMutex(session.mutex);
    session = DeviceSession{};
}

namespace {

template <typename StartService>
AMServiceConnection OpenService(const char* name, StartService start) {
    DeviceSession session;
    if (!EnterDeviceSession(session)) return 0;
    AMServiceConnection service = 0;
    AppleResult result = -1;
    if (session.device) {
        CFStringRef nameString = CoreFoundation.__CFStringMakeConstantString(name);
        result = start(session.device, nameString, &service);
        CoreFoundation.CFRelease(nameString);
    }
    LeaveDeviceSession(session);
    return result == 0 ? service : 0;
}

}  // namespace

AMServiceConnection OpenCompanionAfc() {
    return OpenService(COMPANION_BUNDLE_ID, [](AMDeviceRef device, CFStringRef bundle, AMServiceConnection* out) {
        return MobileDevice.AMDeviceStartHouseArrestService(device, bundle, nullptr, out, nullptr);
    });
}

AMServiceConnection OpenMediaAfc() {
    return OpenService(MEDIA_SERVICE_NAME, [](AMDeviceRef device, CFStringRef service, AMServiceConnection* out) {
        return MobileDevice.AMDeviceStartService(device, service, out, nullptr);
    });
}

namespace {

// Length of the text up to its first zero byte, less a UTF-8 sequence cut off at the end of a
// full buffer (a name longer than the buffer keeps its whole characters only).
size_t WholeUtf8Length(const char* buffer, size_t capacity) {
    size_t length = strnlen(buffer, capacity);
    if (length + 1 < capacity) return length;
    size_t lead = length;
    while (lead > 0 && (static_cast<unsigned char>(buffer[lead - 1]) & 0xC0) == 0x80) --lead;
    if (lead == 0) return length;
    unsigned char first = static_cast<unsigned char>(buffer[lead - 1]);
    size_t need = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC0 ? 2 : 1;
    return length - (lead - 1) < need ? lead - 1 : length;
}

}  // namespace

void CopyCfStringText(CFStringRef string, SharedText& field) {
    if (!string) return;
    char buffer[1024] = {};
    CoreFoundation.CFStringGetCString(string, buffer, sizeof buffer, kCFStringEncodingUTF8);
    field.Set(platform::Utf8ToUtf16(std::string_view(buffer, WholeUtf8Length(buffer, sizeof buffer))));
}

bool IsDeviceReady() {
    return syncState.device.load() != nullptr && syncState.connectionState.load() != Waiting;
}

AfcConnection::AfcConnection(AMServiceConnection service) {
    AFCConnectionRef ref = nullptr;
    if (MobileDevice.AFCConnectionOpen(service, 0, &ref) == 0) ref_ = ref;
}

AfcConnection::~AfcConnection() {
    if (ref_) MobileDevice.AFCConnectionClose(ref_);
}
