#include "startup/startup.h"

#include "device/apple_bindings.h"
#include "device/apple_runtime.h"
#include "device/device_events.h"
#include "device/device_session.h"
#include "device/sync_state.h"
#include "airtraffic/ath_conversation.h"
#include "exchange/heartbeat.h"
#include "exchange/sync_queue.h"
#include "exchange/sync_worker.h"

bool StartAppleSupport(const std::u16string& root) {
    // The creating handle is never closed: the mutex lives as long as the process.
    platform::CreateNamedMutex(SESSION_MUTEX_NAME);
    PrepareAppleSearchPath(root);
    if (!BindAppleLibraries()) return false;
    SetAttachHooks({CheckProtocolVersion, DeviceWorker});
    SetSyncThreadStarter(StartAthThreads);
    SubscribeDeviceEvents();
    return true;
}

platform::ThreadId StartHeartbeat() {
    syncState.heartbeatCount = 0;
    return platform::StartThread(HeartbeatWriter, nullptr);
}

void PostQuitToAllThreads(std::initializer_list<platform::ThreadId> ownThreads) {
    for (platform::ThreadId thread : ownThreads) {
        if (thread) platform::PostToThread(thread, platform::MSG_THREAD_QUIT, 0, 0);
    }
    PostQuitToPhoneThreads();
}
