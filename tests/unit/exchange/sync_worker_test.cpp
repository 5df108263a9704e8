#include <gtest/gtest.h>

#include <atomic>

#include "exchange/sync_worker.h"
#include "tests/unit/exchange/exchange_fixture.h"

namespace {

std::atomic<bool> workerEnded{false};
unsigned WatchedWorker(void* arg) {
    unsigned result = DeviceWorker(arg);
    workerEnded = true;
    return result;
}

class WorkerTest : public ExchangeTest {
protected:
    void SetUp() override {
        ExchangeTest::SetUp();
        workerEnded = false;
    }
    void TearDown() override {
        StopWorker();
        ExchangeTest::TearDown();
    }
    void StartWorker() { worker_ = platform::StartThread(WatchedWorker, nullptr); }
    void StopWorker() {
        if (!worker_) return;
        platform::PostToThread(worker_, platform::MSG_THREAD_QUIT);
        EXPECT_TRUE(WaitUntil([] { return workerEnded.load(); }, std::chrono::seconds(5)));
        worker_ = 0;
    }
    // Several worker passes.
    static void Passes(int n) { platform::SleepMs(200 * n + 50); }
    platform::ThreadId worker_ = 0;
};

TEST_F(WorkerTest, BothRequestsInOnePassReportFirstThenTheJob) {
    WriteFile(OnMedia("/iTunes_Control/Ringtones/before.m4r"), "x");
    Companion("/Documents/sync/add/New.m4r", std::string(40, 'n'));
    Companion("/Documents/sync/GetCurrentRing");  // zero bytes: a request like any other
    Companion("/Documents/sync/UpdateRing");
    StartWorker();
    ASSERT_TRUE(WaitUntil([] { return JobStarts() == 1; }));
    EXPECT_FALSE(fs::exists(InContainer("/Documents/sync/GetCurrentRing")));
    // The report shows the phone as it was before the job copied the new ringtone.
    EXPECT_EQ(ReadFile(InContainer("/Documents/sync/current/m4rlist")), "before.m4r");
    EXPECT_TRUE(fs::exists(OnMedia("/iTunes_Control/Ringtones/New.m4r")));
    EXPECT_EQ(LastJob()->syncOperation, AddTone);
}

TEST_F(WorkerTest, NoRequestIsServedWhileAJobRuns) {
    Companion("/Documents/sync/UpdateRing");
    StartWorker();
    ASSERT_TRUE(WaitUntil([] { return JobStarts() == 1; }));
    ASSERT_TRUE(syncState.syncBusy);  // the stand-in AirTraffic threads never end the job
    Companion("/Documents/sync/GetCurrentRing");
    Passes(3);
    EXPECT_TRUE(fs::exists(InContainer("/Documents/sync/GetCurrentRing")));
    EXPECT_EQ(JobStarts(), 1);

    syncState.syncBusy = false;  // the job ended; UpdateRing is still there, so another starts
    EXPECT_TRUE(WaitUntil([&] { return !fs::exists(InContainer("/Documents/sync/GetCurrentRing")); }));
    EXPECT_TRUE(WaitUntil([] { return JobStarts() == 2; }));
}

TEST_F(WorkerTest, IdlesWithoutAcceptedProtocolOrWithoutAName) {
    struct Case {
        const char* what;
        bool protocolOk;
        ConnectionState state;
    } cases[] = {{"newer companion app", false, Connected}, {"name not read", true, Waiting}};
    Companion("/Documents/sync/GetCurrentRing");
    Companion("/Documents/sync/UpdateRing");
    for (const auto& c : cases) {
        syncState.protocolOk = c.protocolOk;
        syncState.connectionState = c.state;
        StartWorker();
        Passes(2);
        StopWorker();
        workerEnded = false;
        EXPECT_TRUE(phone_.Calls({"AMDeviceStartHouseArrestService"}).empty()) << c.what;
        EXPECT_TRUE(fs::exists(InContainer("/Documents/sync/GetCurrentRing"))) << c.what;
        EXPECT_EQ(JobStarts(), 0) << c.what;
    }
}

TEST_F(WorkerTest, QuitIsSeenWithinOnePass) {
    StartWorker();
    Passes(1);
    uint64_t posted = platform::MonotonicMs();
    platform::PostToThread(worker_, platform::MSG_THREAD_QUIT);
    ASSERT_TRUE(WaitUntil([] { return workerEnded.load(); }, std::chrono::seconds(5)));
    EXPECT_LE(platform::MonotonicMs() - posted, 400u);
    worker_ = 0;
}

// After a re-attach the worker of the earlier attach finishes its pass while the new one begins:
// the two must not both find syncBusy clear and start two jobs (their AirTraffic threads would
// share one job's fields and end-of-job count).
std::atomic<int> overlappingEnded{0};
unsigned CountedWorker(void* arg) {
    unsigned result = DeviceWorker(arg);
    ++overlappingEnded;
    return result;
}

TEST_F(WorkerTest, OverlappingWorkersStartOneJob) {
    overlappingEnded = 0;
    Companion("/Documents/sync/add/New.m4r", std::string(40, 'n'));
    Companion("/Documents/sync/UpdateRing");
    platform::ThreadId first = platform::StartThread(CountedWorker, nullptr);
    platform::ThreadId second = platform::StartThread(CountedWorker, nullptr);
    ASSERT_TRUE(WaitUntil([] { return JobStarts() >= 1; }));
    Passes(3);  // the stand-in AirTraffic threads never end the job
    EXPECT_EQ(JobStarts(), 1);
    platform::PostToThread(first, platform::MSG_THREAD_QUIT);
    platform::PostToThread(second, platform::MSG_THREAD_QUIT);
    EXPECT_TRUE(WaitUntil([] { return overlappingEnded.load() == 2; }, std::chrono::seconds(5)));
}

// A detach or re-attach that posts its quit messages while the worker is starting a job can come
// before the job's thread identities are stored; the worker passes its quit on to them, so the
// job still ends and syncBusy does not stay set.
std::atomic<int> jobThreadsQuit{0};
unsigned StandInJobThread(void*) {
    while (!platform::DrainThreadMessages()) platform::SleepMs(5);
    ++jobThreadsQuit;
    return 0;
}
// Runs on the worker's thread, as the job start does.
void QuitArrivesBeforeTheJobThreadsAreStored() {
    platform::PostToThread(platform::CurrentThreadId(), platform::MSG_THREAD_QUIT);
    syncState.athDriverThread = platform::StartThread(StandInJobThread, nullptr);
    syncState.athReaderThread = platform::StartThread(StandInJobThread, nullptr);
}

TEST_F(WorkerTest, QuitDuringAJobStartReachesTheJobThreads) {
    jobThreadsQuit = 0;
    Companion("/Documents/sync/UpdateRing");
    SetSyncThreadStarter(QuitArrivesBeforeTheJobThreadsAreStored);
    StartWorker();
    ASSERT_TRUE(WaitUntil([] { return workerEnded.load(); }));
    worker_ = 0;
    EXPECT_TRUE(WaitUntil([] { return jobThreadsQuit.load() == 2; }, std::chrono::seconds(5)));
    // Without the quit, the stand-ins would outlive the test: end them either way.
    platform::PostToThread(syncState.athDriverThread, platform::MSG_THREAD_QUIT);
    platform::PostToThread(syncState.athReaderThread, platform::MSG_THREAD_QUIT);
    WaitUntil([] { return jobThreadsQuit.load() == 2; });
}

TEST_F(WorkerTest, ProbeCommandFilesKeepsFlagsWhenTheContainerIsUnreachable) {
    Companion("/Documents/sync/GetCurrentRing");
    ProbeCommandFiles();
    EXPECT_TRUE(syncState.wantCurrentRing);
    EXPECT_FALSE(syncState.wantUpdateRing);
    fs::remove(InContainer("/Documents/sync/GetCurrentRing"));
    phone_.AddFault("AFCConnectionOpen");
    ProbeCommandFiles();
    EXPECT_TRUE(syncState.wantCurrentRing);  // unchanged
}

TEST_F(WorkerTest, ClearSyncQueueRemovesEachPathOnce) {
    Companion("/Documents/sync/UpdateRing");
    Companion("/Documents/sync/add/left.m4r", "x");
    fs::create_directories(InContainer("/Documents/sync/rm/"));
    ClearSyncQueue();
    EXPECT_FALSE(fs::exists(InContainer("/Documents/sync/UpdateRing")));
    EXPECT_FALSE(fs::exists(InContainer("/Documents/sync/rm/")));
    // One remove per directory path: entries the app left inside stay, as on a real phone.
    EXPECT_TRUE(fs::exists(InContainer("/Documents/sync/add/left.m4r")));
    EXPECT_EQ(phone_.Calls({"AFCRemovePath"}),
              (std::vector<std::string>{"AFCRemovePath\t/Documents/sync/UpdateRing", "AFCRemovePath\t/Documents/sync/add/",
                                        "AFCRemovePath\t/Documents/sync/rm/"}));
}

}  // namespace
