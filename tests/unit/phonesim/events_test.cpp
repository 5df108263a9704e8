// Device events: attach, detach, attach again, several phones, connection numbers.
#include <atomic>
#include <thread>

#include "fixture.h"

namespace phonesim_test {
namespace {

class EventsTest : public PhoneSimTest {
protected:
    uint32_t NumberFile(const std::string& udid) {
        auto text = ReadFile(PhoneDir(udid) / "connection");
        return text ? static_cast<uint32_t>(std::stoul(*text)) : 0;
    }
};

TEST_F(EventsTest, PhonesPresentAtSubscribeAreAnnouncedInUdidOrder) {
    for (const char* udid : {"ccc", "aaa", "bbb"}) MakePhone({udid});
    Subscribe();
    const auto events = WaitForEvents(3);
    ASSERT_EQ(events.size(), 3u);
    const char* order[] = {"aaa", "bbb", "ccc"};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(events[i].udid, order[i]);
        EXPECT_EQ(events[i].kind, static_cast<uint32_t>(AMDeviceEventAttached));
        EXPECT_EQ(ConnectionNumber(events[i].device), NumberFile(order[i]));
    }
    EXPECT_NE(ConnectionNumber(events[0].device), ConnectionNumber(events[1].device));
}

TEST_F(EventsTest, DetachReportsTheSameRecord) {
    MakePhone({"p1"});
    AMDeviceRef device = DeviceOf("p1");
    ASSERT_NE(device, nullptr);
    Detach("p1");
    const auto events = WaitForEvents(2);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].kind, static_cast<uint32_t>(AMDeviceEventDetached));
    EXPECT_EQ(events[1].device, device);
}

TEST_F(EventsTest, ContentChangeIsTheSamePhoneAttachedAgain) {
    MakePhone({"p1"});
    AMDeviceRef device = DeviceOf("p1");
    ASSERT_NE(device, nullptr);
    const uint32_t number = ConnectionNumber(device);
    Attach("p1", "second token");
    const auto events = WaitForEvents(2);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].kind, static_cast<uint32_t>(AMDeviceEventAttached));
    EXPECT_EQ(events[1].device, device);
    EXPECT_EQ(ConnectionNumber(events[1].device), number);
}

// A file whose time is more than a second old is read again only when its size or time moves:
// a token renamed into place with an old time (as a move keeps it) is still a new attach.
TEST_F(EventsTest, AnOldFileRenamedIntoPlaceIsSeen) {
    MakePhone({"p1"});
    AMDeviceRef device = DeviceOf("p1");
    ASSERT_NE(device, nullptr);
    const fs::path attached = PhoneDir("p1") / "attached";
    const auto now = fs::last_write_time(attached);
    fs::last_write_time(attached, now - std::chrono::hours(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // a few looks at the aged file
    WriteFile(PhoneDir("p1") / "attached.new", "2");
    fs::last_write_time(PhoneDir("p1") / "attached.new", now - std::chrono::hours(2));
    fs::rename(PhoneDir("p1") / "attached.new", attached);
    auto events = WaitForEvents(2);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].kind, static_cast<uint32_t>(AMDeviceEventAttached));
    EXPECT_EQ(events[1].device, device);
    Detach("p1");
    events = WaitForEvents(3);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[2].kind, static_cast<uint32_t>(AMDeviceEventDetached));
}

TEST_F(EventsTest, AFreshAttachGetsANewRecordAndNumber) {
    MakePhone({"p1"});
    AMDeviceRef first = DeviceOf("p1");
    ASSERT_NE(first, nullptr);
    const uint32_t number = ConnectionNumber(first);
    Detach("p1");
    WaitForEvents(2);
    Attach("p1");
    const auto events = WaitForEvents(3);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[2].kind, static_cast<uint32_t>(AMDeviceEventAttached));
    EXPECT_NE(events[2].device, first);
    EXPECT_GT(ConnectionNumber(events[2].device), number);
    EXPECT_EQ(NumberFile("p1"), ConnectionNumber(events[2].device));
    EXPECT_EQ(ConnectionNumber(first), number) << "the stale record stays readable";
}

TEST_F(EventsTest, TwoPhonesComeAndGoIndependently) {
    MakePhone({"one"});
    AMDeviceRef one = DeviceOf("one");
    MakePhone({"two"});
    AMDeviceRef two = DeviceOf("two");
    ASSERT_NE(one, nullptr);
    ASSERT_NE(two, nullptr);
    EXPECT_NE(ConnectionNumber(one), ConnectionNumber(two));
    Detach("one");
    const auto events = WaitForEvents(3);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[2].device, one);
    EXPECT_EQ(events[2].kind, static_cast<uint32_t>(AMDeviceEventDetached));
    EXPECT_EQ(AMDeviceConnect(two), 0) << "the other phone is still there";
}

TEST_F(EventsTest, ALaterSubscriberHearsOfPhonesAlreadyAttached) {
    MakePhone({"p1"});
    ASSERT_NE(DeviceOf("p1"), nullptr);
    static std::atomic<int> late{0};
    late = 0;
    struct Late {
        static void APPLE_CALL On(const AMDeviceEvent* e) {
            if (e->kind == AMDeviceEventAttached) ++late;
        }
    };
    ASSERT_EQ(AMDeviceNotificationSubscribe(Late::On, 0, 0, nullptr, nullptr), 0);
    EXPECT_TRUE(WaitFor([] { return late.load() == 1; }));
}

// The program blocks the event thread while a dialog is open: later events must wait for it.
TEST_F(EventsTest, ABlockingCallbackHoldsBackLaterEvents) {
    static std::atomic<bool> release{false};
    static std::atomic<int> seen{0};
    release = false;
    seen = 0;
    struct Blocking {
        static void APPLE_CALL On(const AMDeviceEvent*) {
            if (seen++ == 0)
                while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    };
    MakePhone({"p1"});
    ASSERT_EQ(AMDeviceNotificationSubscribe(Blocking::On, 0, 0, nullptr, nullptr), 0);
    ASSERT_TRUE(WaitFor([] { return seen.load() == 1; }));
    Detach("p1");
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(seen.load(), 1) << "the detach was delivered while the attach callback ran";
    release = true;
    EXPECT_TRUE(WaitFor([] { return seen.load() == 2; })) << "and it comes once the callback returns";
}

TEST_F(EventsTest, SubscribeFaultSubscribesNothing) {
    WriteFile(root_ / "faults", "AMDeviceNotificationSubscribe\n");
    MakePhone({"p1"});
    void* subscription = nullptr;
    struct Never {
        static void APPLE_CALL On(const AMDeviceEvent*) { ADD_FAILURE() << "event after a failed subscribe"; }
    };
    EXPECT_NE(AMDeviceNotificationSubscribe(Never::On, 0, 0, nullptr, &subscription), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

TEST_F(EventsTest, IdentifierAndNameComeFromTheFolder) {
    MakePhone({"00008030-0011", "Lì's 手机"});
    AMDeviceRef device = DeviceOf("00008030-0011");
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(Utf8(CfPtr(AMDeviceCopyDeviceIdentifier(device)).get()), "00008030-0011");
    CfPtr key(__CFStringMakeConstantString("DeviceName"));
    EXPECT_EQ(Utf8(CfPtr(AMDeviceCopyValue(device, nullptr, key.get())).get()), "Lì's 手机");
    CfPtr other(__CFStringMakeConstantString("ProductType"));
    EXPECT_EQ(AMDeviceCopyValue(device, nullptr, other.get()), nullptr);
    fs::remove(PhoneDir("00008030-0011") / "name");
    EXPECT_EQ(AMDeviceCopyValue(device, nullptr, key.get()), nullptr);
}

}  // namespace
}  // namespace phonesim_test
