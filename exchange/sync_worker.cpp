#include "exchange/sync_worker.h"

#include <mutex>

#include "device/afc_file.h"
#include "device/device_session.h"
#include "device/sync_state.h"
#include "exchange/companion_paths.h"
#include "exchange/ringtone_report.h"
#include "exchange/sync_queue.h"

namespace {

constexpr uint32_t WORKER_PASS_MS = 200;

// After a re-attach the worker of the earlier attach may still be in its last pass when the new
// one begins. One pass at a time keeps the two from both finding syncBusy clear and starting
// two jobs at once.
std::mutex passLock;

// A command file is a request when it can be opened; its content is never read.
bool CommandFilePresent(AFCConnectionRef afc, const char* path) {
    AFCFileRef file = 0;
    if (MobileDevice.AFCFileRefOpen(afc, path, AFC_MODE_READ, &file) != 0) return false;
    MobileDevice.AFCFileRefClose(afc, file);
    return true;
}

// The AirTraffic threads of a job, or none.
struct JobThreads {
    platform::ThreadId reader = 0;
    platform::ThreadId driver = 0;
    bool operator==(const JobThreads&) const = default;
};

JobThreads CurrentJobThreads() { return {syncState.athReaderThread.load(), syncState.athDriverThread.load()}; }

// StartSyncJob; the threads of the job when it started one.
JobThreads StartJob() {
    JobThreads before = CurrentJobThreads();
    StartSyncJob();
    JobThreads after = CurrentJobThreads();
    return after == before ? JobThreads{} : after;
}

void PostQuit(const JobThreads& threads) {
    if (threads.reader) platform::PostToThread(threads.reader, platform::MSG_THREAD_QUIT, 0, 0);
    if (threads.driver) platform::PostToThread(threads.driver, platform::MSG_THREAD_QUIT, 0, 0);
}

}  // namespace

unsigned DeviceWorker(void*) {
    JobThreads startedLastPass;
    for (;;) {
        if (platform::DrainThreadMessages()) {
            // A detach or re-attach that told this worker to quit while it was starting a job
            // may have posted before the job's threads were stored, and so missed them. A second
            // quit to threads that did get one is harmless.
            PostQuit(startedLastPass);
            return 0;
        }
        startedLastPass = {};
        {
            std::lock_guard pass(passLock);
            if (IsDeviceReady() && syncState.protocolOk && !syncState.syncBusy) {
                ProbeCommandFiles();
                if (syncState.wantCurrentRing) ReportCurrentRingtones();
                if (syncState.wantUpdateRing) startedLastPass = StartJob();
            }
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
