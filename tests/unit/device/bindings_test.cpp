#include <gtest/gtest.h>

#include <cstring>

#include "device/apple_bindings.h"
#include "platform/platform.h"
#include "tests/support/phone_fixture.h"

namespace {

// Windows finds a library that the process has loaded already by its name alone, whatever PATH
// says, so these cases need a process that has not bound yet: the headless tests cover them there.
#ifdef _WIN32
#define SkipWhereLoadedLibrariesAreFoundByName() GTEST_SKIP() << "covered by the headless tests on Windows"
#else
#define SkipWhereLoadedLibrariesAreFoundByName() (void)0
#endif

// Binding looks libraries up through PATH; each case points PATH at one folder.
class BindingTest : public ::testing::Test {
protected:
    void SetUp() override {
        BindSimulatedApple();
        savedPath_ = platform::GetEnv(u"PATH").value_or(u"");
    }
    void TearDown() override {
        platform::SetEnv(u"PATH", savedPath_);
        ASSERT_TRUE(BindAppleLibraries());  // the other tests expect the full simulator bound
    }
    void UsePath(const std::u16string& folder) { platform::SetEnv(u"PATH", folder + u";"); }
    std::u16string savedPath_;
};

TEST_F(BindingTest, CopiesTheCoreFoundationDataExports) {
    ASSERT_TRUE(BindCoreFoundation());
    auto* keys = static_cast<const CFDictionaryKeyCallBacks*>(platform::FindExport(CoreFoundation.module, "kCFTypeDictionaryKeyCallBacks"));
    auto* values = static_cast<const CFDictionaryValueCallBacks*>(platform::FindExport(CoreFoundation.module, "kCFTypeDictionaryValueCallBacks"));
    auto* trueAddr = static_cast<const CFBooleanRef*>(platform::FindExport(CoreFoundation.module, "kCFBooleanTrue"));
    ASSERT_TRUE(keys && values && trueAddr);
    EXPECT_EQ(std::memcmp(&CoreFoundation.kCFTypeDictionaryKeyCallBacks, keys, sizeof *keys), 0);
    EXPECT_EQ(std::memcmp(&CoreFoundation.kCFTypeDictionaryValueCallBacks, values, sizeof *values), 0);
    EXPECT_NE(CoreFoundation.kCFTypeDictionaryKeyCallBacks.retain, nullptr);
    EXPECT_NE(CoreFoundation.kCFTypeDictionaryValueCallBacks.release, nullptr);
    // The copies are program storage, not the library's.
    EXPECT_NE(static_cast<const void*>(&CoreFoundation.kCFTypeDictionaryKeyCallBacks), static_cast<const void*>(keys));
    EXPECT_EQ(CoreFoundation.kCFBooleanTrue, *trueAddr);
    EXPECT_NE(CoreFoundation.kCFBooleanTrue, nullptr);
    EXPECT_NE(CoreFoundation.kCFBooleanFalse, nullptr);
    EXPECT_NE(CoreFoundation.kCFBooleanFalse, CoreFoundation.kCFBooleanTrue);
}

TEST_F(BindingTest, EveryEntryPointIsResolved) {
    ASSERT_TRUE(BindAppleLibraries());
#define CHECK_SLOT(ret, name, args) EXPECT_NE(reinterpret_cast<void*>(TABLE.name), nullptr) << #name;
#define TABLE MobileDevice
    CHIMEBOX_MOBILEDEVICE_ENTRIES(CHECK_SLOT)
#undef TABLE
#define TABLE CoreFoundation
    CHIMEBOX_COREFOUNDATION_ENTRIES(CHECK_SLOT)
#undef TABLE
#define TABLE AirTraffic
    CHIMEBOX_AIRTRAFFIC_ENTRIES(CHECK_SLOT)
#undef TABLE
#undef CHECK_SLOT
}

TEST_F(BindingTest, AMissingLibraryKeepsNoHandleAndResolvesNothing) {
    SkipWhereLoadedLibrariesAreFoundByName();
    UsePath(AppleSupportRoot() + u"CoreFP");  // a folder without any of the three
    EXPECT_FALSE(BindCoreFoundation());
    EXPECT_EQ(CoreFoundation.module, nullptr);
    EXPECT_EQ(reinterpret_cast<void*>(CoreFoundation.CFRelease), nullptr);
    EXPECT_FALSE(BindMobileDevice());
    EXPECT_EQ(MobileDevice.module, nullptr);
    EXPECT_FALSE(BindAirTrafficHost());
    EXPECT_EQ(AirTraffic.module, nullptr);
}

TEST_F(BindingTest, StopsAtTheFirstLibraryThatFails) {
    SkipWhereLoadedLibrariesAreFoundByName();
    // CoreFoundation and an AirTrafficHost.dll can be found, iTunesMobileDevice.dll cannot.
    ResetAppleBindingsForTest();
    platform::SetEnv(u"PATH", AppleSupportRoot() + u"Apple Application Support;" +
                                  BuildPath("tests/unit/device/partial-airtraffic-uncalled") + u";");
    EXPECT_FALSE(BindAppleLibraries());
    EXPECT_NE(CoreFoundation.module, nullptr);
    EXPECT_EQ(MobileDevice.module, nullptr);
    EXPECT_EQ(AirTraffic.module, nullptr);
}

// Stand-ins for AirTrafficHost.dll that lack one export each (built by this folder's CMake).
struct PartialCase {
    const char* folder;
    bool binds;
    bool lacksDestroy;  // else it lacks ATCFMessageGetParam
};

TEST_F(BindingTest, MissingExportsOnlyMatterWhenTheProgramCallsThem) {
    SkipWhereLoadedLibrariesAreFoundByName();
    const PartialCase cases[] = {
        {"partial-airtraffic-uncalled", true, false},  // ATCFMessageGetParam is never called
        {"partial-airtraffic-called", false, true},
    };
    for (const auto& c : cases) {
        UsePath(BuildPath(std::string("tests/unit/device/") + c.folder));
        EXPECT_EQ(BindAirTrafficHost(), c.binds) << c.folder;
        EXPECT_NE(AirTraffic.module, nullptr) << c.folder;
        EXPECT_EQ(AirTraffic.ATHostConnectionDestroy == nullptr, c.lacksDestroy) << c.folder;
        EXPECT_EQ(AirTraffic.ATCFMessageGetParam == nullptr, !c.lacksDestroy) << c.folder;
    }
}

}  // namespace
