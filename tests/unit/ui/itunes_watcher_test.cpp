// ItunesWatcher: exact-name process search, idling without a phone, one report per run.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "device/sync_state.h"
#include "device/ui_notify.h"
#include "ui/itunes_watcher.h"

namespace {

struct FindCase {
    const char* name;
    std::vector<platform::ProcessInfo> processes;
    uint32_t expected;
};

class FindProcessTest : public ::testing::TestWithParam<FindCase> {};

TEST_P(FindProcessTest, ExactCaseSensitiveWholeName) {
    EXPECT_EQ(FindProcessByExactName(GetParam().processes, ITUNES_PROCESS_NAME), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, FindProcessTest,
    ::testing::Values(FindCase{"Empty", {}, 0},
                      FindCase{"Exact", {{u"explorer.exe", 4}, {u"iTunes.exe", 1234}}, 1234},
                      FindCase{"FirstOfTwo", {{u"iTunes.exe", 10}, {u"iTunes.exe", 20}}, 10},
                      FindCase{"LowerCase", {{u"itunes.exe", 7}}, 0},
                      FindCase{"UpperCase", {{u"ITUNES.EXE", 7}}, 0},
                      FindCase{"UpperExtension", {{u"iTunes.EXE", 7}}, 0},
                      FindCase{"Prefix", {{u"iTunes.ex", 7}}, 0},
                      FindCase{"Suffix", {{u"iTunes.exe ", 7}}, 0},
                      FindCase{"Longer", {{u"MyiTunes.exe", 7}, {u"iTunesHelper.exe", 8}}, 0},
                      FindCase{"EmbeddedNul", {{std::u16string(u"iTunes.exe\0x", 12), 7}}, 0},
                      FindCase{"AmongMany", {{u"a", 1}, {u"", 2}, {u"iTunes.exe", 3}, {u"b", 4}}, 3}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FindItunesProcess, NoneRunningHere) {
    // No iTunes runs on the test machine; the real snapshot must be walked without finding one.
    ASSERT_FALSE(platform::ListProcesses().empty());
    EXPECT_EQ(FindItunesProcess(), 0u);
}

// Records the codes sent to the window and what the process search was asked.
std::mutex recordLock;
std::vector<uint32_t> sentCodes;
std::atomic<int> searches{0};
std::atomic<uint32_t> foundPid{0};

void RecordNotify(uint32_t code) {
    std::lock_guard lock(recordLock);
    sentCodes.push_back(code);
}
uint32_t FakeFinder() {
    ++searches;
    return foundPid;
}
std::vector<uint32_t> Sent() {
    std::lock_guard lock(recordLock);
    return sentCodes;
}

class ItunesWatcherTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSyncStateForTest();
        {
            std::lock_guard lock(recordLock);
            sentCodes.clear();
        }
        searches = 0;
        foundPid = 0;
        SetUiNotifySender(RecordNotify);
        SetItunesProcessFinder(FakeFinder);
    }
    void TearDown() override {
        SetItunesProcessFinder(nullptr);
        SetUiNotifySender(nullptr);
        ResetSyncStateForTest();
    }
};

struct PassCase {
    const char* name;
    ConnectionState state;
    uint32_t pid;
    WatchResult result;
    bool searched;
    bool heartbeatReset;
    std::vector<uint32_t> sent;
};

class ItunesWatcherPassTest : public ItunesWatcherTest, public ::testing::WithParamInterface<PassCase> {};

TEST_P(ItunesWatcherPassTest, OnePass) {
    const PassCase& c = GetParam();
    syncState.connectionState = c.state;
    syncState.heartbeatCount = 9;
    foundPid = c.pid;
    EXPECT_EQ(ItunesWatcherPass(), c.result);
    EXPECT_EQ(searches.load() > 0, c.searched);
    EXPECT_EQ(syncState.heartbeatCount.load(), c.heartbeatReset ? 0 : 9);
    EXPECT_EQ(Sent(), c.sent);
}

INSTANTIATE_TEST_SUITE_P(
    States, ItunesWatcherPassTest,
    ::testing::Values(PassCase{"WaitingIgnoresItunes", Waiting, 1234, WatchResult::KeepWatching, false, true, {}},
                      PassCase{"ConnectedNoItunes", Connected, 0, WatchResult::KeepWatching, true, false, {}},
                      PassCase{"ConnectedItunes", Connected, 1234, WatchResult::Reported, true, false,
                               {NOTIFY_ITUNES_RUNNING}},
                      PassCase{"SyncingItunes", Syncing, 55, WatchResult::Reported, true, false,
                               {NOTIFY_ITUNES_RUNNING}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ItunesWatcherTest, QuitEndsItWithoutReport) {
    syncState.connectionState = Connected;
    foundPid = 1234;
    ASSERT_TRUE(platform::PostToThread(platform::CurrentThreadId(), platform::MSG_THREAD_QUIT));
    EXPECT_EQ(ItunesWatcher(nullptr), 0u);
    EXPECT_TRUE(Sent().empty());
}

TEST_F(ItunesWatcherTest, ReportsOnceThenEnds) {
    syncState.connectionState = Connected;
    foundPid = 1234;
    EXPECT_EQ(ItunesWatcher(nullptr), 1u);
    EXPECT_EQ(Sent(), std::vector<uint32_t>{NOTIFY_ITUNES_RUNNING});
}

TEST_F(ItunesWatcherTest, IdlesWhileWaitingThenReportsAfterAttach) {
    syncState.connectionState = Waiting;
    foundPid = 1234;  // iTunes already runs before any phone is attached
    const platform::ThreadId thread = platform::StartThread(ItunesWatcher, nullptr);
    ASSERT_NE(thread, 0u);
    // Every idle pass sets the count back; waits are long only for a loaded machine.
    for (int i = 0; i < 3; ++i) {
        syncState.heartbeatCount = 5;
        const uint64_t start = platform::MonotonicMs();
        while (syncState.heartbeatCount != 0 && platform::MonotonicMs() - start < 10000) platform::SleepMs(20);
        EXPECT_EQ(syncState.heartbeatCount.load(), 0) << "pass " << i;
    }
    EXPECT_EQ(searches.load(), 0);
    EXPECT_TRUE(Sent().empty());

    syncState.connectionState = Connected;
    const uint64_t start = platform::MonotonicMs();
    while (Sent().empty() && platform::MonotonicMs() - start < 10000) platform::SleepMs(20);
    EXPECT_EQ(Sent(), std::vector<uint32_t>{NOTIFY_ITUNES_RUNNING});
    // One pace is a second: a report three paces late is not "at the next check" even when loaded.
    EXPECT_LE(platform::MonotonicMs() - start, 3000u) << "the report comes at the next check";

    // Finished: no further search or report, and its queue is gone.
    const int searchesAfterReport = searches.load();
    platform::SleepMs(2200);
    EXPECT_EQ(searches.load(), searchesAfterReport);
    EXPECT_EQ(Sent().size(), 1u);
    EXPECT_FALSE(platform::PostToThread(thread, platform::MSG_THREAD_QUIT));
    syncState.connectionState = Waiting;
}

}  // namespace
