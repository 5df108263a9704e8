// The AirTraffic stand-in: connections per phone, scripted messages, logged sends, destroy.
#include "fixture.h"

namespace phonesim_test {
namespace {

class AirTrafficTest : public PhoneSimTest {
protected:
    ATHostConnectionRef Connect(const char* udid) {
        CfPtr library(__CFStringMakeConstantString("com.zephra.library"));
        CfPtr device = Str(udid);
        return ATHostConnectionCreateWithLibrary(library.get(), device.get(), 0);
    }
    // The name of the next message, or "<none>".
    std::string Next(ATHostConnectionRef c) {
        ATMessageRef m = ATHostConnectionReadMessage(c);
        if (!m) return "<none>";
        CfPtr name(ATCFMessageGetName(m));
        return Utf8(name.get());
    }
};

TEST_F(AirTrafficTest, ConnectionOnlyForAnAttachedPhone) {
    MakePhone({.udid = "here"});
    MakePhone({.udid = "away", .attached = false});
    struct Case {
        const char* udid;
        bool connects;
    } cases[] = {{"here", true}, {"away", false}, {"unknown", false}, {"../here", false}};
    for (const Case& c : cases) {
        ATHostConnectionRef conn = Connect(c.udid);
        EXPECT_EQ(conn != nullptr, c.connects) << c.udid;
        if (conn) ATHostConnectionDestroy(conn);
    }
    EXPECT_EQ(CallsNamed("here", "ATHostConnectionCreateWithLibrary"),
              (std::vector<std::vector<std::string>>{{"ATHostConnectionCreateWithLibrary", "com.zephra.library", "here"}}));
    SetFaults("here", "ATHostConnectionCreateWithLibrary\n");
    EXPECT_EQ(Connect("here"), nullptr);
}

TEST_F(AirTrafficTest, ScriptIsSentOneNamePerReadThenNone) {
    MakePhone({"p1"});
    WriteFile(PhoneDir("p1") / "ath-script", "SyncAllowed\r\nReadyForSync\n\nSyncFinished");
    ATHostConnectionRef c = Connect("p1");
    ASSERT_NE(c, nullptr);
    const int64_t before = PhoneSimLiveCfObjects();
    for (const char* expected : {"SyncAllowed", "ReadyForSync", "SyncFinished", "<none>", "<none>"})
        EXPECT_EQ(Next(c), expected);
    EXPECT_EQ(PhoneSimLiveCfObjects(), before) << "names were released by the caller, messages are not CF objects";
    ATHostConnectionDestroy(c);
}

TEST_F(AirTrafficTest, WithoutScriptThePhoneSpeaksFirstThenWaits) {
    MakePhone({"p1"});
    ATHostConnectionRef c = Connect("p1");
    ASSERT_NE(c, nullptr);
    for (const char* expected : {"SyncAllowed", "<none>", "<none>"}) EXPECT_EQ(Next(c), expected);
    ATHostConnectionDestroy(c);
}

TEST_F(AirTrafficTest, SendsAreLoggedWithTheirArguments) {
    MakePhone({"p1"});
    ATHostConnectionRef c = Connect("p1");
    ASSERT_NE(c, nullptr);
    CFMutableArrayRef classes = CFArrayCreateMutable(nullptr, 1, nullptr);
    CFArrayAppendValue(classes, __CFStringMakeConstantString("Ringtone"));
    CFMutableDictionaryRef anchors =
        CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    ATHostConnectionSendPowerAssertion(c, kCFBooleanTrue);
    ATHostConnectionSendSyncRequest(c, classes, anchors, anchors);
    ATHostConnectionSendMetadataSyncFinished(c, anchors, anchors);
    CfPtr asset = Str("10012345"), dataclass = Str("Ringtone"), path = Str("/iTunes_Control/Ringtones/x.m4r");
    ATHostConnectionSendFileProgress(c, asset.get(), dataclass.get());
    ATHostConnectionSendAssetCompleted(c, asset.get(), dataclass.get(), path.get());
    ATHostConnectionSendPowerAssertion(c, kCFBooleanFalse);
    ATHostConnectionDestroy(c);
    CFRelease(classes);
    CFRelease(anchors);
    const std::vector<std::string> expected = {
        "ATHostConnectionCreateWithLibrary\tcom.zephra.library\tp1",
        "ATHostConnectionSendPowerAssertion\ttrue",
        "ATHostConnectionSendSyncRequest\t[\"Ringtone\"]\t{}\t{}",
        "ATHostConnectionSendMetadataSyncFinished\t{}\t{}",
        "phonesim\tmissing document\t/iTunes_Control/Ringtones/Sync/Sync_00000000.plist",
        "phonesim\tmissing document\t/iTunes_Control/Media/Sync/Sync_00000000.plist",
        "ATHostConnectionSendFileProgress\t10012345\tRingtone",
        "ATHostConnectionSendAssetCompleted\t10012345\tRingtone\t/iTunes_Control/Ringtones/x.m4r",
        "phonesim\tno pending track\t10012345",
        "ATHostConnectionSendPowerAssertion\tfalse",
        "ATHostConnectionDestroy",
    };
    EXPECT_EQ(CallLines("p1"), expected);
}

TEST_F(AirTrafficTest, SecondDestroyIsDetectedNotFatal) {
    MakePhone({"p1"});
    WriteFile(PhoneDir("p1") / "ath-script", "SyncAllowed\n");
    ATHostConnectionRef c = Connect("p1");
    ASSERT_NE(c, nullptr);
    ATMessageRef m = ATHostConnectionReadMessage(c);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(ATHostConnectionDestroy(c), 0);
    EXPECT_EQ(ATCFMessageGetName(m), nullptr) << "the message went with its connection";
    EXPECT_NE(ATHostConnectionDestroy(c), 0);
    EXPECT_EQ(ATHostConnectionReadMessage(c), nullptr);
    EXPECT_NE(ATHostConnectionSendPowerAssertion(c, kCFBooleanTrue), 0);
    const auto destroys = CallsNamed("p1", "ATHostConnectionDestroy");
    ASSERT_EQ(destroys.size(), 2u);
    EXPECT_EQ(destroys[1], (std::vector<std::string>{"ATHostConnectionDestroy", "double"}));
    EXPECT_EQ(CallsNamed("p1", "ATHostConnectionSendPowerAssertion").back(),
              (std::vector<std::string>{"ATHostConnectionSendPowerAssertion", "destroyed"}));
}

TEST_F(AirTrafficTest, SendFaultsReportFailureButStillLog) {
    MakePhone({"p1"});
    ATHostConnectionRef c = Connect("p1");
    ASSERT_NE(c, nullptr);
    SetFaults("p1", "ATHostConnectionSendPowerAssertion\n");
    EXPECT_NE(ATHostConnectionSendPowerAssertion(c, kCFBooleanTrue), 0);
    EXPECT_EQ(CallsNamed("p1", "ATHostConnectionSendPowerAssertion").size(), 1u);
    ATHostConnectionDestroy(c);
}

}  // namespace
}  // namespace phonesim_test
