#include <gtest/gtest.h>

#include <map>

#include "device/apple_runtime.h"
#include "platform/platform.h"

namespace {

using Registry = std::map<std::pair<std::u16string, std::u16string>, std::u16string>;
constexpr char16_t APPS_KEY[] = u"SOFTWARE\\Apple Computer, Inc.\\iPod\\RegisteredApps\\4";
constexpr char16_t MDS_KEY[] = u"SOFTWARE\\Apple Inc.\\Apple Mobile Device Support";

class RuntimeTest : public ::testing::Test {
protected:
    void TearDown() override {
        platform::SetRegistryReader({});
        if (savedPath_) platform::SetEnv(u"PATH", *savedPath_);
    }
    void UseRegistry(Registry values) {
        platform::SetRegistryReader([values](std::u16string_view key, std::u16string_view value) -> std::optional<std::u16string> {
            auto it = values.find({std::u16string(key), std::u16string(value)});
            if (it == values.end()) return std::nullopt;
            return it->second;
        });
    }
    std::optional<std::u16string> savedPath_ = platform::GetEnv(u"PATH");
};

struct DiscoveryCase {
    const char* what;
    bool registeredApps;
    std::optional<std::u16string> installDir;
    std::u16string root;
};

TEST_F(RuntimeTest, FindAppleSupportRootDerivesTheParentOfInstallDir) {
    const DiscoveryCase cases[] = {
        {"trailing backslash", true, u"C:\\Apple\\Mobile Device Support\\", u"C:\\Apple\\"},
        {"no trailing backslash", true, u"C:\\Apple\\Mobile Device Support", u"C:\\Apple\\"},
        {"single backslash as last character", true, u"\\", u""},
        {"backslash only at the end", true, u"Support\\", u""},
        {"no backslash", true, u"Support", u""},
        {"empty value", true, u"", u""},
        {"drive root", true, u"C:\\", u""},
        {"no RegisteredApps entry", false, u"C:\\Apple\\Mobile Device Support\\", u""},
        {"no InstallDir", true, std::nullopt, u""},
        {"non-ASCII folder", true, u"D:\\苹果\\Mobile Device Support\\", u"D:\\苹果\\"},
    };
    for (const auto& c : cases) {
        Registry registry;
        if (c.registeredApps) registry[{APPS_KEY, u"path"}] = u"C:\\Program Files\\iTunes\\iTunes.exe";
        if (c.installDir) registry[{MDS_KEY, u"InstallDir"}] = *c.installDir;
        UseRegistry(registry);
        EXPECT_EQ(platform::Utf16ToUtf8(FindAppleSupportRoot()), platform::Utf16ToUtf8(c.root)) << c.what;
    }
}

TEST_F(RuntimeTest, RegisteredAppsKeyWithoutPathValueMeansNotInstalled) {
    // The key exists (another value is there) but "path" is missing.
    UseRegistry({{{APPS_KEY, u"other"}, u"x"}, {{MDS_KEY, u"InstallDir"}, u"C:\\Apple\\Mobile Device Support\\"}});
    EXPECT_TRUE(FindAppleSupportRoot().empty());
}

TEST_F(RuntimeTest, PrepareAppleSearchPathPutsAppleFoldersFirst) {
    struct PathCase {
        std::optional<std::u16string> oldPath;
        std::u16string tail;
    } cases[] = {
        {std::nullopt, u""},
        {u"C:\\Windows;C:\\Tools", u"C:\\Windows;C:\\Tools"},
        {std::u16string(5000, u'x'), std::u16string(5000, u'x')},  // longer than any fixed buffer: kept whole
    };
    const std::u16string root = u"C:\\Apple\\";
    for (const auto& c : cases) {
        if (c.oldPath) platform::SetEnv(u"PATH", *c.oldPath);
        else platform::UnsetEnv(u"PATH");
        PrepareAppleSearchPath(root);
        EXPECT_EQ(platform::GetEnv(u"PATH").value_or(u"<unset>"),
                  u"C:\\Apple\\Mobile Device Support;C:\\Apple\\Apple Application Support;C:\\Apple\\CoreFP;" + c.tail);
    }
}

}  // namespace
