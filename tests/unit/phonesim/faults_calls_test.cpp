// Fault rules, calls.log and the leak counters.
#include <thread>

#include "fixture.h"

namespace phonesim_test {
namespace {

class FaultsTest : public PhoneSimTest {
protected:
    void SetUp() override {
        PhoneSimTest::SetUp();
        media_ = MakePhone({"p1"}) / "media";
        device_ = DeviceOf("p1");
        ASSERT_NE(device_, nullptr);
    }
    fs::path media_;
    AMDeviceRef device_ = nullptr;
    AFCConnectionRef afc_ = nullptr;
};

TEST_F(FaultsTest, RulesByNameAndByArgumentAreReadLive) {
    WriteFile(media_ / "a", "A");
    WriteFile(media_ / "b", "B");
    afc_ = OpenMedia("p1");
    ASSERT_NE(afc_, nullptr);
    const auto opens = [&](const char* path) {
        AFCFileRef file = 0;
        const bool ok = AFCFileRefOpen(afc_, path, 1, &file) == 0;
        if (ok) AFCFileRefClose(afc_, file);
        return ok;
    };
    struct Case {
        const char* rules;
        bool a, b;
    } cases[] = {
        {"", true, true},
        {"AFCFileRefOpen\n", false, false},
        {"AFCFileRefOpen\t/a\n", false, true},
        {"AFCFileRefOpen\t/b\r\nAFCRemovePath\n", true, false},
        {"AFCFileRefOpenX\nAFCFileRefOpen\t/c\n", true, true},
    };
    for (const Case& c : cases) {
        SetFaults("p1", c.rules);
        EXPECT_EQ(opens("/a"), c.a) << c.rules;
        EXPECT_EQ(opens("/b"), c.b) << c.rules;
    }
    fs::remove(PhoneDir("p1") / "faults");
    EXPECT_TRUE(opens("/a"));
    AFCConnectionClose(afc_);
}

TEST_F(FaultsTest, EachCallFailsWithItsContractsFailureValue) {
    WriteFile(media_ / "f", "data");
    SetFaults("p1", "AMDeviceIsPaired\nAMDeviceCopyValue\nAMDeviceCopyDeviceIdentifier\n");
    EXPECT_NE(AMDeviceIsPaired(device_), 1);
    CfPtr key(__CFStringMakeConstantString("DeviceName"));
    EXPECT_EQ(AMDeviceCopyValue(device_, nullptr, key.get()), nullptr);
    EXPECT_EQ(AMDeviceCopyDeviceIdentifier(device_), nullptr);
    SetFaults("p1", "AMDeviceStartService\tcom.apple.afc\n");
    OpenSession(device_);
    AMServiceConnection service = 0;
    CfPtr afcName(__CFStringMakeConstantString("com.apple.afc"));
    EXPECT_NE(AMDeviceStartService(device_, afcName.get(), &service, nullptr), 0);
    EXPECT_EQ(AMDeviceStartHouseArrestService(device_, __CFStringMakeConstantString("com.zephra.tonesmithclient"),
                                              nullptr, &service, nullptr),
              0);
    EXPECT_NE(service, 0u) << "a rule with another argument does not match";
    CloseSession(device_);
}

TEST_F(FaultsTest, ReadFaultGivesZeroBytes) {
    WriteFile(media_ / "f", "data");
    afc_ = OpenMedia("p1");
    ASSERT_NE(afc_, nullptr);
    SetFaults("p1", "AFCFileRefRead\t/f\n");
    AFCFileRef file = 0;
    ASSERT_EQ(AFCFileRefOpen(afc_, "/f", 1, &file), 0);
    char buffer[8];
    uint32_t length = sizeof buffer;
    EXPECT_NE(AFCFileRefRead(afc_, file, buffer, &length), 0);
    EXPECT_EQ(length, 0u);
    AFCFileRefClose(afc_, file);
    AFCConnectionClose(afc_);
}

class CallsLogTest : public FaultsTest {};

TEST_F(CallsLogTest, SessionAndAfcCallsAreLoggedWithTheirArguments) {
    afc_ = OpenMedia("p1");
    ASSERT_NE(afc_, nullptr);
    AFCDirectoryCreate(afc_, "/iTunes_Control/Ringtones/");
    AFCFileRef file = 0;
    AFCFileRefOpen(afc_, "/iTunes_Control/Ringtones/x.m4r", 3, &file);
    AFCFileRefClose(afc_, file);
    AFCRemovePath(afc_, "/iTunes_Control/Ringtones/x.m4r");
    AFCRemovePath(afc_, "/odd\tname");
    AFCConnectionClose(afc_);
    const std::vector<std::string> expected = {
        "AMDeviceConnect",
        "AMDeviceStartSession",
        "AMDeviceStartService\tcom.apple.afc",
        "AMDeviceStopSession",
        "AMDeviceDisconnect",
        "AFCDirectoryCreate\t/iTunes_Control/Ringtones/",
        "AFCFileRefOpen\t/iTunes_Control/Ringtones/x.m4r\t3",
        "AFCRemovePath\t/iTunes_Control/Ringtones/x.m4r",
        "AFCRemovePath\t/odd\\tname",
    };
    std::vector<std::string> lines;
    for (const std::string& line : CallLines("p1")) {
        const std::string name = line.substr(0, line.find('\t'));
        if (name != "AMDeviceCopyDeviceIdentifier" && name != "AMDeviceIsPaired" &&
            name != "AMDeviceValidatePairing")
            lines.push_back(line);
    }
    EXPECT_EQ(lines, expected);
}

TEST_F(CallsLogTest, ConcurrentCallersNeverInterleaveLines) {
    afc_ = OpenMedia("p1");
    ASSERT_NE(afc_, nullptr);
    const fs::path log = PhoneDir("p1") / "calls.log";
    fs::remove(log);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([this, t] {
            const std::string path = "/thread" + std::to_string(t) + "/" + std::string(100, 'x');
            for (int i = 0; i < 100; ++i) AFCRemovePath(afc_, path.c_str());
        });
    }
    for (auto& th : threads) th.join();
    AFCConnectionClose(afc_);
    const auto removes = CallsNamed("p1", "AFCRemovePath");
    EXPECT_EQ(removes.size(), 400u);
    for (const auto& fields : removes) {
        ASSERT_EQ(fields.size(), 2u);
        EXPECT_EQ(fields[1], "/thread" + fields[1].substr(7, 1) + "/" + std::string(100, 'x'));
    }
}

class CountersTest : public FaultsTest {
protected:
    PhoneSimCounters Now() {
        PhoneSimCounters c{};
        PhoneSimGetCounters(&c);
        return c;
    }
};

TEST_F(CountersTest, EveryHandleKindIsCountedWhileOpen) {
    WriteFile(media_ / "f", "x");
    const PhoneSimCounters zero = Now();
    EXPECT_EQ(zero.afc_connections, 0);
    afc_ = OpenMedia("p1");
    ASSERT_NE(afc_, nullptr);
    AFCFileRef file = 0;
    AFCDirectoryRef dir = nullptr;
    AFCFileInfoRef info = nullptr;
    ASSERT_EQ(AFCFileRefOpen(afc_, "/f", 1, &file), 0);
    ASSERT_EQ(AFCDirectoryOpen(afc_, "/", &dir), 0);
    ASSERT_EQ(AFCFileInfoOpen(afc_, "/f", &info), 0);
    CfPtr s = Str("counted");
    PhoneSimCounters open = Now();
    EXPECT_EQ(open.afc_connections, 1);
    EXPECT_EQ(open.afc_files, 1);
    EXPECT_EQ(open.afc_dirs, 1);
    EXPECT_EQ(open.afc_infos, 1);
    EXPECT_EQ(open.cf_objects, zero.cf_objects + 1);
    AFCFileRefClose(afc_, file);
    AFCDirectoryClose(afc_, dir);
    AFCKeyValueClose(info);
    AFCConnectionClose(afc_);
    s.reset();
    const PhoneSimCounters closed = Now();
    EXPECT_EQ(closed.afc_connections + closed.afc_files + closed.afc_dirs + closed.afc_infos, 0);
    EXPECT_EQ(closed.cf_objects, zero.cf_objects);
}

TEST_F(CountersTest, AHandleLeftOpenStaysCountedAfterItsConnectionCloses) {
    WriteFile(media_ / "f", "x");
    afc_ = OpenMedia("p1");
    ASSERT_NE(afc_, nullptr);
    AFCFileRef file = 0;
    ASSERT_EQ(AFCFileRefOpen(afc_, "/f", 1, &file), 0);
    AFCConnectionClose(afc_);
    EXPECT_EQ(Now().afc_files, 1);
    PhoneSimReset();
    EXPECT_EQ(Now().afc_files, 0) << "a reset starts over";
}

TEST_F(CountersTest, DumpRequestWritesCountersJson) {
    afc_ = OpenMedia("p1");
    ASSERT_NE(afc_, nullptr);
    WriteFile(root_ / "dump-counters", "");
    ASSERT_TRUE(WaitFor([&] { return !fs::exists(root_ / "dump-counters"); })) << "the event thread answers";
    const auto json = ReadFile(root_ / "counters.json");
    ASSERT_TRUE(json.has_value());
    const PhoneSimCounters c = Now();
    const std::string expected = "{\"afc_connections\":1,\"afc_dirs\":0,\"afc_files\":0,\"afc_infos\":0,"
                                 "\"cf_objects\":" + std::to_string(c.cf_objects) + "}\n";
    EXPECT_EQ(*json, expected);
    AFCConnectionClose(afc_);
}

}  // namespace
}  // namespace phonesim_test
