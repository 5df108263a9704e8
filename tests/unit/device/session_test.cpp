#include <gtest/gtest.h>

#include <thread>

#include "device/apple_bindings.h"
#include "device/device_session.h"
#include "device/sync_state.h"
#include "tests/support/phone_fixture.h"

namespace {

using SessionTest = PhoneTest;

TEST_F(SessionTest, NoCurrentPhoneGivesNoService) {
    SimPhone phone = MakePhone("phone-a");
    TakeDevice(phone);
    EXPECT_EQ(OpenCompanionAfc(), 0u);
    EXPECT_EQ(OpenMediaAfc(), 0u);
    EXPECT_TRUE(phone.Calls({"AMDeviceConnect", "AMDeviceStartSession"}).empty());
}

TEST_F(SessionTest, PairedPhoneSessionBracketsTheServiceStart) {
    SimPhone phone = MakePhone("phone-a");
    syncState.device = TakeDevice(phone);
    AMServiceConnection media = OpenMediaAfc();
    AMServiceConnection container = OpenCompanionAfc();
    EXPECT_NE(media, 0u);
    EXPECT_NE(container, 0u);
    auto calls = phone.Calls({"AMDeviceConnect", "AMDeviceStartSession", "AMDeviceStartService",
                              "AMDeviceStartHouseArrestService", "AMDeviceStopSession", "AMDeviceDisconnect"});
    const std::vector<std::string> expected = {
        "AMDeviceConnect", "AMDeviceStartSession", "AMDeviceStartService\tcom.apple.afc", "AMDeviceStopSession", "AMDeviceDisconnect",
        "AMDeviceConnect", "AMDeviceStartSession", "AMDeviceStartHouseArrestService\tcom.zephra.tonesmithclient",
        "AMDeviceStopSession", "AMDeviceDisconnect"};
    ASSERT_EQ(calls.size(), expected.size());
    for (size_t i = 0; i < calls.size(); ++i) EXPECT_EQ(calls[i].rfind(expected[i], 0), 0u) << calls[i];

    // The service stays usable after the session ended.
    {
        AfcConnection afc(media);
        EXPECT_TRUE(afc.IsOpen());
    }
    ExpectNoLeaks();
}

TEST_F(SessionTest, UnpairedPhoneGetsNoSessionAndNoService) {
    SimPhone phone = MakePhone("phone-a", "Name", /*paired=*/false);
    syncState.device = TakeDevice(phone);
    EXPECT_EQ(OpenMediaAfc(), 0u);
    EXPECT_EQ(OpenMediaAfc(), 0u);
    EXPECT_TRUE(phone.Calls({"AMDeviceStartSession"}).empty());
    // Every session tries connection and pairing again, and stops and disconnects all the same.
    EXPECT_EQ(phone.Calls({"AMDeviceConnect"}).size(), 2u);
    EXPECT_EQ(phone.Calls({"AMDeviceStopSession"}).size(), 2u);
    EXPECT_EQ(phone.Calls({"AMDeviceDisconnect"}).size(), 2u);
    EXPECT_TRUE(phone.Calls({"AMDevicePair"}).empty());
}

TEST_F(SessionTest, FailedStepsStillEndTheSession) {
    const char* faults[] = {"AMDeviceConnect", "AMDeviceValidatePairing", "AMDeviceStartSession"};
    SimPhone phone = MakePhone("phone-a");
    syncState.device = TakeDevice(phone);
    for (const char* fault : faults) {
        phone.ClearFaults();
        phone.AddFault(fault);
        size_t stopsBefore = phone.Calls({"AMDeviceStopSession"}).size();
        EXPECT_EQ(OpenMediaAfc(), 0u) << fault;
        EXPECT_EQ(phone.Calls({"AMDeviceStopSession"}).size(), stopsBefore + 1) << fault;
    }
    phone.ClearFaults();
    phone.AddFault("AMDeviceStartHouseArrestService", COMPANION_BUNDLE_ID);
    EXPECT_EQ(OpenCompanionAfc(), 0u);
    EXPECT_NE(OpenMediaAfc(), 0u);
    ExpectNoLeaks();
}

TEST_F(SessionTest, AMutexThatCannotBeOpenedFailsEverySession) {
    SimPhone phone = MakePhone("phone-a");
    syncState.device = TakeDevice(phone);
    DropSessionMutex();
    DeviceSession session;
    if (EnterDeviceSession(session)) {
        LeaveDeviceSession(session);
        ADD_FAILURE() << "a session without the mutex";
    }
    EXPECT_EQ(OpenCompanionAfc(), 0u);
    EXPECT_EQ(OpenMediaAfc(), 0u);
    EXPECT_TRUE(phone.Calls({"AMDeviceConnect"}).empty());
}

TEST_F(SessionTest, SessionsOnManyThreadsNeverInterleave) {
    SimPhone phone = MakePhone("phone-a");
    syncState.device = TakeDevice(phone);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 15; ++i) (t % 2 ? OpenMediaAfc() : OpenCompanionAfc());
        });
    }
    for (auto& thread : threads) thread.join();
    auto calls = phone.Calls({"AMDeviceConnect", "AMDeviceDisconnect"});
    ASSERT_EQ(calls.size(), 120u);
    for (size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].rfind(i % 2 ? "AMDeviceDisconnect" : "AMDeviceConnect", 0), 0u) << "call " << i;
    }
}

TEST_F(SessionTest, CopyCfStringTextKeepsWholeCharactersOnly) {
    struct Case {
        const char* what;
        std::string utf8;
        std::string expected;
    };
    const std::string chinese = "陈的手机";
    const std::string fill1022(1022, 'a');
    const Case cases[] = {
        {"ascii", "iPhone", "iPhone"},
        {"chinese", chinese, chinese},
        {"exactly 1023 bytes", std::string(1023, 'b'), std::string(1023, 'b')},
        {"empty", "", ""},
    };
    for (const auto& c : cases) {
        SharedText field;
        CFStringRef s = CoreFoundation.CFStringCreateWithCString(nullptr, c.utf8.c_str(), kCFStringEncodingUTF8);
        CopyCfStringText(s, field);
        CoreFoundation.CFRelease(s);
        EXPECT_EQ(platform::Utf16ToUtf8(field.Get()), c.expected) << c.what;
    }
    // Longer than the buffer, or cut inside a character: what arrives is a whole-character
    // prefix of the name, never more than 1023 bytes and never a replacement character.
    for (const std::string& longName : {std::string(3000, 'c'), fill1022 + "的手机", std::string(1021, 'd') + "😀"}) {
        SharedText field;
        field.Set(u"old");
        CFStringRef s = CoreFoundation.CFStringCreateWithCString(nullptr, longName.c_str(), kCFStringEncodingUTF8);
        CopyCfStringText(s, field);
        CoreFoundation.CFRelease(s);
        std::string got = platform::Utf16ToUtf8(field.Get());
        EXPECT_LE(got.size(), 1023u);
        EXPECT_EQ(longName.rfind(got, 0), 0u) << "not a prefix";
        EXPECT_EQ(got.find("\xEF\xBF\xBD"), std::string::npos);
    }
    SharedText unchanged;
    unchanged.Set(u"kept");
    CopyCfStringText(nullptr, unchanged);
    EXPECT_EQ(unchanged.Get(), u"kept");
    ExpectNoLeaks();
}

}  // namespace
