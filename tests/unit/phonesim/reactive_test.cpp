// The AirTraffic stand-in's own conversation (no ath-script): the phone answers the program's
// calls and applies the Sync documents it finds on the media partition to library.json.
#include <atomic>
#include <mutex>
#include <thread>

#include <nlohmann/json.hpp>

#include "fixture.h"
#include "phonesim/plist.h"

namespace phonesim_test {
namespace {

namespace plist = phonesim::plist;
using plist::Array;
using plist::Dict;
using plist::Value;
using Json = nlohmann::json;

constexpr const char* kRingtones = "/iTunes_Control/Ringtones/Sync/Sync_00000000.plist";
constexpr const char* kMedia = "/iTunes_Control/Media/Sync/Sync_00000000.plist";
constexpr const char* kTonePath = "/iTunes_Control/Ringtones/Song.m4r";

std::string Bytes(const Value& v) {
    const std::vector<uint8_t> b = plist::WriteBinary(v);
    return std::string(b.begin(), b.end());
}

Value InsertOp(int64_t pid, const char* title, const char* guid) {
    return Dict{{"operation", "insert_track"},
                {"avformat_info", Dict{{"audio_format", 502}, {"bit_rate", 0}, {"duration", -72}, {"sample_rate", 0}}},
                {"item", Dict{{"sort_name", title}, {"title", title}, {"is_ringtone", true}}},
                {"location", Dict{{"kind", "Ringtone"}}},
                {"ringtone_info", Dict{{"guid", guid}}},
                {"pid", pid}};
}
Value DeleteOp(int64_t pid) { return Dict{{"operation", "delete_track"}, {"pid", pid}}; }
std::string RingtonesDoc(Array ops) {
    const int64_t revision = static_cast<int64_t>(ops.size());
    return Bytes(Dict{{"operations", std::move(ops)}, {"revision", revision}, {"timestamp", 0}});
}
std::string MediaDoc() {
    return Bytes(Dict{{"timestamp", 0},
                      {"operations", Array{Dict{{"operation", "update_db_info"},
                                                {"db_info", Dict{{"audio_language", 0}}},
                                                {"pid", 0}}}},
                      {"revision", 0}});
}

// The insert document built from CoreFoundation objects with the program's number types and
// serialised by the stand-in itself.
std::string CfInsertDocument(long pid, const char* title, const char* guid) {
    auto dict = [] {
        return CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    };
    auto key = [](const char* s) { return __CFStringMakeConstantString(s); };
    auto set = [](CFMutableDictionaryRef d, CFStringRef k, CFTypeRef v) {
        CFDictionaryAddValue(d, k, v);
        CFRelease(v);
    };
    auto number = [](CFNumberType type, auto value) { return CFNumberCreate(nullptr, type, &value); };
    CFMutableDictionaryRef item = dict(), location = dict(), info = dict(), op = dict(), root = dict();
    CFStringRef titleString = CFStringCreateWithCString(nullptr, title, kCFStringEncodingUTF8);
    CFDictionaryAddValue(item, key("sort_name"), titleString);
    set(item, key("title"), titleString);
    set(item, key("total_time_ms"), number(kCFNumberSInt32Type, int32_t{35000}));
    CFDictionaryAddValue(item, key("is_ringtone"), kCFBooleanTrue);
    CFDictionaryAddValue(location, key("kind"), key("Ringtone"));
    CFDictionaryAddValue(info, key("guid"), key(guid));
    CFDictionaryAddValue(op, key("operation"), key("insert_track"));
    set(op, key("item"), item);
    set(op, key("location"), location);
    set(op, key("ringtone_info"), info);
    set(op, key("pid"), number(kCFNumberLongType, pid));
    CFMutableArrayRef ops = CFArrayCreateMutable(nullptr, 5, nullptr);
    CFArrayAppendValue(ops, op);
    CFDictionaryAddValue(root, key("operations"), ops);
    set(root, key("revision"), number(kCFNumberLongType, 0L));
    set(root, key("timestamp"), number(kCFNumberSInt8Type, int8_t{0}));
    CfPtr data(CFPropertyListCreateData(nullptr, root, kCFPropertyListBinaryFormat_v1_0, 0, nullptr));
    CFRelease(ops);
    CFRelease(op);
    CFRelease(root);
    if (!data) return {};
    const auto* bytes = CFDataGetBytePtr(static_cast<CFDataRef>(data.get()));
    return std::string(reinterpret_cast<const char*>(bytes), static_cast<size_t>(CFDataGetLength(static_cast<CFDataRef>(data.get()))));
}

Json Track(int64_t pid, const char* title, const char* guid, const char* path, bool broken, bool pending) {
    return Json{{"pid", pid},   {"title", title}, {"sort_name", title}, {"guid", guid},
                {"kind", "Ringtone"}, {"path", path},  {"broken", broken},  {"pending", pending}};
}

// Tracks written by someone else, with keys of their own that must survive.
Json OtherTrack(int64_t pid) {
    const std::string number = std::to_string(pid);
    return Json{{"pid", pid}, {"title", std::string("Old ").append(number)}, {"guid", std::string("G").append(number)},
                {"kind", "Ringtone"}, {"path", "/iTunes_Control/Ringtones/old.m4r"}, {"broken", false},
                {"play_count", 3}};
}
Json Library(std::vector<Json> tracks) { return Json{{"version", 7}, {"tracks", std::move(tracks)}}; }
// A library the phone made itself (there was no file).
Json NewLibrary(std::vector<Json> tracks) { return Json{{"tracks", std::move(tracks)}}; }

// calls.log lines, split into fields.
using Lines = std::vector<std::vector<std::string>>;

class ReactiveTest : public PhoneSimTest {
protected:
    void SetUp() override {
        PhoneSimTest::SetUp();
        MakePhone({"p1"});
    }
    ATHostConnectionRef Connect() {
        CfPtr library(__CFStringMakeConstantString("0000000012345678"));
        CfPtr device = Str("p1");
        return ATHostConnectionCreateWithLibrary(library.get(), device.get(), 0);
    }
    // The next name, or "<none>".
    static std::string Next(ATHostConnectionRef c) {
        ATMessageRef m = ATHostConnectionReadMessage(c);
        if (!m) return "<none>";
        CfPtr name(ATCFMessageGetName(m));
        return Utf8(static_cast<CFStringRef>(name.get()));
    }
    fs::path Media(const std::string& phonePath) { return PhoneDir("p1") / "media" / PathFromUtf8(phonePath.substr(1)); }
    void PutMedia(const std::string& phonePath, const std::string& bytes) {
        fs::create_directories(Media(phonePath).parent_path());
        WriteFile(Media(phonePath), bytes);
    }
    fs::path LibraryFile() { return PhoneDir("p1") / "library.json"; }
    std::optional<Json> LoadLibrary() {
        auto text = ReadFile(LibraryFile());
        if (!text) return std::nullopt;
        return Json::parse(*text, nullptr, false);
    }
    // What the phone reported about the program's input.
    Lines Notes() { return CallsNamed("p1", "phonesim"); }

    // The program's side of the conversation, one step per name the phone sends.
    struct Job {
        std::optional<std::string> ringtones = std::nullopt;  // written when the phone is ready
        std::string assetId = "";  // what the program reports on AssetManifest
        std::string assetPath = kTonePath;
        std::optional<std::string> media = MediaDoc();
    };
    static void SyncRequest(ATHostConnectionRef c) {
        CFMutableArrayRef classes = CFArrayCreateMutable(nullptr, 0, nullptr);
        CFArrayAppendValue(classes, __CFStringMakeConstantString("Ringtone"));
        CFMutableDictionaryRef anchors =
            CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
        CFDictionaryAddValue(anchors, __CFStringMakeConstantString("Ringtone"), __CFStringMakeConstantString("1"));
        ATHostConnectionSendPowerAssertion(c, kCFBooleanTrue);
        ATHostConnectionSendSyncRequest(c, classes, anchors, anchors);
        CFRelease(classes);
        CFRelease(anchors);
    }
    void ReadyForSync(ATHostConnectionRef c, const Job& job) {
        if (job.ringtones) PutMedia(kRingtones, *job.ringtones);
        if (job.media) PutMedia(kMedia, *job.media);
        CFMutableDictionaryRef anchors =
            CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
        ATHostConnectionSendMetadataSyncFinished(c, anchors, anchors);
        ATHostConnectionSendPowerAssertion(c, kCFBooleanFalse);
        CFRelease(anchors);
    }
    static void AssetManifest(ATHostConnectionRef c, const Job& job) {
        CfPtr asset = Str(job.assetId.c_str()), dataclass = Str("Ringtone"), path = Str(job.assetPath.c_str());
        ATHostConnectionSendFileProgress(c, asset.get(), dataclass.get());
        ATHostConnectionSendFileProgress(c, asset.get(), dataclass.get());
        ATHostConnectionSendAssetCompleted(c, asset.get(), dataclass.get(), path.get());
    }
    // Acts on one name; false when the conversation is over.
    bool Act(ATHostConnectionRef c, const std::string& name, const Job& job) {
        if (name == "SyncAllowed") SyncRequest(c);
        else if (name == "ReadyForSync") ReadyForSync(c, job);
        else if (name == "AssetManifest") AssetManifest(c, job);
        else return false;
        return true;
    }
    // Runs a whole conversation; the names the phone sent. Every reaction is exactly one message:
    // the read after it finds the queue empty.
    std::vector<std::string> Converse(const Job& job) {
        ATHostConnectionRef c = Connect();
        EXPECT_NE(c, nullptr);
        if (!c) return {};
        std::vector<std::string> names;
        for (int step = 0; step < 8; ++step) {
            names.push_back(Next(c));
            EXPECT_EQ(Next(c), "<none>") << "after " << names.back();
            if (!Act(c, names.back(), job)) break;
        }
        ATHostConnectionDestroy(c);
        return names;
    }
};

const std::vector<std::string> kWithAsset = {"SyncAllowed", "ReadyForSync", "AssetManifest", "SyncFinished"};
const std::vector<std::string> kWithoutAsset = {"SyncAllowed", "ReadyForSync", "SyncFinished"};

TEST_F(ReactiveTest, ConversationAppliesTheDocuments) {
    const int64_t big = 4611686018427387904;  // 2^62: a pid past 32 bits
    struct Case {
        const char* what;
        std::optional<Json> before;  // library.json before; none: no file
        Job job;
        std::optional<std::string> asset;  // the tone file on the phone; none: not there
        std::vector<std::string> names;
        std::optional<Json> after;
        Lines notes;
    } cases[] = {
        {"an insert built from CoreFoundation objects registers the track",
         std::nullopt,
         {.ringtones = CfInsertDocument(10012345, "我的铃声", "87ZEPH0000ABCDEF"), .assetId = "10012345"},
         "tone bytes",
         kWithAsset,
         NewLibrary({Track(10012345, "我的铃声", "87ZEPH0000ABCDEF", kTonePath, false, false)}),
         {{"phonesim", "registered", "10012345", kTonePath}}},
        {"an insert beside other tracks leaves them untouched",
         Library({OtherTrack(1), OtherTrack(2)}),
         {.ringtones = RingtonesDoc({InsertOp(10000042, "Bell", "87ZEPH00000000AA")}), .assetId = "10000042"},
         "x",
         kWithAsset,
         Library({OtherTrack(1), OtherTrack(2), Track(10000042, "Bell", "87ZEPH00000000AA", kTonePath, false, false)}),
         {{"phonesim", "registered", "10000042", kTonePath}}},
        {"a registration without the file marks the track broken",
         Library({}),
         {.ringtones = RingtonesDoc({InsertOp(10000042, "Bell", "G")}), .assetId = "10000042"},
         std::nullopt,
         kWithAsset,
         Library({Track(10000042, "Bell", "G", kTonePath, true, false)}),
         {{"phonesim", "broken", "10000042", kTonePath}}},
        {"an empty file is as good as none",
         Library({}),
         {.ringtones = RingtonesDoc({InsertOp(10000042, "Bell", "G")}), .assetId = "10000042"},
         "",
         kWithAsset,
         Library({Track(10000042, "Bell", "G", kTonePath, true, false)}),
         {{"phonesim", "broken", "10000042", kTonePath}}},
        {"a path leaving the media partition never finds a file",
         Library({}),
         {.ringtones = RingtonesDoc({InsertOp(10000042, "Bell", "G")}), .assetId = "10000042",
          .assetPath = "/../paired"},
         "x",
         kWithAsset,
         Library({Track(10000042, "Bell", "G", "/../paired", true, false)}),
         {{"phonesim", "broken", "10000042", "/../paired"}}},
        {"an asset of another pid leaves the insert pending",
         Library({}),
         {.ringtones = RingtonesDoc({InsertOp(10000042, "Bell", "G")}), .assetId = "10000043"},
         "x",
         kWithAsset,
         Library({Track(10000042, "Bell", "G", "", false, true)}),
         {{"phonesim", "no pending track", "10000043"}}},
        {"an insert of a known pid replaces that track in place",
         Library({OtherTrack(1), OtherTrack(10000042), OtherTrack(3)}),
         {.ringtones = RingtonesDoc({InsertOp(10000042, "New", "G")}), .assetId = "10000042"},
         "x",
         kWithAsset,
         Library({OtherTrack(1), Track(10000042, "New", "G", kTonePath, false, false), OtherTrack(3)}),
         {{"phonesim", "registered", "10000042", kTonePath}}},
        {"delete removes by pid and leaves the others",
         Library({OtherTrack(1), OtherTrack(big), OtherTrack(3), OtherTrack(1)}),
         {.ringtones = RingtonesDoc({DeleteOp(1), DeleteOp(big), DeleteOp(99)})},
         std::nullopt,
         kWithoutAsset,
         Library({OtherTrack(3)}),
         {}},
        {"a delete without operations changes nothing and asks for no asset",
         Library({OtherTrack(1)}),
         {.ringtones = RingtonesDoc({})},
         std::nullopt,
         kWithoutAsset,
         Library({OtherTrack(1)}),
         {}},
        {"operations that are not understood are skipped by index, the rest applied",
         Library({OtherTrack(1), OtherTrack(2)}),
         {.ringtones = RingtonesDoc({Dict{{"operation", "delete_track"}}, DeleteOp(1),
                                     Dict{{"operation", "update_db_info"}, {"pid", 2}}, Value("text")})},
         std::nullopt,
         kWithoutAsset,
         Library({OtherTrack(2)}),
         {{"phonesim", "bad operation", kRingtones, "0"},
          {"phonesim", "bad operation", kRingtones, "2"},
          {"phonesim", "bad operation", kRingtones, "3"}}},
        {"a malformed document is ignored",
         Library({OtherTrack(1)}),
         {.ringtones = std::string("bplist00\x01\x02garbage", 17)},
         std::nullopt,
         kWithoutAsset,
         Library({OtherTrack(1)}),
         {{"phonesim", "bad document", kRingtones}}},
        {"a truncated document is ignored",
         Library({OtherTrack(1)}),
         {.ringtones = RingtonesDoc({DeleteOp(1)}).substr(0, 40)},
         std::nullopt,
         kWithoutAsset,
         Library({OtherTrack(1)}),
         {{"phonesim", "bad document", kRingtones}}},
        {"a document without an operations array is ignored",
         Library({OtherTrack(1)}),
         {.ringtones = Bytes(Array{DeleteOp(1)})},
         std::nullopt,
         kWithoutAsset,
         Library({OtherTrack(1)}),
         {{"phonesim", "bad document", kRingtones}}},
        {"a missing document is ignored and no library is made",
         std::nullopt,
         {},
         std::nullopt,
         kWithoutAsset,
         std::nullopt,
         {{"phonesim", "missing document", kRingtones}}},
        {"a missing media document does not stop the ringtones one",
         Library({OtherTrack(1), OtherTrack(2)}),
         {.ringtones = RingtonesDoc({DeleteOp(1)}), .media = std::nullopt},
         std::nullopt,
         kWithoutAsset,
         Library({OtherTrack(2)}),
         {{"phonesim", "missing document", kMedia}}},
        {"a malformed media document is reported",
         Library({OtherTrack(1), OtherTrack(2)}),
         {.ringtones = RingtonesDoc({DeleteOp(2)}), .media = "<?xml version=\"1.0\"?><plist/>"},
         std::nullopt,
         kWithoutAsset,
         Library({OtherTrack(1)}),
         {{"phonesim", "bad document", kMedia}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(PhoneDir("p1") / "media" / "iTunes_Control");
        fs::remove(PhoneDir("p1") / "calls.log");
        fs::remove(LibraryFile());
        if (c.before) WriteFile(LibraryFile(), c.before->dump());
        if (c.asset) PutMedia(kTonePath, *c.asset);
        ASSERT_TRUE(!c.job.ringtones || !c.job.ringtones->empty()) << "the document could not be built";
        EXPECT_EQ(Converse(c.job), c.names);
        EXPECT_EQ(LoadLibrary(), c.after);
        EXPECT_EQ(Notes(), c.notes);
        EXPECT_FALSE(fs::exists(PhoneDir("p1") / "library.json.tmp"));
    }
}

TEST_F(ReactiveTest, UnusableLibraryIsLeftAsItIs) {
    const std::string contents[] = {"", "{not json", "[]", "{\"tracks\": 5}", "{\"tracks\": [{\"title\": \"\xff\"}]}"};
    for (const std::string& text : contents) {
        SCOPED_TRACE(text);
        fs::remove(PhoneDir("p1") / "calls.log");
        WriteFile(LibraryFile(), text);
        PutMedia(kTonePath, "x");
        const Job job{.ringtones = RingtonesDoc({InsertOp(10000042, "Bell", "G")}), .assetId = "10000042"};
        EXPECT_EQ(Converse(job), kWithoutAsset) << "nothing was inserted, so no asset is asked for";
        EXPECT_EQ(ReadFile(LibraryFile()), text);
        EXPECT_EQ(Notes(), (Lines{{"phonesim", "bad library", "library.json"}}));
    }
}

TEST_F(ReactiveTest, FailedSendGetsNoAnswer) {
    const Json pending = NewLibrary({Track(10000042, "Bell", "G", "", false, true)});
    struct Case {
        const char* fault;
        std::vector<std::string> names;
        std::optional<Json> after;
    } cases[] = {
        {"ATHostConnectionSendSyncRequest", {"SyncAllowed", "<none>"}, std::nullopt},
        {"ATHostConnectionSendMetadataSyncFinished", {"SyncAllowed", "ReadyForSync", "<none>"}, std::nullopt},
        {"ATHostConnectionSendAssetCompleted", {"SyncAllowed", "ReadyForSync", "AssetManifest", "<none>"}, pending},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        fs::remove(LibraryFile());
        PutMedia(kTonePath, "x");
        SetFaults("p1", std::string(c.fault) + "\n");
        const Job job{.ringtones = RingtonesDoc({InsertOp(10000042, "Bell", "G")}), .assetId = "10000042"};
        EXPECT_EQ(Converse(job), c.names);
        EXPECT_EQ(LoadLibrary(), c.after);
    }
}

TEST_F(ReactiveTest, ScriptedConnectionLeavesTheLibraryAlone) {
    WriteFile(PhoneDir("p1") / "ath-script", "SyncAllowed\nSyncFinished\n");
    PutMedia(kRingtones, RingtonesDoc({InsertOp(10000042, "Bell", "G")}));
    const Job job{.ringtones = RingtonesDoc({InsertOp(10000042, "Bell", "G")}), .assetId = "10000042"};
    ATHostConnectionRef c = Connect();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(Next(c), "SyncAllowed");
    SyncRequest(c);
    ReadyForSync(c, job);
    AssetManifest(c, job);
    EXPECT_EQ(Next(c), "SyncFinished");
    EXPECT_EQ(Next(c), "<none>");
    ATHostConnectionDestroy(c);
    EXPECT_FALSE(fs::exists(LibraryFile()));
    EXPECT_EQ(Notes(), Lines{});
}

TEST_F(ReactiveTest, DestroyedConnectionSaysNothingMore) {
    PutMedia(kRingtones, RingtonesDoc({InsertOp(10000042, "Bell", "G")}));
    ATHostConnectionRef c = Connect();
    ASSERT_NE(c, nullptr);
    ATHostConnectionDestroy(c);
    EXPECT_EQ(Next(c), "<none>") << "the queued SyncAllowed went with the connection";
    ReadyForSync(c, {});
    EXPECT_EQ(Next(c), "<none>");
    EXPECT_FALSE(fs::exists(LibraryFile()));
}

// As the program runs it: a reader thread publishes each name, the driver acts on it.
TEST_F(ReactiveTest, ReaderOnAnotherThread) {
    PutMedia(kTonePath, "x");
    const Job job{.ringtones = RingtonesDoc({InsertOp(10000042, "Bell", "G")}), .assetId = "10000042"};
    ATHostConnectionRef c = Connect();
    ASSERT_NE(c, nullptr);
    std::mutex mutex;
    std::vector<std::string> names;
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        while (!stop) {
            const std::string name = Next(c);
            if (name == "<none>") {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                continue;
            }
            std::lock_guard lock(mutex);
            names.push_back(name);
            if (name == "SyncFinished") return;
        }
    });
    size_t handled = 0;
    auto seen = [&] {
        std::lock_guard lock(mutex);
        return names;
    };
    while (WaitFor([&] { return seen().size() > handled; }, std::chrono::seconds(10)))
        if (!Act(c, seen()[handled++], job)) break;
    stop = true;
    reader.join();
    ATHostConnectionDestroy(c);
    EXPECT_EQ(seen(), kWithAsset);
    EXPECT_EQ(LoadLibrary(), NewLibrary({Track(10000042, "Bell", "G", kTonePath, false, false)}));
}

}  // namespace
}  // namespace phonesim_test
