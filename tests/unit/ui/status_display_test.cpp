// StatusUpdater's reaction to each change of connectionState, seen through a recording view.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "device/device_session.h"
#include "device/sync_state.h"
#include "res/resource.h"
#include "ui/status_display.h"

namespace {

// A thread message nobody acts on: it can be posted only while the thread has its queue.
constexpr uint32_t PROBE_MESSAGE = platform::MSG_USER_BASE + 777;

// Generous, so that a loaded machine is not taken for a fault; returns as soon as it holds.
bool WaitUntil(const std::function<bool()>& condition, uint64_t timeoutMs = 10000) {
    const uint64_t end = platform::MonotonicMs() + timeoutMs;
    while (!condition()) {
        if (platform::MonotonicMs() > end) return condition();
        platform::SleepMs(10);
    }
    return true;
}

class RecordingView : public StatusView {
public:
    std::vector<std::string> calls;
    std::u16string statusLine;
    std::atomic<int> statusLines{0};  // the last step of a pass, watched from the test's thread
    bool blinking = false;
    // When set, stopping the blink timer finds the state changed meanwhile to this value.
    int stateAfterStop = -1;

    void ShowStatePicture(uint16_t imageId) override {
        calls.push_back(imageId == IMG_CONNECTED       ? "picture connected"
                        : imageId == IMG_NOT_CONNECTED ? "picture not connected"
                                                       : "picture " + std::to_string(imageId));
    }
    void StartBlinking() override {
        blinking = true;
        calls.push_back("start blinking");
    }
    bool IsBlinking() override { return blinking; }
    void StopBlinking() override {
        blinking = false;
        calls.push_back("stop blinking");
        if (stateAfterStop >= 0) syncState.connectionState = static_cast<ConnectionState>(stateAfterStop);
    }
    void ShowSyncingLabel() override { calls.push_back("show label"); }
    void RedrawHelpBar() override { calls.push_back("redraw help bar"); }
    void SetStatusLine(const std::u16string& text) override {
        statusLine = text;
        calls.push_back("status line");
        ++statusLines;
    }
};

class StatusUpdaterTest : public ::testing::Test {
protected:
    void SetUp() override { ResetSyncStateForTest(); }
    void TearDown() override { ResetSyncStateForTest(); }

    // Runs one pass with the displayed state `from` and the current state `to`.
    void Pass(ConnectionState from, ConnectionState to, bool blinking) {
        view.blinking = blinking;
        last = from;
        syncState.connectionState = to;
        StatusUpdaterPass(last, view);
    }

    RecordingView view;
    ConnectionState last = Waiting;
};

struct TransitionCase {
    const char* name;
    ConnectionState from, to;
    bool blinking;  // the blink timer runs when the pass starts
    std::vector<std::string> calls;
};

const std::vector<std::string> kSyncingCalls = {"picture connected", "start blinking", "show label",
                                                "redraw help bar", "status line"};

const TransitionCase kTransitions[] = {
    {"WaitingToConnected", Waiting, Connected, false, {"picture connected", "redraw help bar", "status line"}},
    {"ConnectedToSyncing", Connected, Syncing, false, kSyncingCalls},
    {"WaitingToSyncing", Waiting, Syncing, false, kSyncingCalls},
    {"SyncingToConnected", Syncing, Connected, true,
     {"stop blinking", "picture connected", "redraw help bar", "status line"}},
    {"SyncingToWaiting", Syncing, Waiting, true,
     {"stop blinking", "picture not connected", "redraw help bar", "status line"}},
    {"ConnectedToWaiting", Connected, Waiting, false, {"picture not connected", "redraw help bar", "status line"}},
    {"NoChange", Connected, Connected, false, {}},
    {"NoChangeWhileSyncing", Syncing, Syncing, true, {}},
};

class StatusTransitionTest : public StatusUpdaterTest, public ::testing::WithParamInterface<TransitionCase> {};

TEST_P(StatusTransitionTest, ShowsTheNewStateAndRemembersIt) {
    const TransitionCase& c = GetParam();
    syncState.statusText.Set(u"小明的iPhone");
    Pass(c.from, c.to, c.blinking);
    EXPECT_EQ(view.calls, c.calls);
    EXPECT_EQ(last, c.to);
    if (c.from == c.to) return;
    const std::u16string expectedText = c.to == Waiting ? STATUS_WAITING_TEXT : u"小明的iPhone";
    EXPECT_EQ(syncState.statusText.Get(), expectedText);
    EXPECT_EQ(view.statusLine, std::u16string(STATUS_LINE_CAPTION) + expectedText);
}

INSTANTIATE_TEST_SUITE_P(Transitions, StatusTransitionTest, ::testing::ValuesIn(kTransitions),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(StatusUpdaterTest, StateReadAgainAfterTheTimerStops) {
    // Syncing ends as Connected, but the phone is gone by the time the timer has stopped.
    view.stateAfterStop = Waiting;
    Pass(Syncing, Connected, true);
    EXPECT_EQ(view.calls, (std::vector<std::string>{"stop blinking", "picture not connected", "redraw help bar",
                                                    "status line"}));
    EXPECT_EQ(syncState.statusText.Get(), STATUS_WAITING_TEXT);
    EXPECT_EQ(last, Waiting);
}

TEST_F(StatusUpdaterTest, OddStateChangesNoPicture) {
    Pass(Connected, static_cast<ConnectionState>(7), false);
    EXPECT_EQ(view.calls, (std::vector<std::string>{"redraw help bar", "status line"}));
    EXPECT_EQ(last, static_cast<ConnectionState>(7));
}

TEST_F(StatusUpdaterTest, LongNameShownVerbatim) {
    const std::u16string longName(3000, u'铃');
    syncState.statusText.Set(longName);
    Pass(Waiting, Connected, false);
    EXPECT_EQ(view.statusLine, std::u16string(STATUS_LINE_CAPTION) + longName);
}

TEST_F(StatusUpdaterTest, ThreadStopsAtQuitAndShowsChanges) {
    RecordingView* shared = &view;
    StatusUpdaterParams params{Waiting, shared};
    syncState.connectionState = Connected;
    const platform::ThreadId thread = platform::StartThread(StatusUpdater, &params);
    ASSERT_NE(thread, 0u);
    // The thread's first pass sees the change; then the quit ends it.
    ASSERT_TRUE(WaitUntil([&] { return view.statusLines > 0; }));
    ASSERT_TRUE(platform::PostToThread(thread, platform::MSG_THREAD_QUIT));
    EXPECT_TRUE(WaitUntil([&] { return !platform::PostToThread(thread, PROBE_MESSAGE); })) << "the thread has not ended";
    EXPECT_EQ(view.calls, (std::vector<std::string>{"picture connected", "redraw help bar", "status line"}));
}

}  // namespace
