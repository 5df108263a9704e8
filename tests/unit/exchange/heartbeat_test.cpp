#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

#include "device/device_events.h"
#include "device/ui_notify.h"
#include "exchange/heartbeat.h"
#include "exchange/sync_worker.h"
#include "tests/unit/exchange/exchange_fixture.h"

namespace {

std::atomic<bool> heartbeatEnded{false};
unsigned WatchedHeartbeat(void* arg) {
    unsigned result = HeartbeatWriter(arg);
    heartbeatEnded = true;
    return result;
}

class HeartbeatTest : public ExchangeTest {
protected:
    void SetUp() override {
        ExchangeTest::SetUp();
        heartbeatEnded = false;
        syncState.heartbeatCount = 0;
    }
    void TearDown() override {
        if (writer_) {
            platform::PostToThread(writer_, platform::MSG_THREAD_QUIT);
            EXPECT_TRUE(WaitUntil([] { return heartbeatEnded.load(); }));
        }
        ExchangeTest::TearDown();
    }
    void StartWriter() { writer_ = platform::StartThread(WatchedHeartbeat, nullptr); }
    std::string Beat() const { return ReadFile(InContainer("/Documents/sync/HeartBeat")); }
    static std::string Expected(int count) {
        std::string text = "Version:1.1.1,HeartBeat:" + std::to_string(count);
        return text + std::string(64 - text.size(), '\0');
    }
    platform::ThreadId writer_ = 0;
};

TEST_F(HeartbeatTest, WritesSixtyFourBytesWithAGrowingCount) {
    StartWriter();
    ASSERT_TRUE(WaitUntil([&] { return Beat().size() == 64; }));
    EXPECT_EQ(Beat(), Expected(1));
    ASSERT_TRUE(WaitUntil([&] { return Beat() == Expected(2); }, std::chrono::seconds(5)));
    ASSERT_TRUE(WaitUntil([&] { return Beat() == Expected(3); }, std::chrono::seconds(5)));
}

TEST_F(HeartbeatTest, TheCountStartsAgainAfterAWait) {
    StartWriter();
    ASSERT_TRUE(WaitUntil([&] { return Beat() == Expected(2); }, std::chrono::seconds(5)));
    syncState.connectionState = Waiting;
    ASSERT_TRUE(WaitUntil([] { return syncState.heartbeatCount == 0; }, std::chrono::seconds(5)));
    fs::remove(InContainer("/Documents/sync/HeartBeat"));
    platform::SleepMs(600);
    EXPECT_FALSE(fs::exists(InContainer("/Documents/sync/HeartBeat")));  // nothing written while waiting
    syncState.connectionState = Connected;
    ASSERT_TRUE(WaitUntil([&] { return Beat().size() == 64; }, std::chrono::seconds(5)));
    EXPECT_EQ(Beat(), Expected(1));
}

TEST_F(HeartbeatTest, AFailedBeatIsRetriedSoonWithoutCounting) {
    phone_.AddFault("AFCFileRefOpen", "/Documents/sync/HeartBeat");
    StartWriter();
    platform::SleepMs(300);
    EXPECT_EQ(syncState.heartbeatCount, 0);
    // Retries come every 20 ms: some fifteen tries in 300 ms, where the 500 ms period gives one.
    // Counting tries, not timing the repair, keeps this true on a loaded machine.
    size_t tries = 0;
    for (const std::string& line : phone_.Calls({"AFCFileRefOpen"})) {
        if (line.find("/Documents/sync/HeartBeat") != std::string::npos) ++tries;
    }
    EXPECT_GE(tries, 4u);
    phone_.ClearFaults();
    ASSERT_TRUE(WaitUntil([&] { return Beat().size() == 64; }, std::chrono::seconds(5)));
    EXPECT_EQ(Beat(), Expected(1));
}

using ProtocolTest = ExchangeTest;

TEST_F(ProtocolTest, AnnouncementsCompareByteByByte) {
    struct Case {
        const char* entry;
        bool accepted;
    } cases[] = {
        {"protocol_1.1.1", true}, {"protocol_1.1.0", true}, {"protocol_1.0.9", true}, {"protocol_0.9", true},
        {"protocol_", true},  // an empty version
        {"protocol_1.1.2", false}, {"protocol_1.2", false}, {"protocol_2.0", false},
        {"protocol_1.1.10", false}, {"protocol_1.10", false},
        // Later in the name: the version is the name less its first nine bytes.
        {"xprotocol_1.1.1", false},      // "_1.1.1" orders after "1.1.1"
        {"zzzzzzzzz0protocol_", true},  // "0protocol_" orders before it
        {"version_9", true},         // not an announcement
    };
    for (const auto& c : cases) {
        fs::remove_all(InContainer("/Documents/sync/protocol/"));
        Companion(std::string("/Documents/sync/protocol/") + c.entry);
        EXPECT_EQ(CheckProtocolVersion(), c.accepted) << c.entry;
        fs::path marker = InContainer("/Documents/sync/protocol/pc_update");
        if (c.accepted) {
            EXPECT_FALSE(fs::exists(marker)) << c.entry;
        } else {
            EXPECT_EQ(ReadFile(marker), "1") << c.entry;
        }
    }
}

TEST_F(ProtocolTest, OneNewerAnnouncementAmongSeveralIsEnough) {
    Companion("/Documents/sync/protocol/protocol_1.0");
    Companion("/Documents/sync/protocol/protocol_1.2");
    Companion("/Documents/sync/protocol/protocol_1.1.1");
    EXPECT_FALSE(CheckProtocolVersion());
}

TEST_F(ProtocolTest, AnUnknownVersionIsAccepted) {
    EXPECT_TRUE(CheckProtocolVersion());  // no protocol folder
    Companion("/Documents/sync/protocol/protocol_9");
    phone_.AddFault("AMDeviceStartHouseArrestService");
    EXPECT_TRUE(CheckProtocolVersion());  // container unreachable
    phone_.ClearFaults();
    phone_.AddFault("AFCFileRefOpen", "/Documents/sync/protocol/pc_update");
    EXPECT_FALSE(CheckProtocolVersion());  // a marker that cannot be written changes nothing
}

// The first attach of a run, through the event function with the real check and worker.
class FirstAttachTest : public PhoneTest {
protected:
    void SetUp() override {
        PhoneTest::SetUp();
        SetAttachHooks({CheckProtocolVersion, CountedWorker});
        SetUiNotifySender([](uint32_t code) {
            lastNotified = code;
            ++notifyCount;
        });
        notifyCount = 0;
        lastNotified = 0;
        SubscribeDeviceEvents();
    }
    void TearDown() override {
        StopDeviceEvents();  // no attach may start another worker meanwhile
        PostQuitToPhoneThreads();
        EXPECT_TRUE(WaitUntil([] { return workersRunning == 0; }));
        PhoneTest::TearDown();
    }
    // The real worker, counted, so that none outlives its test.
    static unsigned CountedWorker(void* arg) {
        ++workersRunning;
        unsigned result = DeviceWorker(arg);
        --workersRunning;
        return result;
    }
    static inline std::atomic<int> workersRunning{0};
    static inline std::atomic<int> notifyCount{0};
    static inline std::atomic<uint32_t> lastNotified{0};
};

TEST_F(FirstAttachTest, ANewerAppStopsServingForTheWholeRunWhileTheHeartbeatGoesOn) {
    SimPhone phone = MakePhone("udid-new");
    fs::create_directories(phone.Container() / "Documents/sync/protocol");
    WriteFile(phone.Container() / "Documents/sync/protocol/protocol_2.0", "");
    WriteFile(phone.Container() / "Documents/sync/GetCurrentRing", "");
    platform::ThreadId writer = platform::StartThread(HeartbeatWriter, nullptr);
    phone.Attach();
    ASSERT_TRUE(WaitUntil([] { return !syncState.firstAttach; }));
    EXPECT_FALSE(syncState.protocolOk);
    EXPECT_EQ(notifyCount, 1);
    EXPECT_EQ(lastNotified, NOTIFY_UPDATE_NEEDED);
    EXPECT_EQ(ReadFile(phone.Container() / "Documents/sync/protocol/pc_update"), "1");
    EXPECT_TRUE(WaitUntil([&] { return fs::exists(phone.Container() / "Documents/sync/HeartBeat"); }));
    // Attached again: no second check, no second prompt, and the request is never served.
    phone.ReannounceAttach();
    platform::SleepMs(700);
    EXPECT_EQ(notifyCount, 1);
    EXPECT_TRUE(fs::exists(phone.Container() / "Documents/sync/GetCurrentRing"));
    platform::PostToThread(writer, platform::MSG_THREAD_QUIT);
}

TEST_F(FirstAttachTest, AnUnreachableContainerAtTheFirstAttachAcceptsForTheRun) {
    SimPhone phone = MakePhone("udid-noapp", "Phone", true, /*companionApp=*/false);
    phone.Attach();
    ASSERT_TRUE(WaitUntil([] { return !syncState.firstAttach; }));
    EXPECT_TRUE(syncState.protocolOk);
    EXPECT_EQ(notifyCount, 0);
    // The app installed later, announcing a newer protocol: the run's answer stands.
    phone.InstallCompanionApp();
    WriteFile(phone.Container() / "Documents/sync/protocol/protocol_2.0", "");
    WriteFile(phone.Container() / "Documents/sync/GetCurrentRing", "");
    phone.ReannounceAttach();
    EXPECT_TRUE(WaitUntil([&] { return !fs::exists(phone.Container() / "Documents/sync/GetCurrentRing"); }));
    EXPECT_TRUE(syncState.protocolOk);
}

}  // namespace
