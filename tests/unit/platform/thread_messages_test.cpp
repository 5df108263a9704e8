// Per-thread message queues: StartThread, PostToThread, PeekThreadMessage, DrainThreadMessages.
#include "platform/platform.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <set>
#include <thread>
#include <vector>

namespace {

using platform::ThreadId;
using platform::ThreadMessage;
using testsupport::WaitUntil;

constexpr uint32_t MSG_TEST = platform::MSG_USER_BASE + 7;
constexpr uint32_t MSG_ECHO = platform::MSG_USER_BASE + 8;
constexpr uint32_t kTimeoutMs = 10000;

// Runs a function on a thread started with platform::StartThread and lets the test wait for it.
class Worker {
public:
    explicit Worker(std::function<void()> body) : state_(std::make_shared<State>()) {
        state_->body = std::move(body);
        state_->self = state_;  // kept alive by the thread until the body has run
        id_ = platform::StartThread(&Worker::Run, state_.get());
        if (id_ == 0) state_->self.reset();
    }
    ~Worker() { Join(); }
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    ThreadId id() const { return id_; }
    bool Join() {
        return id_ != 0 && state_->finished.wait_for(std::chrono::milliseconds(kTimeoutMs)) == std::future_status::ready;
    }

private:
    struct State {
        std::function<void()> body;
        std::promise<void> done;
        std::shared_future<void> finished = done.get_future().share();
        std::shared_ptr<State> self;
    };

    static unsigned Run(void* raw) {
        std::shared_ptr<State> state = std::move(static_cast<State*>(raw)->self);
        state->body();
        state->done.set_value();
        return 0;
    }

    std::shared_ptr<State> state_;
    ThreadId id_ = 0;
};

// Collects the calling thread's messages until `count` have arrived or the time is up.
std::vector<ThreadMessage> CollectMessages(size_t count) {
    std::vector<ThreadMessage> got;
    WaitUntil([&] {
        ThreadMessage m;
        while (got.size() < count && platform::PeekThreadMessage(&m)) got.push_back(m);
        return got.size() >= count;
    }, kTimeoutMs);
    return got;
}

class ThreadMessages : public ::testing::Test {
protected:
    void SetUp() override {
        // The test thread's own queue may hold replies left by an earlier failing test.
        ThreadMessage m;
        while (platform::PeekThreadMessage(&m)) {
        }
    }
};

TEST_F(ThreadMessages, PostedBeforeTheThreadFirstLooksAreKept) {
    std::atomic<bool> go{false};
    std::vector<ThreadMessage> got;
    Worker worker([&] {
        WaitUntil([&] { return go.load(); }, kTimeoutMs);
        got = CollectMessages(3);
    });
    ASSERT_NE(worker.id(), 0u);
    // Right after StartThread, before the thread has touched its queue.
    EXPECT_TRUE(platform::PostToThread(worker.id(), MSG_TEST, 1, 10));
    EXPECT_TRUE(platform::PostToThread(worker.id(), MSG_TEST, 2, 20));
    EXPECT_TRUE(platform::PostToThread(worker.id(), MSG_TEST, 3, 30));
    go = true;
    ASSERT_TRUE(worker.Join());
    ASSERT_EQ(got.size(), 3u);
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].message, MSG_TEST);
        EXPECT_EQ(got[i].wParam, i + 1);
        EXPECT_EQ(got[i].lParam, static_cast<intptr_t>((i + 1) * 10));
    }
}

TEST_F(ThreadMessages, ArriveInOrderWithFullWidthParameters) {
    // Extremes first, to catch truncation of either parameter to 32 bits on 64-bit builds.
    std::vector<ThreadMessage> sent = {
        {MSG_TEST, UINTPTR_MAX, INTPTR_MIN},
        {MSG_TEST, 0, INTPTR_MAX},
        {MSG_TEST + 1, static_cast<uintptr_t>(0x80000001u), -1},
    };
    for (uint32_t i = 0; i < 500; ++i) {
        sent.push_back({MSG_TEST + (i % 3), i, -static_cast<intptr_t>(i)});
    }
    std::atomic<bool> go{false};
    std::vector<ThreadMessage> got;
    Worker worker([&] {
        WaitUntil([&] { return go.load(); }, kTimeoutMs);
        got = CollectMessages(sent.size());
    });
    ASSERT_NE(worker.id(), 0u);
    for (const ThreadMessage& m : sent) ASSERT_TRUE(platform::PostToThread(worker.id(), m.message, m.wParam, m.lParam));
    go = true;
    ASSERT_TRUE(worker.Join());
    ASSERT_EQ(got.size(), sent.size());
    for (size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(got[i].message, sent[i].message) << i;
        EXPECT_EQ(got[i].wParam, sent[i].wParam) << i;
        EXPECT_EQ(got[i].lParam, sent[i].lParam) << i;
    }
}

TEST_F(ThreadMessages, DrainStopsAtQuitAndLeavesLaterMessagesQueued) {
    std::promise<bool> emptyDrain;
    std::atomic<int> phase{0};
    bool sawQuit = false;
    bool sawQuitAgain = true;
    std::vector<ThreadMessage> afterQuit;
    bool drainWithoutQuit = true;
    bool leftAfterDrain = true;
    Worker worker([&] {
        emptyDrain.set_value(platform::DrainThreadMessages());
        WaitUntil([&] { return phase.load() == 1; }, kTimeoutMs);
        sawQuit = platform::DrainThreadMessages();
        afterQuit = CollectMessages(1);
        sawQuitAgain = platform::DrainThreadMessages();
        phase = 2;
        WaitUntil([&] { return phase.load() == 3; }, kTimeoutMs);
        drainWithoutQuit = platform::DrainThreadMessages();
        ThreadMessage m;
        leftAfterDrain = platform::PeekThreadMessage(&m);
    });
    ASSERT_NE(worker.id(), 0u);
    auto empty = emptyDrain.get_future();
    ASSERT_EQ(empty.wait_for(std::chrono::milliseconds(kTimeoutMs)), std::future_status::ready);
    EXPECT_FALSE(empty.get()) << "an empty queue holds no quit";

    ASSERT_TRUE(platform::PostToThread(worker.id(), MSG_TEST, 1));
    ASSERT_TRUE(platform::PostToThread(worker.id(), platform::MSG_THREAD_QUIT));
    ASSERT_TRUE(platform::PostToThread(worker.id(), MSG_TEST, 2));
    phase = 1;
    ASSERT_TRUE(WaitUntil([&] { return phase.load() == 2; }, kTimeoutMs));
    ASSERT_TRUE(platform::PostToThread(worker.id(), MSG_TEST, 3));
    ASSERT_TRUE(platform::PostToThread(worker.id(), MSG_ECHO, 4));
    phase = 3;
    ASSERT_TRUE(worker.Join());

    EXPECT_TRUE(sawQuit);
    ASSERT_EQ(afterQuit.size(), 1u) << "the message behind the quit must stay queued";
    EXPECT_EQ(afterQuit[0].wParam, 2u);
    EXPECT_FALSE(sawQuitAgain);
    EXPECT_FALSE(drainWithoutQuit);
    EXPECT_FALSE(leftAfterDrain) << "draining consumes every message";
}

TEST_F(ThreadMessages, PostingToAnEndedOrUnknownThreadFails) {
    EXPECT_FALSE(platform::PostToThread(0, MSG_TEST));

    ThreadId ended = 0;
    {
        Worker worker([] {});
        ended = worker.id();
        ASSERT_NE(ended, 0u);
        ASSERT_TRUE(worker.Join());
    }
    // The queue goes once the thread function has returned, an instant after Join.
    EXPECT_TRUE(WaitUntil([&] { return !platform::PostToThread(ended, MSG_TEST); }, kTimeoutMs));
    EXPECT_FALSE(platform::PostToThread(ended, platform::MSG_THREAD_QUIT));
}

TEST_F(ThreadMessages, ThreadsNotStartedHereCanReceiveUntilTheyEnd) {
    std::promise<ThreadId> idPromise;
    std::atomic<bool> go{false};
    std::vector<ThreadMessage> got;
    std::thread foreign([&] {
        idPromise.set_value(platform::CurrentThreadId());
        WaitUntil([&] { return go.load(); }, kTimeoutMs);
        got = CollectMessages(2);
    });
    const ThreadId id = idPromise.get_future().get();
    EXPECT_NE(id, 0u);
    EXPECT_NE(id, platform::CurrentThreadId());
    EXPECT_TRUE(platform::PostToThread(id, MSG_TEST, 5));
    EXPECT_TRUE(platform::PostToThread(id, platform::MSG_THREAD_QUIT));
    go = true;
    foreign.join();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].wParam, 5u);
    EXPECT_EQ(got[1].message, platform::MSG_THREAD_QUIT);
    EXPECT_TRUE(WaitUntil([&] { return !platform::PostToThread(id, MSG_TEST); }, kTimeoutMs));
}

// Many workers echo to the test thread (itself not started by StartThread) until they get quit.
TEST_F(ThreadMessages, ManyThreadsEchoToTheTestThread) {
    constexpr size_t kThreads = 16;
    constexpr size_t kPerThread = 50;
    const ThreadId home = platform::CurrentThreadId();
    ASSERT_NE(home, 0u);

    std::vector<std::unique_ptr<Worker>> workers;
    for (size_t w = 0; w < kThreads; ++w) {
        workers.push_back(std::make_unique<Worker>([home] {
            ThreadMessage m;
            WaitUntil([&] {
                while (platform::PeekThreadMessage(&m)) {
                    if (m.message == platform::MSG_THREAD_QUIT) return true;
                    platform::PostToThread(home, MSG_ECHO, m.wParam, m.lParam);
                }
                return false;
            }, kTimeoutMs);
        }));
        ASSERT_NE(workers.back()->id(), 0u);
    }
    std::set<ThreadId> ids;
    for (const auto& worker : workers) ids.insert(worker->id());
    EXPECT_EQ(ids.size(), kThreads) << "identities of living threads are distinct";
    EXPECT_EQ(ids.count(home), 0u);

    for (size_t i = 0; i < kPerThread; ++i) {
        for (size_t w = 0; w < kThreads; ++w) {
            ASSERT_TRUE(platform::PostToThread(workers[w]->id(), MSG_TEST, w, static_cast<intptr_t>(i)));
        }
    }
    for (const auto& worker : workers) ASSERT_TRUE(platform::PostToThread(worker->id(), platform::MSG_THREAD_QUIT));

    const std::vector<ThreadMessage> echoes = CollectMessages(kThreads * kPerThread);
    for (const auto& worker : workers) EXPECT_TRUE(worker->Join());
    ASSERT_EQ(echoes.size(), kThreads * kPerThread);
    std::vector<intptr_t> next(kThreads, 0);
    for (const ThreadMessage& m : echoes) {
        ASSERT_EQ(m.message, MSG_ECHO);
        ASSERT_LT(m.wParam, kThreads);
        EXPECT_EQ(m.lParam, next[m.wParam]) << "worker " << m.wParam << " echoed out of order";
        next[m.wParam] = m.lParam + 1;
    }
    ThreadMessage extra;
    EXPECT_FALSE(platform::PeekThreadMessage(&extra));
}

TEST(ThreadStart, RejectsAMissingEntry) { EXPECT_EQ(platform::StartThread(nullptr, nullptr), 0u); }

}  // namespace
