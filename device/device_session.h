// Device sessions under the named mutex, and the two ways into the phone.
#pragma once

#include <string>

#include "device/apple_api.h"
#include "device/sync_state.h"

inline constexpr char16_t SESSION_MUTEX_NAME[] = u"HAS_AFC_SERVICE";
inline constexpr char COMPANION_BUNDLE_ID[] = "com.zephra.tonesmithclient";
inline constexpr char MEDIA_SERVICE_NAME[] = "com.apple.afc";
inline constexpr char16_t STATUS_WAITING_TEXT[] = u"等待设备接入";

// One session: the mutex handle of this session and the phone it was opened on. The phone is
// taken once, under the mutex, so a detach meanwhile cannot change it half-way.
struct DeviceSession {
    platform::MutexHandle mutex = nullptr;
    AMDeviceRef device = nullptr;
};

// False when the mutex cannot be opened (nothing else happens). Otherwise the mutex is held
// and, with a phone current, the phone is connected, checked for pairing and a session started
// as far as each step succeeds.
bool EnterDeviceSession(DeviceSession& session);
void LeaveDeviceSession(DeviceSession& session);

// Each runs one session and returns a service connection, or 0 when there is none.
AMServiceConnection OpenCompanionAfc();
AMServiceConnection OpenMediaAfc();

// Replaces the field with the string's UTF-8 text; a none string leaves it unchanged.
void CopyCfStringText(CFStringRef string, SharedText& field);

bool IsDeviceReady();

// An AFC connection opened on a service connection and closed when the scope ends.
class AfcConnection {
public:
    explicit AfcConnection(AMServiceConnection service);
    ~AfcConnection();
    AfcConnection(const AfcConnection&) = delete;
    AfcConnection& operator=(const AfcConnection&) = delete;
    bool IsOpen() const { return ref_ != nullptr; }
    AFCConnectionRef Get() const { return ref_; }

private:
    AFCConnectionRef ref_ = nullptr;
};
