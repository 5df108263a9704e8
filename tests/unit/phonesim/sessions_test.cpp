// Sessions and services: what a phone allows in which state.
#include "fixture.h"

namespace phonesim_test {
namespace {

class SessionsTest : public PhoneSimTest {};

AppleResult StartAfc(AMDeviceRef device, AMServiceConnection* service) {
    CfPtr name(__CFStringMakeConstantString("com.apple.afc"));
    return AMDeviceStartService(device, name.get(), service, nullptr);
}

AppleResult StartApp(AMDeviceRef device, const char* bundle, AMServiceConnection* service) {
    CfPtr id(__CFStringMakeConstantString(bundle));
    return AMDeviceStartHouseArrestService(device, id.get(), nullptr, service, nullptr);
}

TEST_F(SessionsTest, UnpairedPhoneGetsNoSessionAndNoService) {
    MakePhone({.udid = "p1", .paired = false});
    AMDeviceRef device = DeviceOf("p1");
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(AMDeviceConnect(device), 0);
    EXPECT_NE(AMDeviceIsPaired(device), 1);
    EXPECT_NE(AMDeviceValidatePairing(device), 0);
    EXPECT_NE(AMDeviceStartSession(device), 0);
    AMServiceConnection service = 0;
    EXPECT_NE(StartAfc(device, &service), 0);
    EXPECT_EQ(service, 0u);
    CloseSession(device);
    // The phone can be paired from its side; the next session then works.
    WriteFile(PhoneDir("p1") / "paired", "");
    OpenSession(device);
    EXPECT_EQ(StartAfc(device, &service), 0);
    EXPECT_NE(service, 0u);
}

TEST_F(SessionsTest, ServicesStartOnlyInsideASession) {
    MakePhone({"p1"});
    AMDeviceRef device = DeviceOf("p1");
    ASSERT_NE(device, nullptr);
    AMServiceConnection service = 0;
    EXPECT_NE(StartAfc(device, &service), 0) << "not even connected";
    ASSERT_EQ(AMDeviceConnect(device), 0);
    EXPECT_NE(StartAfc(device, &service), 0) << "connected, no session";
    EXPECT_NE(StartApp(device, "com.zephra.tonesmithclient", &service), 0);
    ASSERT_EQ(AMDeviceStartSession(device), 0);
    EXPECT_EQ(StartAfc(device, &service), 0);
    AMServiceConnection second = 0;
    EXPECT_EQ(StartApp(device, "com.zephra.tonesmithclient", &second), 0);
    EXPECT_NE(second, service) << "each start makes a new service connection";
    AMDeviceStopSession(device);
    EXPECT_NE(StartAfc(device, &service), 0) << "after the session stopped";
    CloseSession(device);
    CloseSession(device);  // stop and disconnect without a session are harmless
}

TEST_F(SessionsTest, SessionNeedsAConnection) {
    MakePhone({"p1"});
    AMDeviceRef device = DeviceOf("p1");
    ASSERT_NE(device, nullptr);
    EXPECT_NE(AMDeviceStartSession(device), 0);
    ASSERT_EQ(AMDeviceConnect(device), 0);
    AMDeviceDisconnect(device);
    EXPECT_NE(AMDeviceStartSession(device), 0);
}

TEST_F(SessionsTest, HouseArrestNeedsTheAppInstalled) {
    MakePhone({.udid = "p1", .apps = {"com.zephra.tonesmithclient"}});
    AMDeviceRef device = DeviceOf("p1");
    ASSERT_NE(device, nullptr);
    OpenSession(device);
    struct Case {
        const char* bundle;
        bool starts;
    } cases[] = {{"com.zephra.tonesmithclient", true}, {"com.example.missing", false}, {"..", false},
                 {"a/b", false}, {"", false}};
    for (const Case& c : cases) {
        AMServiceConnection service = 0;
        EXPECT_EQ(StartApp(device, c.bundle, &service) == 0, c.starts) << c.bundle;
        EXPECT_EQ(service != 0, c.starts) << c.bundle;
    }
    CloseSession(device);
}

TEST_F(SessionsTest, ServiceStaysUsableAfterStopAndDisconnect) {
    MakePhone({"p1"});
    WriteFile(PhoneDir("p1") / "apps" / "com.zephra.tonesmithclient" / "marker", "container");
    AMDeviceRef device = DeviceOf("p1");
    ASSERT_NE(device, nullptr);
    const AMServiceConnection service = AppService(device);  // the session is closed again
    ASSERT_NE(service, 0u);
    AFCConnectionRef afc = nullptr;
    ASSERT_EQ(AFCConnectionOpen(service, 0, &afc), 0);
    AFCFileInfoRef info = nullptr;
    EXPECT_EQ(AFCFileInfoOpen(afc, "/marker", &info), 0) << "the root is the app's container";
    AFCKeyValueClose(info);
    AFCConnectionClose(afc);
}

TEST_F(SessionsTest, DetachEndsEverythingOnTheOldRecord) {
    MakePhone({"p1"});
    AMDeviceRef device = DeviceOf("p1");
    ASSERT_NE(device, nullptr);
    const AMServiceConnection service = MediaService(device);
    AFCConnectionRef afc = nullptr;
    ASSERT_EQ(AFCConnectionOpen(service, 0, &afc), 0);
    Detach("p1");
    WaitForEvents(2);
    AFCFileInfoRef info = nullptr;
    EXPECT_NE(AFCFileInfoOpen(afc, "/", &info), 0) << "AFC fails once the phone is gone";
    EXPECT_NE(AMDeviceConnect(device), 0);
    EXPECT_NE(AMDeviceStartSession(device), 0);
    AFCConnectionRef again = nullptr;
    EXPECT_NE(AFCConnectionOpen(service, 0, &again), 0);
    // Plugged in again: a new record works, the old one stays stale.
    Attach("p1");
    WaitForEvents(3);
    EXPECT_NE(AMDeviceConnect(device), 0);
    EXPECT_NE(AFCFileInfoOpen(afc, "/", &info), 0);
    AFCConnectionClose(afc);
    AMDeviceRef fresh = Events()[2].device;
    EXPECT_EQ(AMDeviceConnect(fresh), 0);
    AMDeviceDisconnect(fresh);
}

}  // namespace
}  // namespace phonesim_test
