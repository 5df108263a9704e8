#include "airtraffic/ath_conversation.h"

#include <cstdio>
#include <atomic>
#include <cstring>
#include <shared_mutex>

#include "airtraffic/cf_objects.h"
#include "airtraffic/sync_plist.h"
#include "device/sync_state.h"
#include "exchange/sync_worker.h"

namespace {

constexpr uint32_t ATH_CYCLE_MS = 100;

// Calls on the connection hold this shared, so the driver's sends and the reader's reads can
// overlap; destroying it holds it exclusively, so it never happens while another thread is
// inside a call on it, and the exchange with none makes it happen exactly once.
std::shared_mutex connectionLock;

template <typename Call>
void WithConnection(Call call) {
    std::shared_lock lock(connectionLock);
    if (ATHostConnectionRef connection = syncState.athConnection.load()) call(connection);
}

void DestroyConnection() {
    std::unique_lock lock(connectionLock);
    if (ATHostConnectionRef connection = syncState.athConnection.exchange(nullptr)) AirTraffic.ATHostConnectionDestroy(connection);
}

// The job stays busy until both of its threads have ended and one of them reached the end of
// the job (normal end or quit teardown), so the next job never meets a thread of this one.
std::atomic<int> jobThreadsLeft{0};
std::atomic<bool> jobEnded{false};

void EndJobThread(bool endsJob) {
    if (endsJob) jobEnded = true;
    if (--jobThreadsLeft == 0 && jobEnded) syncState.syncBusy = false;
}

// Run by either thread on MSG_THREAD_QUIT.
void QuitTeardown() {
    DestroyConnection();
    ClearSyncQueue();
    EndJobThread(true);
}

void NormalEnd() {
    if (syncState.syncOperation == RemoveTones) {
        WithConnection([](ATHostConnectionRef c) { AirTraffic.ATHostConnectionSendPowerAssertion(c, CoreFoundation.kCFBooleanFalse); });
    }
    DestroyConnection();
    ClearSyncQueue();
    // A detach meanwhile has already put the state back to Waiting; a phone that is gone must
    // not show as connected again.
    ConnectionState syncing = Syncing;
    syncState.connectionState.compare_exchange_strong(syncing, Connected);
    EndJobThread(true);
}

CfObject RingtoneAnchors() {
    CfObject anchors = MakeDictionary();
    AddString(anchors, RINGTONE_DATACLASS, "1");
    return anchors;
}

// The name of the next message, or empty when there is none (or its name is empty).
std::u16string ReadMessageName() {
    char buffer[1024] = {};
    bool named = false;
    WithConnection([&](ATHostConnectionRef connection) {
        ATMessageRef message = AirTraffic.ATHostConnectionReadMessage(connection);
        if (!message) return;
        CFStringRef name = AirTraffic.ATCFMessageGetName(message);
        if (!name) return;
        if (CoreFoundation.CFStringGetLength(name) != 0) {
            CoreFoundation.CFStringGetCString(name, buffer, sizeof buffer, kCFStringEncodingUTF8);
            named = true;
        }
        CoreFoundation.CFRelease(name);
    });
    return named ? platform::Utf8ToUtf16(std::string_view(buffer, strnlen(buffer, sizeof buffer))) : std::u16string();
}

}  // namespace

std::string LibraryIdFor(uint32_t seconds) {
    char id[17];
    std::snprintf(id, sizeof id, "%016X", static_cast<unsigned>(seconds));
    return id;
}

void StartAthThreads() {
    jobEnded = false;
    jobThreadsLeft = 2;
    syncState.athDriverThread = platform::StartThread(AthDriver, nullptr);
    if (!syncState.athDriverThread) EndJobThread(false);
    syncState.athReaderThread = platform::StartThread(AthReader, nullptr);
    if (!syncState.athReaderThread) EndJobThread(false);
}

unsigned AthDriver(void*) {
    std::string libraryId = LibraryIdFor(platform::SecondsSince1970());
    {
        CfObject library = MakeConstantString(libraryId.c_str());
        CfObject device = MakeConstantString(platform::Utf16ToAnsi(syncState.deviceId.Get()).c_str());
        syncState.athConnection = AirTraffic.ATHostConnectionCreateWithLibrary(library.get(), device.get(), 0);
    }
    // Without a connection the job stays busy until its threads are told to quit.
    if (!syncState.athConnection.load()) {
        EndJobThread(false);
        return 0;
    }

    int step = 0;
    for (;;) {
        if (platform::DrainThreadMessages()) {
            QuitTeardown();
            return 0;
        }
        // At most one action per cycle, on the name current at this cycle.
        std::u16string name = syncState.lastAthMessage.Get();
        if (name == u"SyncAllowed" && step < 1) {
            OnSyncAllowed(libraryId.c_str());
            step = 1;
        } else if (name == u"ReadyForSync" && step < 2) {
            OnReadyForSync();
            step = 2;
        } else if (name == u"AssetManifest" && step < 3) {
            OnAssetManifest();
            step = 3;
        } else if (name == u"SyncFinished") {
            NormalEnd();
            return 0;
        }
        platform::SleepMs(ATH_CYCLE_MS);
    }
}

unsigned AthReader(void*) {
    for (;;) {
        if (platform::DrainThreadMessages()) {
            QuitTeardown();
            return 0;
        }
        std::u16string name = ReadMessageName();
        if (!name.empty()) {
            syncState.lastAthMessage.Set(name);
            if (name == u"SyncFinished") {
                EndJobThread(false);
                return 0;
            }
        }
        platform::SleepMs(ATH_CYCLE_MS);
    }
}

void OnSyncAllowed(const char* libraryId) {
    CfObject ringtone = MakeConstantString(RINGTONE_DATACLASS);
    CfObject dataclasses = MakeArray();
    Append(dataclasses, ringtone);
    CfObject anchors = RingtoneAnchors();
    CfObject synced = MakeArray();
    Append(synced, ringtone);
    WithConnection([](ATHostConnectionRef c) { AirTraffic.ATHostConnectionSendPowerAssertion(c, CoreFoundation.kCFBooleanTrue); });

    CfObject metadata = MakeDictionary();
    AddString(metadata, "Version", ITUNES_VERSION);
    AddString(metadata, "SyncHostName", SYNC_HOST_NAME);
    AddString(metadata, "LibraryID", libraryId);
    AddValue(metadata, "SyncedDataclasses", synced);
    WithConnection([&](ATHostConnectionRef c) {
        AirTraffic.ATHostConnectionSendSyncRequest(c, dataclasses.get(), anchors.get(), metadata.get());
    });
}

void OnReadyForSync() {
    WriteRingtoneSyncPlist();
    WriteMediaSyncPlist();
    CfObject syncTypes = MakeDictionary();
    AddValue(syncTypes, RINGTONE_DATACLASS, MakeInt8(1));
    CfObject anchors = RingtoneAnchors();
    WithConnection([&](ATHostConnectionRef c) {
        AirTraffic.ATHostConnectionSendMetadataSyncFinished(c, syncTypes.get(), anchors.get());
        AirTraffic.ATHostConnectionSendPowerAssertion(c, CoreFoundation.kCFBooleanFalse);
    });
}

void OnAssetManifest() {
    char assetId[24];
    std::snprintf(assetId, sizeof assetId, "%ld", static_cast<long>(syncState.insertedPid.load()));
    CfObject asset = MakeConstantString(assetId);
    CfObject dataclass = MakeConstantString(RINGTONE_DATACLASS);
    CfObject path = MakeConstantString(platform::Utf16ToAnsi(syncState.addedTonePath.Get()).c_str());
    WithConnection([&](ATHostConnectionRef c) {
        AirTraffic.ATHostConnectionSendFileProgress(c, asset.get(), dataclass.get());
        AirTraffic.ATHostConnectionSendFileProgress(c, asset.get(), dataclass.get());
        AirTraffic.ATHostConnectionSendAssetCompleted(c, asset.get(), dataclass.get(), path.get());
    });
}
