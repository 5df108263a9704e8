// Named mutexes: naming, exclusion between threads and between processes.
#include "platform/platform.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using platform::MutexHandle;
using testsupport::WaitUntil;

// Closes a handle at scope end.
struct MutexCloser {
    void operator()(void* handle) const { platform::CloseNamedMutex(handle); }
};
using Mutex = std::unique_ptr<void, MutexCloser>;

// A name no earlier run or other test can have used.
std::u16string UniqueName(std::u16string_view stem) {
    static int counter = 0;
    std::string suffix = "-";
    suffix.append(std::to_string(testsupport::OwnProcessId())).append("-");
    suffix.append(std::to_string(platform::MonotonicMs())).append("-").append(std::to_string(counter++));
    std::u16string name(stem);
    name.append(suffix.begin(), suffix.end());
    return name;
}

// Every test gets its own mutex folder (POSIX), one that does not exist yet, so creating a mutex
// must also create the folder.
class NamedMutexTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = platform::GetEnv(u"CHIMEBOX_MUTEX_DIR");
        const auto dir = (temp_.path() / "mutexes" / "nested").u16string();
        platform::SetEnv(u"CHIMEBOX_MUTEX_DIR", dir);
    }
    void TearDown() override {
        if (saved_) {
            platform::SetEnv(u"CHIMEBOX_MUTEX_DIR", *saved_);
        } else {
            platform::UnsetEnv(u"CHIMEBOX_MUTEX_DIR");
        }
    }

    testsupport::TempDir temp_;
    std::optional<std::u16string> saved_;
};

struct NameCase {
    const char* label;
    std::u16string stem;
};

void PrintTo(const NameCase& c, std::ostream* out) { *out << c.label; }

class MutexNames : public NamedMutexTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(MutexNames, OpenFindsOnlyWhatWasCreated) {
    const std::u16string name = UniqueName(GetParam().stem);
    EXPECT_EQ(platform::OpenNamedMutex(name), nullptr) << "nothing of that name exists yet";

    Mutex created(platform::CreateNamedMutex(name));
    ASSERT_NE(created, nullptr);
    Mutex opened(platform::OpenNamedMutex(name));
    EXPECT_NE(opened, nullptr);

    // Names that a careless mapping to file names could confuse with this one.
    for (const std::u16string& other : {name + u"x", name.substr(0, name.size() - 1), u"%" + name, name + u"%0041"}) {
        Mutex wrong(platform::OpenNamedMutex(other));
        EXPECT_EQ(wrong, nullptr);
    }
}

std::u16string Repeat(std::u16string_view unit, size_t times) {
    std::u16string out;
    for (size_t i = 0; i < times; ++i) out += unit;
    return out;
}

const NameCase kNameCases[] = {
    {"Ascii", u"HAS_AFC_SERVICE_test"},
    {"Chinese", u"\u540c\u6b65\u4e92\u65a5"},
    {"Emoji", u"bell-\U0001F514"},
    {"Spaces", u"a name with spaces"},
    {"PercentLookalike", u"aA%0041"},
    {"Dots", u"..hidden.."},
    {"Slash", u"a/b/../c"},
    {"LoneSurrogate", u"x\xD800y"},
    {"Long", Repeat(u"\u94c3", 180)},
};

INSTANTIATE_TEST_SUITE_P(Platform, MutexNames, ::testing::ValuesIn(kNameCases),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(NamedMutexTest, LongNamesDifferingOnlyAtTheEndStayApart) {
    const std::u16string stem = UniqueName(Repeat(u"long", 50));
    Mutex a(platform::CreateNamedMutex(stem + u"-a"));
    ASSERT_NE(a, nullptr);
    Mutex b(platform::OpenNamedMutex(stem + u"-b"));
    EXPECT_EQ(b, nullptr);
}

TEST_F(NamedMutexTest, EmptyNameMakesAnUnnamedMutexThatCannotBeOpened) {
    Mutex unnamed(platform::CreateNamedMutex(u""));
    ASSERT_NE(unnamed, nullptr);
    platform::WaitNamedMutex(unnamed.get());
    platform::ReleaseNamedMutex(unnamed.get());
    EXPECT_EQ(platform::OpenNamedMutex(u""), nullptr);
}

// How the threads reach the mutex: each through its own handle (as every device session does),
// or all through one handle.
struct SharingCase {
    const char* label;
    bool sharedHandle;
};

void PrintTo(const SharingCase& c, std::ostream* out) { *out << c.label; }

class MutexBetweenThreads : public NamedMutexTest, public ::testing::WithParamInterface<SharingCase> {};

TEST_P(MutexBetweenThreads, SecondWaiterBlocksUntilRelease) {
    const std::u16string name = UniqueName(u"block");
    Mutex created(platform::CreateNamedMutex(name));
    ASSERT_NE(created, nullptr);
    Mutex mine(platform::OpenNamedMutex(name));
    ASSERT_NE(mine, nullptr);

    platform::WaitNamedMutex(mine.get());
    std::atomic<bool> acquired{false};
    std::thread other([&] {
        Mutex own(GetParam().sharedHandle ? nullptr : platform::OpenNamedMutex(name));
        MutexHandle handle = GetParam().sharedHandle ? mine.get() : own.get();
        platform::WaitNamedMutex(handle);
        acquired = true;
        platform::ReleaseNamedMutex(handle);
    });
    platform::SleepMs(100);
    EXPECT_FALSE(acquired.load()) << "the mutex let a second owner in";
    platform::ReleaseNamedMutex(mine.get());
    EXPECT_TRUE(WaitUntil([&] { return acquired.load(); }, 10000));
    other.join();
}

// Lost updates or two threads inside at once prove that exclusion failed. Atomics keep the
// counter itself well-defined (and quiet under ThreadSanitizer, which does not see file locks).
TEST_P(MutexBetweenThreads, CounterUpdatesAreNeverLost) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 200;
    const std::u16string name = UniqueName(u"counter");
    Mutex created(platform::CreateNamedMutex(name));
    ASSERT_NE(created, nullptr);

    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    std::atomic<int> counter{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            Mutex own(GetParam().sharedHandle ? nullptr : platform::OpenNamedMutex(name));
            MutexHandle handle = GetParam().sharedHandle ? created.get() : own.get();
            if (handle == nullptr) return;
            for (int r = 0; r < kRounds; ++r) {
                platform::WaitNamedMutex(handle);
                if (inside.fetch_add(1) != 0) ++overlaps;
                const int seen = counter.load();
                std::this_thread::yield();
                counter.store(seen + 1);
                inside.fetch_sub(1);
                platform::ReleaseNamedMutex(handle);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(counter.load(), kThreads * kRounds);
}

const SharingCase kSharingCases[] = {{"OwnHandles", false}, {"SharedHandle", true}};

INSTANTIATE_TEST_SUITE_P(Platform, MutexBetweenThreads, ::testing::ValuesIn(kSharingCases),
                         [](const auto& info) { return std::string(info.param.label); });

std::filesystem::path HolderProgram() {
#ifdef _WIN32
    const char* file = "platform_mutex_holder.exe";
#else
    const char* file = "platform_mutex_holder";
#endif
    return testsupport::OwnExecutable().parent_path() / file;
}

// The test holds the mutex first and the helper must wait; then the helper holds it and the test
// must wait. Marker files written inside the critical sections prove the order.
TEST_F(NamedMutexTest, SerialisesTwoProcesses) {
    constexpr uint32_t kStartTimeoutMs = 60000;  // a process start under Wine takes seconds
    const std::u16string name = UniqueName(u"\u8de8\u8fdb\u7a0b cross-process");
    Mutex created(platform::CreateNamedMutex(name));
    ASSERT_NE(created, nullptr);
    Mutex mine(platform::OpenNamedMutex(name));
    ASSERT_NE(mine, nullptr);
    platform::WaitNamedMutex(mine.get());

    const std::filesystem::path markers = temp_.path();
    auto helper = testsupport::ChildProcess::Start(
        HolderProgram(), {testsupport::HexOfUtf16(name), "300", testsupport::HexOfUtf16(markers.u16string())});
    ASSERT_NE(helper, nullptr) << "cannot start " << HolderProgram();

    const bool started = WaitUntil([&] { return std::filesystem::exists(markers / "started"); }, kStartTimeoutMs);
    if (started) {
        platform::SleepMs(300);  // let the helper reach its wait
        EXPECT_FALSE(std::filesystem::exists(markers / "held")) << "helper got in while the test held the mutex";
    }
    testsupport::TouchFile(markers / "released");
    platform::ReleaseNamedMutex(mine.get());
    ASSERT_TRUE(started) << "helper never opened the mutex";

    ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(markers / "held"); }, kStartTimeoutMs));
    platform::WaitNamedMutex(mine.get());
    EXPECT_TRUE(std::filesystem::exists(markers / "done")) << "test got in while the helper held the mutex";
    platform::ReleaseNamedMutex(mine.get());

    int exitCode = -1;
    ASSERT_TRUE(helper->Wait(kStartTimeoutMs, &exitCode));
    EXPECT_EQ(exitCode, 0) << "2: helper found no mutex, 3: helper got in too early";
}

}  // namespace
