#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "device/apple_bindings.h"
#include "device/device_events.h"
#include "device/sync_state.h"
#include "device/ui_notify.h"
#include "tests/support/phone_fixture.h"

namespace {

// A stand-in for DeviceWorker: counts starts and quits, and runs until told to quit.
std::atomic<int> workersStarted{0};
std::atomic<int> workersQuit{0};
std::atomic<int> workersRunning{0};
unsigned RecordingWorker(void*) {
    ++workersStarted;
    ++workersRunning;
    while (!platform::DrainThreadMessages()) platform::SleepMs(5);
    --workersRunning;
    ++workersQuit;
    return 0;
}

// The protocol check and the window, recorded; the window can hold the notification (a prompt
// the user has not closed yet).
std::atomic<bool> protocolAccepted{true};
std::atomic<int> protocolChecks{0};
bool RecordingProtocolCheck() {
    ++protocolChecks;
    return protocolAccepted.load();
}
std::mutex notifyMutex;
std::vector<uint32_t> notifyCodes;
std::atomic<bool> holdPrompt{false};
void RecordingWindow(uint32_t code) {
    {
        std::lock_guard lock(notifyMutex);
        notifyCodes.push_back(code);
    }
    while (holdPrompt) platform::SleepMs(5);
}

class EventsTest : public PhoneTest {
protected:
    void SetUp() override {
        PhoneTest::SetUp();
        workersStarted = workersQuit = workersRunning = 0;
        protocolChecks = 0;
        protocolAccepted = true;
        holdPrompt = false;
        notifyCodes.clear();
        SetAttachHooks({RecordingProtocolCheck, RecordingWorker});
        SetUiNotifySender(RecordingWindow);
        SubscribeDeviceEvents();
    }
    void TearDown() override {
        holdPrompt = false;
        StopDeviceEvents();  // no attach may start another worker meanwhile
        PostQuitToPhoneThreads();
        EXPECT_TRUE(WaitUntil([] { return workersRunning == 0; }));
        PhoneTest::TearDown();
    }
    std::vector<uint32_t> Notified() {
        std::lock_guard lock(notifyMutex);
        return notifyCodes;
    }
    bool WaitConnected(const char* name) {
        return WaitUntil([&] {
            return syncState.connectionState == Connected && syncState.statusText.Get() == platform::Utf8ToUtf16(name);
        });
    }
    // Lets a few event-poll periods pass, for checks that something did not happen.
    static void Settle() { platform::SleepMs(150); }
};

TEST_F(EventsTest, AttachIdentifiesThePhoneAndStartsAWorker) {
    SimPhone phone = MakePhone("udid-0001", "陈的 iPhone");
    phone.Attach();
    ASSERT_TRUE(WaitConnected("陈的 iPhone"));
    EXPECT_EQ(syncState.deviceId.Get(), u"udid-0001");
    EXPECT_TRUE(WaitUntil([] { return workersStarted == 1; }));
    EXPECT_TRUE(WaitUntil([] { return syncState.deviceWorkerThread.load() != 0; }));
    EXPECT_EQ(protocolChecks, 1);
    EXPECT_TRUE(syncState.protocolOk);
    EXPECT_FALSE(syncState.firstAttach);
    EXPECT_TRUE(Notified().empty());

    phone.Detach();
    ASSERT_TRUE(WaitUntil([] { return syncState.device.load() == nullptr; }));
    EXPECT_EQ(syncState.connectionState, Waiting);
    EXPECT_EQ(syncState.statusText.Get(), u"等待设备接入");
    EXPECT_EQ(syncState.deviceId.Get(), u"");
    EXPECT_TRUE(WaitUntil([] { return workersQuit == 1; }));
    EXPECT_EQ(workersStarted, 1);  // a detach starts nothing
    ExpectNoLeaks();
}

TEST_F(EventsTest, OnePhoneAtATime) {
    SimPhone first = MakePhone("udid-a", "First");
    SimPhone second = MakePhone("udid-b", "Second");
    first.Attach();
    ASSERT_TRUE(WaitConnected("First"));
    AMDeviceRef current = syncState.device;
    second.Attach();
    Settle();
    EXPECT_EQ(syncState.device.load(), current);
    EXPECT_EQ(syncState.statusText.Get(), u"First");
    EXPECT_TRUE(second.Calls({"AMDeviceConnect"}).empty());

    // The other phone's detach is ignored.
    second.Detach();
    Settle();
    EXPECT_EQ(syncState.connectionState, Connected);
    EXPECT_EQ(workersQuit, 0);

    // After the first leaves, a phone that stayed plugged in stays unnoticed.
    second.Attach();
    Settle();
    first.Detach();
    ASSERT_TRUE(WaitUntil([] { return syncState.device.load() == nullptr; }));
    Settle();
    EXPECT_EQ(syncState.device.load(), nullptr);
    EXPECT_EQ(syncState.connectionState, Waiting);
    EXPECT_EQ(workersStarted, 1);
}

TEST_F(EventsTest, TheCurrentPhoneAttachedAgainIsANewAttach) {
    SimPhone phone = MakePhone("udid-a", "Phone");
    phone.Attach();
    ASSERT_TRUE(WaitConnected("Phone"));
    ASSERT_TRUE(WaitUntil([] { return workersStarted == 1; }));
    platform::ThreadId firstWorker = syncState.deviceWorkerThread;
    phone.SetName("Renamed");
    phone.ReannounceAttach();
    ASSERT_TRUE(WaitConnected("Renamed"));
    EXPECT_TRUE(WaitUntil([] { return workersStarted == 2 && workersQuit == 1; }));
    // The new worker may count itself before the attach has stored its identity.
    EXPECT_TRUE(WaitUntil([&] { return syncState.deviceWorkerThread.load() != firstWorker; }));
    EXPECT_EQ(protocolChecks, 1);  // the protocol check runs once per run
    EXPECT_EQ(phone.Calls({"AMDeviceStartSession"}).size(), 2u);
}

TEST_F(EventsTest, ADetachWhileNoPhoneIsCurrentResetsAndPostsQuits) {
    // A worker of some earlier attach, still running, and a detach record of an unknown phone.
    syncState.deviceWorkerThread = platform::StartThread(RecordingWorker, nullptr);
    syncState.connectionState = Connected;
    syncState.statusText.Set(u"stale");
    syncState.deviceId.Set(u"stale");
    alignas(8) unsigned char record[32] = {};
    record[AM_DEVICE_CONNECTION_NUMBER_OFFSET] = 77;
    AMDeviceEvent detach{record, AMDeviceEventDetached};
    OnDeviceNotification(&detach);
    EXPECT_TRUE(WaitUntil([] { return workersQuit == 1; }));
    EXPECT_EQ(syncState.connectionState, Waiting);
    EXPECT_EQ(syncState.statusText.Get(), u"等待设备接入");
    EXPECT_EQ(syncState.deviceId.Get(), u"");

    // Other event kinds change nothing.
    syncState.connectionState = Connected;
    AMDeviceEvent other{record, 3};
    OnDeviceNotification(&other);
    EXPECT_EQ(syncState.connectionState, Connected);
}

TEST_F(EventsTest, UnpairedPhoneIsStillIdentifiedButGetsNoSession) {
    SimPhone phone = MakePhone("udid-a", "Unpaired", /*paired=*/false);
    phone.Attach();
    ASSERT_TRUE(WaitConnected("Unpaired"));
    EXPECT_EQ(syncState.deviceId.Get(), u"udid-a");
    // The name is read inside the session, which ends just after.
    EXPECT_TRUE(WaitUntil([&] { return !phone.Calls({"AMDeviceStopSession"}).empty(); }));
    EXPECT_TRUE(phone.Calls({"AMDeviceStartSession"}).empty());
}

TEST_F(EventsTest, PhoneWithoutANameStaysWaitingWithAnIdleWorker) {
    SimPhone phone = MakePhone("udid-a", /*name=*/"");
    phone.Attach();
    ASSERT_TRUE(WaitUntil([] { return workersStarted == 1; }));
    EXPECT_EQ(syncState.connectionState, Waiting);
    EXPECT_EQ(syncState.deviceId.Get(), u"udid-a");
    EXPECT_NE(syncState.device.load(), nullptr);
    ExpectNoLeaks();
}

TEST_F(EventsTest, ANewerCompanionAppIsReportedOnceAndTheWorkerWaitsForThePrompt) {
    protocolAccepted = false;
    holdPrompt = true;
    SimPhone phone = MakePhone("udid-a", "Phone");
    phone.Attach();
    ASSERT_TRUE(WaitUntil([&] { return Notified().size() == 1; }));
    EXPECT_EQ(Notified()[0], NOTIFY_UPDATE_NEEDED);
    Settle();
    EXPECT_EQ(workersStarted, 0);  // the prompt is still open
    holdPrompt = false;
    EXPECT_TRUE(WaitUntil([] { return workersStarted == 1; }));
    EXPECT_FALSE(syncState.protocolOk);
    EXPECT_FALSE(syncState.firstAttach);

    phone.ReannounceAttach();
    EXPECT_TRUE(WaitUntil([] { return workersStarted == 2; }));
    EXPECT_EQ(Notified().size(), 1u);
    EXPECT_EQ(protocolChecks, 1);
    EXPECT_FALSE(syncState.protocolOk);
}

TEST_F(EventsTest, AnUnopenableMutexOnlyRecordsThePhone) {
    DropSessionMutex();
    SimPhone phone = MakePhone("udid-a", "Phone");
    phone.Attach();
    ASSERT_TRUE(WaitUntil([] { return syncState.device.load() != nullptr; }));
    Settle();
    EXPECT_EQ(syncState.connectionState, Waiting);
    EXPECT_EQ(workersStarted, 0);
    EXPECT_TRUE(syncState.firstAttach);
    EXPECT_EQ(protocolChecks, 0);
    EXPECT_TRUE(phone.Calls({"AMDeviceConnect"}).empty());
}

}  // namespace
