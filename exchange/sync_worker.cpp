#include "exchange/sync_worker.h"

#include "device/afc_file.h"
#include "device/device_session.h"
#include "device/sync_state.h"
#include "exchange/companion_paths.h"
#include "exchange/ringtone_report.h"
#include "exchange/sync_queue.h"

namespace {

constexpr uint32_t WORKER_PASS_MS = 200;

// A command file is a request when it can be opened; its content is never read.
bool CommandFilePresent(AFCConnectionRef afc, const char* path) {
    AFCFileRef file = 0;
    if (MobileDevice.AFCFileRefOpen(afc, path, AFC_MODE_READ, &file) != 0) return false;
    MobileDevice.AFCFileRefClose(afc, file);
    return true;
}

}  // namespace

unsigned DeviceWorker(void*) {
    for (;;) {
        if (platform::DrainThreadMessages()) return 0;
        if (IsDeviceReady() && syncState.protocolOk && !syncState.syncBusy) {
            ProbeCommandFiles();
            if (syncState.wantCurrentRing) ReportCurrentRingtones();
            if (syncState.wantUpdateRing) StartSyncJob();
        }
        platform::SleepMs(WORKER_PASS_MS);
    }
}

void ProbeCommandFiles() {
    AMServiceConnection service = OpenCompanionAfc();
    if (!service) return;
    AfcConnection afc(service);
    if (!afc.IsOpen()) return;
    syncState.wantCurrentRing = CommandFilePresent(afc.Get(), GET_CURRENT_RING_PATH);
    syncState.wantUpdateRing = CommandFilePresent(afc.Get(), UPDATE_RING_PATH);
}

void ResetSyncJob() {
    syncState.syncBusy = true;
    syncState.athConnection = nullptr;
    syncState.syncOperation = RemoveTones;
    syncState.insertedPid = 0;
    syncState.lastAthMessage.Set({});
    syncState.addedTonePath.Set({});
    syncState.addedToneTitle.Set({});
    std::vector<uint64_t>().swap(syncState.pidsToDelete);
}

void ClearSyncQueue() {
    AMServiceConnection service = OpenCompanionAfc();
    if (!service) return;
    AfcConnection afc(service);
    if (!afc.IsOpen()) return;
    RemoveAfcPaths(afc.Get(), {UPDATE_RING_PATH, ADD_QUEUE_DIR, REMOVE_QUEUE_DIR});
}
