#include "exchange/heartbeat.h"

#include <cstdio>
#include <cstring>

#include "device/afc_file.h"
#include "device/device_session.h"
#include "device/sync_state.h"
#include "exchange/companion_paths.h"

namespace {

constexpr uint32_t HEARTBEAT_PERIOD_MS = 500;
constexpr uint32_t HEARTBEAT_RETRY_MS = 20;
constexpr size_t HEARTBEAT_SIZE = 64;

// One beat; false when the session, the connection or the file could not be opened.
bool WriteHeartbeat() {
    AMServiceConnection service = OpenCompanionAfc();
    if (!service) return false;
    AfcConnection afc(service);
    if (!afc.IsOpen()) return false;
    AFCFileRef file = 0;
    if (MobileDevice.AFCFileRefOpen(afc.Get(), HEARTBEAT_PATH, AFC_MODE_WRITE_CREATE, &file) != 0) return false;
    char beat[HEARTBEAT_SIZE] = {};
    long count = static_cast<long>(++syncState.heartbeatCount);
    std::snprintf(beat, sizeof beat, "Version:%s,HeartBeat:%ld", PROTOCOL_VERSION, count);
    MobileDevice.AFCFileRefWrite(afc.Get(), file, beat, sizeof beat);
    MobileDevice.AFCFileRefClose(afc.Get(), file);
    return true;
}

// Names containing "protocol_" announce the version that follows their first nine bytes.
bool AnnouncesNewerProtocol(const char* name) {
    if (IsDotEntry(name) || !std::strstr(name, "protocol_")) return false;
    return std::strcmp(PROTOCOL_VERSION, name + 9) < 0;
}

}  // namespace

unsigned HeartbeatWriter(void*) {
    for (;;) {
        if (platform::DrainThreadMessages()) return 0;
        if (syncState.connectionState == Waiting) {
            syncState.heartbeatCount = 0;
            platform::SleepMs(HEARTBEAT_PERIOD_MS);
            continue;
        }
        platform::SleepMs(WriteHeartbeat() ? HEARTBEAT_PERIOD_MS : HEARTBEAT_RETRY_MS);
    }
}

bool CheckProtocolVersion() {
    AMServiceConnection service = OpenCompanionAfc();
    if (!service) return true;
    AfcConnection afc(service);
    if (!afc.IsOpen()) return true;
    bool accepted = true;
    if (!ListAfcDirectory(afc.Get(), PROTOCOL_DIR, [&](const char* name) {
            if (AnnouncesNewerProtocol(name)) accepted = false;
        })) {
        return true;
    }
    if (!accepted) WriteAfcFile(afc.Get(), PROTOCOL_UPDATE_MARKER_PATH, "1", 1);
    return accepted;
}
