// Registry, environment, clocks, process list and the shell's "open".
#include "platform/platform.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// ---- Registry ----

class RegistryReaderTest : public ::testing::Test {
protected:
    void TearDown() override { platform::SetRegistryReader({}); }
};

TEST_F(RegistryReaderTest, ReplacementAnswersAndSeesTheExactArguments) {
    std::vector<std::pair<std::u16string, std::u16string>> asked;
    std::mutex lock;
    platform::SetRegistryReader([&](std::u16string_view key, std::u16string_view value) -> std::optional<std::u16string> {
        std::lock_guard<std::mutex> guard(lock);
        asked.emplace_back(key, value);
        if (key == u"SOFTWARE\\Apple Inc.\\Apple Mobile Device Support" && value == u"InstallDir") {
            return u"C:\\Apple\\\u94C3\\Mobile Device Support\\";
        }
        return std::nullopt;
    });
    EXPECT_EQ(platform::ReadRegistryString(u"SOFTWARE\\Apple Inc.\\Apple Mobile Device Support", u"InstallDir"),
              u"C:\\Apple\\\u94C3\\Mobile Device Support\\");
    EXPECT_EQ(platform::ReadRegistryString(u"SOFTWARE\\Apple Inc.\\Apple Mobile Device Support", u"Other"), std::nullopt);
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[1].first, u"SOFTWARE\\Apple Inc.\\Apple Mobile Device Support");
    EXPECT_EQ(asked[1].second, u"Other");

    platform::SetRegistryReader({});  // back to the default
    EXPECT_EQ(platform::ReadRegistryString(u"SOFTWARE\\Apple Inc.\\Apple Mobile Device Support", u"InstallDir"),
              std::nullopt);
    EXPECT_EQ(asked.size(), 2u) << "the replaced reader must no longer be asked";
}

#ifdef _WIN32
// The real registry, 32-bit view, with values written here: the reader must cope with values that
// fill its 260-unit buffer without a terminator, and refuse values that do not fit.
class RealRegistry : public ::testing::Test {
protected:
    static constexpr const wchar_t* kKey = L"SOFTWARE\\ChimeboxPlatformTest";
    static constexpr REGSAM kWow32 = KEY_WOW64_32KEY;

    void SetUp() override {
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS | kWow32, nullptr, &key_,
                                  nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        RegCloseKey(key_);
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kKey, kWow32, 0);
    }
    void Write(const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
        ASSERT_EQ(RegSetValueExW(key_, name, 0, type, static_cast<const BYTE*>(data), bytes), ERROR_SUCCESS);
    }
    void WriteUnits(const wchar_t* name, const std::u16string& units, bool terminated) {
        std::u16string data = units;
        if (terminated) data.push_back(u'\0');
        Write(name, REG_SZ, data.data(), static_cast<DWORD>(data.size() * sizeof(char16_t)));
    }
    static std::optional<std::u16string> Read(std::u16string_view value) {
        return platform::ReadRegistryString(u"SOFTWARE\\ChimeboxPlatformTest", value);
    }

    HKEY key_ = nullptr;
};

TEST_F(RealRegistry, ReadsStringValuesWithinTheBuffer) {
    WriteUnits(L"short", u"C:\\Program Files\\\u94C3\\", true);
    WriteUnits(L"fits", std::u16string(259, u'a'), true);
    WriteUnits(L"fullNoTerminator", std::u16string(260, u'b'), false);
    WriteUnits(L"tooLong", std::u16string(300, u'c'), true);
    WriteUnits(L"empty", u"", true);
    EXPECT_EQ(Read(u"short"), u"C:\\Program Files\\\u94C3\\");
    EXPECT_EQ(Read(u"fits"), std::u16string(259, u'a'));
    // Windows hands back a string value's stored units as they are; Wine refuses one that leaves no
    // room for a terminator. Either is safe; anything else would be read past the value.
    const auto fullString = Read(u"fullNoTerminator");
    if (fullString) {
        EXPECT_EQ(*fullString, std::u16string(260, u'b'));
    }
    EXPECT_EQ(Read(u"tooLong"), std::nullopt);
    EXPECT_EQ(Read(u"empty"), u"");
    EXPECT_EQ(Read(u"absent"), std::nullopt);
    EXPECT_EQ(platform::ReadRegistryString(u"SOFTWARE\\ChimeboxNoSuchKey", u"short"), std::nullopt);
}

TEST_F(RealRegistry, TakesAnyValueTypeAsText) {
    const char16_t text[] = u"AB";  // as four bytes of binary data, no terminator
    Write(L"binary", REG_BINARY, text, 4);
    EXPECT_EQ(Read(u"binary"), u"AB");
    // Binary data filling all 520 bytes comes back raw: 260 units and nothing after them.
    const std::u16string full(260, u'd');
    Write(L"fullBinary", REG_BINARY, full.data(), 520);
    EXPECT_EQ(Read(u"fullBinary"), full);
}
#endif

// ---- Environment ----

struct EnvCase {
    const char* label;
    std::u16string value;
};

void PrintTo(const EnvCase& c, std::ostream* out) { *out << c.label; }

class Environment : public ::testing::TestWithParam<EnvCase> {};

TEST_P(Environment, SetGetUnset) {
    const std::string suffix = std::to_string(testsupport::OwnProcessId());
    const std::u16string name = u"CHIMEBOX_PLATFORM_TEST_" + std::u16string(suffix.begin(), suffix.end());
    EXPECT_EQ(platform::GetEnv(name), std::nullopt);
    platform::SetEnv(name, GetParam().value);
    EXPECT_EQ(platform::GetEnv(name), GetParam().value);
    platform::SetEnv(name, u"replaced");
    EXPECT_EQ(platform::GetEnv(name), u"replaced");
    platform::UnsetEnv(name);
    EXPECT_EQ(platform::GetEnv(name), std::nullopt);
}

const EnvCase kEnvCases[] = {
    {"Plain", u"value"},
    {"Empty", u""},
    {"NonAscii", u"C:\\\u94C3\u58F0\\\U0001F514;caf\u00E9"},
    {"WithEquals", u"a=b=c"},
    {"Long", std::u16string(5000, u'x')},  // longer than any first-guess buffer
};

INSTANTIATE_TEST_SUITE_P(Platform, Environment, ::testing::ValuesIn(kEnvCases),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(EnvironmentNames, EmptyNameIsNeverSet) {
    platform::SetEnv(u"", u"x");
    EXPECT_EQ(platform::GetEnv(u""), std::nullopt);
}

// ---- Clocks ----

TEST(Clocks, SecondsSince1970MatchTheCLibrary) {
    const auto before = static_cast<uint32_t>(std::time(nullptr));
    const uint32_t ours = platform::SecondsSince1970();
    const auto after = static_cast<uint32_t>(std::time(nullptr));
    EXPECT_GE(ours + 1, before);
    EXPECT_LE(ours, after + 1);
}

TEST(Clocks, SleepIsMeasuredByTheMonotonicClock) {
    const uint64_t start = platform::MonotonicMs();
    platform::SleepMs(60);
    const uint64_t elapsed = platform::MonotonicMs() - start;
    EXPECT_GE(elapsed, 45u);  // Windows' tick has a resolution of about 16 ms
    EXPECT_LT(elapsed, 5000u);
}

// ---- Processes ----

TEST(Processes, ListIncludesThisProcessByFileName) {
    const std::u16string ownName = testsupport::OwnExecutable().filename().u16string();
    const uint32_t ownId = testsupport::OwnProcessId();
    const std::vector<platform::ProcessInfo> list = platform::ListProcesses();
    const auto self = std::find_if(list.begin(), list.end(), [&](const auto& p) { return p.id == ownId; });
    ASSERT_NE(self, list.end());
    EXPECT_EQ(self->name, ownName);
    EXPECT_GT(list.size(), 1u);
}

// ---- Shell ----

#ifndef _WIN32
TEST(Shell, OpenAppendsToTheOpenLogWhenSet) {
    testsupport::TempDir temp;
    const std::filesystem::path log = temp.path() / "opened.log";
    const std::optional<std::u16string> saved = platform::GetEnv(u"CHIMEBOX_OPEN_LOG");
    platform::SetEnv(u"CHIMEBOX_OPEN_LOG", log.u16string());
    EXPECT_TRUE(platform::ShellOpen(u"https://example.com/ringtones?a=1&b=2"));
    EXPECT_TRUE(platform::ShellOpen(u"https://example.com/\u94C3"));
    if (saved) {
        platform::SetEnv(u"CHIMEBOX_OPEN_LOG", *saved);
    } else {
        platform::UnsetEnv(u"CHIMEBOX_OPEN_LOG");
    }
    std::ifstream in(log, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    EXPECT_EQ(content.str(), "https://example.com/ringtones?a=1&b=2\nhttps://example.com/\xE9\x93\x83\n");
}
#endif

}  // namespace
