#include "device/sync_state.h"

SyncState syncState;

void ResetSyncStateForTest() {
    SyncState& s = syncState;
    s.connectionState = Waiting;
    s.statusText.Set({});
    s.deviceId.Set({});
    s.device = nullptr;
    s.firstAttach = true;
    s.protocolOk = false;
    s.deviceNotification = nullptr;
    s.deviceWorkerThread = 0;
    s.athDriverThread = 0;
    s.athReaderThread = 0;
    s.heartbeatCount = 0;
    s.syncBusy = false;
    s.athConnection = nullptr;
    s.syncOperation = 0;
    s.insertedPid = 0;
    s.lastAthMessage.Set({});
    s.addedTonePath.Set({});
    s.addedToneTitle.Set({});
    std::vector<uint64_t>().swap(s.pidsToDelete);
    s.wantCurrentRing = false;
    s.wantUpdateRing = false;
}
