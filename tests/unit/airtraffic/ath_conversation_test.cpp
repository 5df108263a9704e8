#include <gtest/gtest.h>

#include <fstream>

#include "airtraffic/ath_conversation.h"
#include "airtraffic/sync_plist.h"
#include "device/device_events.h"
#include "exchange/sync_worker.h"
#include "tests/unit/exchange/exchange_fixture.h"

namespace {

// The phone's side of the conversation is driven live: each Say() appends a name to the
// simulator's ath-script, which the phone sends on the next read.
class AthTest : public ExchangeTest {
protected:
    void SetUp() override {
        ExchangeTest::SetUp();
        WriteFile(phone_.dir / "ath-script", "");
        Companion("/Documents/sync/UpdateRing");
        // Empty queue folders: a folder path is removed with one call, which a phone refuses
        // for a folder that still has entries.
        fs::create_directories(InContainer("/Documents/sync/add/"));
        fs::create_directories(InContainer("/Documents/sync/rm/"));
        syncState.deviceId.Set(platform::Utf8ToUtf16(phone_.udid));
    }
    void TearDown() override {
        PostQuitToPhoneThreads();
        EXPECT_TRUE(WaitUntil([] { return !syncState.syncBusy; }));
        ExchangeTest::TearDown();
    }
    void StartJob(SyncOperation operation) {
        ResetSyncJob();
        syncState.connectionState = Syncing;
        syncState.syncOperation = operation;
        if (operation == AddTone) {
            syncState.addedTonePath.Set(u"/iTunes_Control/Ringtones/Song.m4r");
            syncState.addedToneTitle.Set(u"我的铃声");
        } else {
            syncState.pidsToDelete = {10012345, 4611686018427387904ull};
        }
        StartAthThreads();
        ASSERT_TRUE(WaitFor("ATHostConnectionCreateWithLibrary"));
    }
    void Say(const char* name) const {
        std::ofstream(phone_.dir / "ath-script", std::ios::app) << name << "\n";
    }
    size_t Count(const char* call) const { return phone_.Calls({call}).size(); }
    bool WaitFor(const char* call, size_t count = 1) const {
        return WaitUntil([&] { return Count(call) >= count; });
    }
    // Names of the conversation's calls in order (power assertions with their value).
    std::vector<std::string> Conversation() const {
        std::vector<std::string> names;
        for (const std::string& line : phone_.Calls({"ATHostConnectionSendPowerAssertion", "ATHostConnectionSendSyncRequest",
                                                     "ATHostConnectionSendMetadataSyncFinished", "ATHostConnectionSendFileProgress",
                                                     "ATHostConnectionSendAssetCompleted", "ATHostConnectionDestroy"})) {
            std::string name = line.substr(0, line.find('\t'));
            if (name == "ATHostConnectionSendPowerAssertion") name += line.substr(line.rfind('\t'));
            names.push_back(name.substr(std::string("ATHostConnection").size()));
        }
        return names;
    }
    bool QueueRemoved() const {
        return !fs::exists(InContainer("/Documents/sync/UpdateRing")) && !fs::exists(InContainer("/Documents/sync/add/")) &&
               !fs::exists(InContainer("/Documents/sync/rm/"));
    }
    static void Cycles(int n) { platform::SleepMs(100 * n + 50); }
};

struct FullCase {
    SyncOperation operation;
    std::vector<std::string> conversation;
};

TEST_F(AthTest, TheWholeConversationRunsEachHandlerOnceInOrder) {
    const FullCase cases[] = {
        {AddTone,
         {"SendPowerAssertion\ttrue", "SendSyncRequest", "SendMetadataSyncFinished", "SendPowerAssertion\tfalse",
          "SendFileProgress", "SendFileProgress", "SendAssetCompleted", "Destroy"}},
        // A removal job releases the power assertion a second time at its end.
        {RemoveTones,
         {"SendPowerAssertion\ttrue", "SendSyncRequest", "SendMetadataSyncFinished", "SendPowerAssertion\tfalse",
          "SendFileProgress", "SendFileProgress", "SendAssetCompleted", "SendPowerAssertion\tfalse", "Destroy"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.operation);
        fs::remove(phone_.dir / "calls.log");
        WriteFile(phone_.dir / "ath-script", "");
        Companion("/Documents/sync/UpdateRing");
        fs::create_directories(InContainer("/Documents/sync/add/"));
        fs::create_directories(InContainer("/Documents/sync/rm/"));
        StartJob(c.operation);
        std::string create = phone_.Calls({"ATHostConnectionCreateWithLibrary"})[0];
        EXPECT_EQ(create.substr(create.find('\t') + 1, 8), "00000000") << create;  // library id: 16 hex digits
        EXPECT_NE(create.find("\t" + phone_.udid), std::string::npos) << create;

        Say("SyncAllowed");
        ASSERT_TRUE(WaitFor("ATHostConnectionSendSyncRequest"));
        Say("ReadyForSync");
        ASSERT_TRUE(WaitFor("ATHostConnectionSendMetadataSyncFinished"));
        EXPECT_TRUE(fs::exists(OnMedia("/iTunes_Control/Ringtones/Sync/Sync_00000000.plist")));
        EXPECT_TRUE(fs::exists(OnMedia("/iTunes_Control/Media/Sync/Sync_00000000.plist")));
        Say("AssetManifest");
        ASSERT_TRUE(WaitFor("ATHostConnectionSendAssetCompleted"));
        std::string completed = phone_.Calls({"ATHostConnectionSendAssetCompleted"})[0];
        if (c.operation == AddTone) {
            int32_t pid = syncState.insertedPid;
            EXPECT_GE(pid, 10000000);
            EXPECT_LE(pid, 10000000 + 32767);
            EXPECT_EQ(completed, "ATHostConnectionSendAssetCompleted\t" + std::to_string(pid) +
                                     "\tRingtone\t/iTunes_Control/Ringtones/Song.m4r");
        } else {
            EXPECT_EQ(completed, "ATHostConnectionSendAssetCompleted\t0\tRingtone\t");
        }
        Say("SyncFinished");
        ASSERT_TRUE(WaitUntil([] { return !syncState.syncBusy; }));
        EXPECT_EQ(syncState.connectionState, Connected);
        EXPECT_TRUE(QueueRemoved());
        EXPECT_EQ(Conversation(), c.conversation);
    }
}

TEST_F(AthTest, ReadyForSyncTwiceWritesTheDocumentsOnce) {
    StartJob(AddTone);
    Say("SyncAllowed");
    ASSERT_TRUE(WaitFor("ATHostConnectionSendSyncRequest"));
    Say("ReadyForSync");
    ASSERT_TRUE(WaitFor("ATHostConnectionSendMetadataSyncFinished"));
    Say("ReadyForSync");
    Cycles(4);
    EXPECT_EQ(Count("ATHostConnectionSendMetadataSyncFinished"), 1u);
    EXPECT_EQ(phone_.Calls({"AFCFileRefOpen"}).size(), 2u);  // one document each
}

TEST_F(AthTest, EarlyNamesAreActedOnAndSkippedStepsNeverRun) {
    StartJob(AddTone);
    Say("ReadyForSync");
    ASSERT_TRUE(WaitFor("ATHostConnectionSendMetadataSyncFinished"));
    Say("SyncAllowed");
    Cycles(3);
    Say("AssetManifest");
    ASSERT_TRUE(WaitFor("ATHostConnectionSendAssetCompleted"));
    EXPECT_EQ(Conversation(), (std::vector<std::string>{"SendMetadataSyncFinished", "SendPowerAssertion\tfalse", "SendFileProgress",
                                                        "SendFileProgress", "SendAssetCompleted"}));
}

TEST_F(AthTest, SyncFinishedEndsAtAnyStep) {
    struct Case {
        SyncOperation operation;
        const char* before;  // nullptr: SyncFinished first
        std::vector<std::string> conversation;
    } cases[] = {
        {RemoveTones, nullptr, {"SendPowerAssertion\tfalse", "Destroy"}},
        {AddTone, nullptr, {"Destroy"}},
        {AddTone, "SyncAllowed", {"SendPowerAssertion\ttrue", "SendSyncRequest", "Destroy"}},  // power never released
    };
    for (const auto& c : cases) {
        fs::remove(phone_.dir / "calls.log");
        WriteFile(phone_.dir / "ath-script", "");
        StartJob(c.operation);
        if (c.before) {
            Say(c.before);
            ASSERT_TRUE(WaitFor("ATHostConnectionSendSyncRequest"));
        }
        Say("SyncFinished");
        ASSERT_TRUE(WaitUntil([] { return !syncState.syncBusy; }));
        EXPECT_EQ(Conversation(), c.conversation);
        EXPECT_EQ(syncState.connectionState, Connected);
    }
}

TEST_F(AthTest, NamesCompareExactly) {
    StartJob(AddTone);
    Say("syncfinished");
    Say("SyncFinished ");
    Cycles(4);
    EXPECT_TRUE(syncState.syncBusy);
    EXPECT_EQ(Count("ATHostConnectionDestroy"), 0u);
    Say("SyncFinished");
    EXPECT_TRUE(WaitUntil([] { return !syncState.syncBusy; }));
}

TEST_F(AthTest, WithoutAConnectionTheJobWaitsForAQuit) {
    phone_.AddFault("ATHostConnectionCreateWithLibrary");
    ResetSyncJob();
    syncState.connectionState = Syncing;
    StartAthThreads();
    Cycles(5);
    EXPECT_TRUE(syncState.syncBusy);
    EXPECT_EQ(syncState.connectionState, Syncing);
    EXPECT_FALSE(QueueRemoved());
    PostQuitToPhoneThreads();
    ASSERT_TRUE(WaitUntil([] { return !syncState.syncBusy; }));
    EXPECT_TRUE(QueueRemoved());
    EXPECT_EQ(syncState.connectionState, Syncing);  // left to whoever sent the quit
    EXPECT_EQ(Count("ATHostConnectionDestroy"), 0u);
}

TEST_F(AthTest, AQuitDuringTheConversationTearsDownOnce) {
    StartJob(AddTone);
    Say("SyncAllowed");
    ASSERT_TRUE(WaitFor("ATHostConnectionSendSyncRequest"));
    uint64_t posted = platform::MonotonicMs();
    PostQuitToPhoneThreads();
    ASSERT_TRUE(WaitUntil([] { return !syncState.syncBusy; }));
    EXPECT_LT(platform::MonotonicMs() - posted, 500u);
    EXPECT_EQ(Count("ATHostConnectionDestroy"), 1u);
    EXPECT_TRUE(QueueRemoved());
    EXPECT_EQ(syncState.athConnection.load(), nullptr);
    EXPECT_EQ(syncState.connectionState, Syncing);
}

TEST_F(AthTest, APendingQuitBeatsSyncFinished) {
    StartJob(RemoveTones);
    // The name and the quit arrive within one driver cycle: the quit is drained first.
    syncState.lastAthMessage.Set(u"SyncFinished");
    PostQuitToPhoneThreads();
    ASSERT_TRUE(WaitUntil([] { return !syncState.syncBusy; }));
    EXPECT_EQ(syncState.connectionState, Syncing);  // the normal end never ran
    EXPECT_EQ(Conversation(), std::vector<std::string>{"Destroy"});
}

// The phone is unplugged while the driver is ending the job: the detach has set Waiting by the
// time the normal end sets the state, which must not bring back Connected for a phone that is gone.
TEST_F(AthTest, ADetachDuringTheNormalEndLeavesWaiting) {
    StartJob(RemoveTones);
    // Holding the session mutex stops the normal end in its queue clean-up, after the destroy.
    platform::MutexHandle mutex = platform::OpenNamedMutex(SESSION_MUTEX_NAME);
    ASSERT_NE(mutex, nullptr);
    platform::WaitNamedMutex(mutex);
    Say("SyncFinished");
    bool destroyed = WaitFor("ATHostConnectionDestroy");
    // What the detach does under the mutex.
    syncState.connectionState = Waiting;
    syncState.device = nullptr;
    platform::ReleaseNamedMutex(mutex);
    platform::CloseNamedMutex(mutex);
    ASSERT_TRUE(destroyed);
    ASSERT_TRUE(WaitUntil([] { return !syncState.syncBusy; }));
    EXPECT_EQ(syncState.connectionState, Waiting);
}

TEST(AthIdentifiers, ClockDerivedValues) {
    EXPECT_EQ(LibraryIdFor(0x5F3A1B2Cu), "000000005F3A1B2C");
    EXPECT_EQ(TrackGuid(0x5F3A1B2Cu), "87ZEPH005F3A1B2C");
    EXPECT_EQ(TrackGuid(0xFFFFFFFFu), "87ZEPH00FFFFFFFF");
    for (uint32_t second : {0u, 1u, 1760000000u, 0xFFFFFFFFu}) {
        int32_t pid = TrackPid(second);
        EXPECT_GE(pid, 10000000);
        EXPECT_LE(pid, 10000000 + 32767);
        EXPECT_EQ(pid, TrackPid(second));  // the same second gives the same pid
    }
    EXPECT_NE(TrackPid(1760000000u), TrackPid(1760000001u));
}

}  // namespace
