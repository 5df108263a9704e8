#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "device/device_session.h"
#include "exchange/ringtone_report.h"
#include "tests/unit/exchange/exchange_fixture.h"

namespace {

using ReportTest = ExchangeTest;

std::multiset<std::string> Split(const std::string& list) {
    std::multiset<std::string> names;
    size_t start = 0;
    for (size_t star; (star = list.find('*', start)) != std::string::npos; start = star + 1) names.insert(list.substr(start, star - start));
    names.insert(list.substr(start));
    return names;
}

TEST_F(ReportTest, CopiesTheCatalogueAndListsRingtonesThenRemovesTheRequest) {
    const std::string catalogue("bplist00\x00\x01\x02 catalogue", 22);
    WriteFile(OnMedia("/iTunes_Control/iTunes/Ringtones.plist"), catalogue);
    for (const char* name : {"a.m4r", "b.m4r.bak", ".m4rfirst", "CAPS.M4R", "plain.txt"}) {
        WriteFile(OnMedia(std::string("/iTunes_Control/Ringtones/") + name), "x");
    }
    fs::create_directories(OnMedia("/iTunes_Control/Ringtones/Sync"));
    Companion("/Documents/sync/GetCurrentRing");
    ReportCurrentRingtones();
    EXPECT_EQ(ReadFile(InContainer("/Documents/sync/current/Ringtones.plist")), catalogue);
    std::string list = ReadFile(InContainer("/Documents/sync/current/m4rlist"));
    EXPECT_EQ(Split(list), (std::multiset<std::string>{"a.m4r", "b.m4r.bak", ".m4rfirst"}));
    EXPECT_NE(list.back(), '*');
    EXPECT_EQ(list.find('\0'), std::string::npos);
    EXPECT_FALSE(fs::exists(InContainer("/Documents/sync/GetCurrentRing")));
}

TEST_F(ReportTest, OneNameHasNoSeparator) {
    WriteFile(OnMedia("/iTunes_Control/Ringtones/only.m4r"), "x");
    AfcConnection media(OpenMediaAfc());
    EXPECT_EQ(ListRingtoneNames(media.Get()), "only.m4r");
}

TEST_F(ReportTest, NothingToReportKeepsEarlierCopies) {
    Companion("/Documents/sync/current/Ringtones.plist", "older catalogue");
    Companion("/Documents/sync/current/m4rlist", "older.m4r");
    Companion("/Documents/sync/GetCurrentRing");
    // No catalogue, no ringtone folder.
    ReportCurrentRingtones();
    EXPECT_EQ(ReadFile(InContainer("/Documents/sync/current/Ringtones.plist")), "older catalogue");
    EXPECT_EQ(ReadFile(InContainer("/Documents/sync/current/m4rlist")), "older.m4r");
    EXPECT_FALSE(fs::exists(InContainer("/Documents/sync/GetCurrentRing")));
    EXPECT_FALSE(fs::exists(OnMedia("/iTunes_Control/Ringtones")));  // the report creates nothing there

    // An empty catalogue counts as none.
    WriteFile(OnMedia("/iTunes_Control/iTunes/Ringtones.plist"), "");
    Companion("/Documents/sync/GetCurrentRing");
    ReportCurrentRingtones();
    EXPECT_EQ(ReadFile(InContainer("/Documents/sync/current/Ringtones.plist")), "older catalogue");
}

TEST_F(ReportTest, ARequestThatCannotBeAnsweredStays) {
    struct Case {
        const char* what;
        const char* fault;
        const char* path;
    } cases[] = {
        {"no media session", "AMDeviceStartService", "com.apple.afc"},
        {"no container session", "AMDeviceStartHouseArrestService", nullptr},
        {"report file cannot be written", "AFCFileRefOpen", "/Documents/sync/current/m4rlist"},
    };
    WriteFile(OnMedia("/iTunes_Control/Ringtones/a.m4r"), "x");
    for (const auto& c : cases) {
        Companion("/Documents/sync/GetCurrentRing");
        phone_.ClearFaults();
        phone_.AddFault(c.fault, c.path ? c.path : "");
        ReportCurrentRingtones();
        EXPECT_TRUE(fs::exists(InContainer("/Documents/sync/GetCurrentRing"))) << c.what;
    }
    phone_.ClearFaults();
    ReportCurrentRingtones();
    EXPECT_FALSE(fs::exists(InContainer("/Documents/sync/GetCurrentRing")));
    EXPECT_EQ(ReadFile(InContainer("/Documents/sync/current/m4rlist")), "a.m4r");
}

}  // namespace
