#include <gtest/gtest.h>

#include <atomic>

#include "airtraffic/sync_plist.h"
#include "exchange/sync_worker.h"
#include "phonesim/plist.h"
#include "tests/unit/exchange/exchange_fixture.h"

namespace {

namespace plist = phonesim::plist;

CFDictionaryAddValue_fn boundAddValue = nullptr;
CFArrayAppendValue_fn boundAppend = nullptr;
CFPropertyListCreateData_fn boundCreateData = nullptr;
AFCFileRefWrite_fn boundWrite = nullptr;

class SyncPlistTest : public ExchangeTest {
protected:
    plist::Value Document(const char* path) const {
        std::string bytes = ReadFile(OnMedia(path));
        EXPECT_EQ(bytes.substr(0, 8), "bplist00");
        auto value = plist::ReadBinary(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        EXPECT_TRUE(value) << path;
        return value.value_or(plist::Value());
    }
    plist::Value Ringtones() const { return Document("/iTunes_Control/Ringtones/Sync/Sync_00000000.plist"); }
    plist::Value Media() const { return Document("/iTunes_Control/Media/Sync/Sync_00000000.plist"); }
};

int64_t Int(const plist::Value* v) {
    EXPECT_TRUE(v && v->get<int64_t>());
    return v && v->get<int64_t>() ? *v->get<int64_t>() : -999;
}
std::string Str(const plist::Value* v) {
    EXPECT_TRUE(v && v->get<std::string>());
    return v && v->get<std::string>() ? *v->get<std::string>() : "<none>";
}
const plist::Array& Arr(const plist::Value* v) {
    static const plist::Array none;
    EXPECT_TRUE(v && v->get<plist::Array>());
    return v && v->get<plist::Array>() ? *v->get<plist::Array>() : none;
}
std::vector<std::string> Keys(const plist::Value& v) {
    std::vector<std::string> keys;
    if (auto* dict = v.get<plist::Dict>()) {
        for (auto& [key, value] : *dict) keys.push_back(key);
    }
    std::sort(keys.begin(), keys.end());
    return keys;
}

TEST_F(SyncPlistTest, InsertFormCarriesOneTrack) {
    ResetSyncJob();
    syncState.syncOperation = AddTone;
    syncState.addedToneTitle.Set(u"我的铃声 №1");
    syncState.pidsToDelete = {1, 2, 3};  // not consulted by an insert
    uint32_t before = platform::SecondsSince1970();
    WriteRingtoneSyncPlist();
    uint32_t after = platform::SecondsSince1970();

    plist::Value root = Ringtones();
    EXPECT_EQ(Keys(root), (std::vector<std::string>{"operations", "revision", "timestamp"}));
    EXPECT_EQ(Int(root.find("revision")), 0);
    EXPECT_EQ(Int(root.find("timestamp")), 0);
    const plist::Array& ops = Arr(root.find("operations"));
    ASSERT_EQ(ops.size(), 1u);
    const plist::Value& op = ops[0];
    EXPECT_EQ(Keys(op), (std::vector<std::string>{"avformat_info", "item", "item_status", "location", "operation", "pid",
                                                  "ringtone_info"}));
    EXPECT_EQ(Str(op.find("operation")), "insert_track");
    EXPECT_EQ(Int(op.find("pid")), syncState.insertedPid);
    const plist::Value* av = op.find("avformat_info");
    ASSERT_TRUE(av);
    EXPECT_EQ(Int(av->find("audio_format")), 502);
    EXPECT_EQ(Int(av->find("bit_rate")), 0);
    EXPECT_EQ(Int(av->find("duration")), -72);
    EXPECT_EQ(Int(av->find("sample_rate")), 0);
    const plist::Value* item = op.find("item");
    ASSERT_TRUE(item);
    EXPECT_EQ(Keys(*item), (std::vector<std::string>{"album_pid", "artist_pid", "date_created", "is_ringtone", "sort_name", "title",
                                                     "total_time_ms"}));
    EXPECT_EQ(Str(item->find("title")), "我的铃声 №1");
    EXPECT_EQ(Str(item->find("sort_name")), "我的铃声 №1");
    EXPECT_EQ(Int(item->find("total_time_ms")), 35000);
    EXPECT_EQ(item->find("is_ringtone")->get<bool>() ? *item->find("is_ringtone")->get<bool>() : false, true);
    const plist::Value* status = op.find("item_status");
    ASSERT_TRUE(status);
    EXPECT_EQ(Keys(*status), (std::vector<std::string>{"has_been_played", "play_count_recent", "play_count_user",
                                                       "skip_count_recent", "skip_count_user"}));
    ASSERT_TRUE(status->find("has_been_played")->get<bool>());
    EXPECT_FALSE(*status->find("has_been_played")->get<bool>());
    EXPECT_EQ(Str(op.find("location")->find("kind")), "Ringtone");
    std::string guid = Str(op.find("ringtone_info")->find("guid"));
    EXPECT_TRUE(guid == TrackGuid(before) || guid == TrackGuid(after)) << guid;
    EXPECT_TRUE(syncState.insertedPid == TrackPid(before) || syncState.insertedPid == TrackPid(after));
}

TEST_F(SyncPlistTest, DeleteFormListsEveryPidInOrder) {
    struct Case {
        std::vector<uint64_t> pids;
    } cases[] = {{{10012345, 7, (1ull << 62) + 5}}, {{}}};
    for (const auto& c : cases) {
        ResetSyncJob();
        syncState.pidsToDelete = c.pids;
        WriteRingtoneSyncPlist();
        plist::Value root = Ringtones();
        EXPECT_EQ(Int(root.find("revision")), static_cast<int64_t>(c.pids.size()));
        const plist::Array& ops = Arr(root.find("operations"));
        ASSERT_EQ(ops.size(), c.pids.size());
        for (size_t i = 0; i < ops.size(); ++i) {
            EXPECT_EQ(Str(ops[i].find("operation")), "delete_track");
            EXPECT_EQ(Int(ops[i].find("pid")), static_cast<int64_t>(c.pids[i]));
        }
        EXPECT_EQ(syncState.insertedPid, 0);
    }
}

TEST_F(SyncPlistTest, MediaDocumentIsTheSameOnEveryJob) {
    CfObject first = BuildMediaSyncPlist();
    CfObject second = BuildMediaSyncPlist();
    ASSERT_TRUE(first && second);
    auto bytes = [](const CfObject& d) {
        return std::string(reinterpret_cast<const char*>(CoreFoundation.CFDataGetBytePtr(d.get())),
                           static_cast<size_t>(CoreFoundation.CFDataGetLength(d.get())));
    };
    EXPECT_EQ(bytes(first), bytes(second));
    first.reset();
    second.reset();
    WriteMediaSyncPlist();
    plist::Value root = Media();
    EXPECT_EQ(Keys(root), (std::vector<std::string>{"operations", "revision", "timestamp"}));
    EXPECT_EQ(Int(root.find("revision")), 0);
    EXPECT_EQ(Int(root.find("timestamp")), 0);
    const plist::Array& ops = Arr(root.find("operations"));
    ASSERT_EQ(ops.size(), 1u);
    EXPECT_EQ(Str(ops[0].find("operation")), "update_db_info");
    EXPECT_EQ(Int(ops[0].find("pid")), 0);
    const plist::Value* db = ops[0].find("db_info");
    ASSERT_TRUE(db);
    EXPECT_EQ(Keys(*db), (std::vector<std::string>{"audio_language", "primary_container_pid", "subtitle_language"}));
}

TEST_F(SyncPlistTest, PrepareSyncDirectoryRemovesOnlyTheStaleDocument) {
    std::vector<std::string> kept = {"Sync_00000001.plist", "other"};
#ifndef _WIN32
    kept.push_back("sync_00000000.plist");  // names compare case-sensitively (not on a Windows disk)
#endif
    for (const std::string& name : kept) WriteFile(OnMedia("/iTunes_Control/Ringtones/Sync/" + name), "old");
    for (const char* name : {"Sync_00000000.plist", "Sync_00000000.plist.cig"}) {
        WriteFile(OnMedia(std::string("/iTunes_Control/Ringtones/Sync/") + name), "old");
    }
    AfcConnection media(OpenMediaAfc());
    PrepareSyncDirectory(media.Get(), RINGTONES_SYNC_DIR);
    EXPECT_FALSE(fs::exists(OnMedia("/iTunes_Control/Ringtones/Sync/Sync_00000000.plist")));
    EXPECT_FALSE(fs::exists(OnMedia("/iTunes_Control/Ringtones/Sync/Sync_00000000.plist.cig")));
    for (const std::string& name : kept) EXPECT_TRUE(fs::exists(OnMedia("/iTunes_Control/Ringtones/Sync/" + name))) << name;
    // A missing directory is created (its parents exist on a phone) and nothing is removed.
    fs::create_directories(OnMedia("/iTunes_Control/Media/"));
    PrepareSyncDirectory(media.Get(), MEDIA_SYNC_DIR);
    EXPECT_TRUE(fs::is_directory(OnMedia(MEDIA_SYNC_DIR)));
}

TEST_F(SyncPlistTest, AnUnreachableMediaPartitionWritesNothingButThePidIsSet) {
    phone_.AddFault("AMDeviceStartService", "com.apple.afc");
    ResetSyncJob();
    syncState.syncOperation = AddTone;
    WriteRingtoneSyncPlist();
    WriteMediaSyncPlist();
    EXPECT_GE(syncState.insertedPid, 10000000);
    EXPECT_FALSE(fs::exists(OnMedia("/iTunes_Control/Ringtones/Sync")));
    EXPECT_FALSE(fs::exists(OnMedia("/iTunes_Control/Media/Sync")));
}

// Real CoreFoundation retains what goes into a dictionary, and retaining none ends the process;
// so when an object cannot be made, nothing may hand none to an add, an append or the writer.
std::atomic<int> noneHandedOn{0};
void APPLE_CALL CheckedAddValue(CFMutableDictionaryRef dict, const void* key, const void* value) {
    if (!dict || !key || !value) ++noneHandedOn;
    else boundAddValue(dict, key, value);
}
void APPLE_CALL CheckedAppend(CFMutableArrayRef array, const void* value) {
    if (!array || !value) ++noneHandedOn;
    else boundAppend(array, value);
}
CFDataRef APPLE_CALL CheckedCreateData(CFAllocatorRef allocator, CFTypeRef root, CFPropertyListFormat format, CFOptionFlags options,
                                       void** error) {
    if (!root) ++noneHandedOn;
    return root ? boundCreateData(allocator, root, format, options, error) : nullptr;
}

AppleResult APPLE_CALL CheckedWrite(AFCConnectionRef connection, AFCFileRef file, const void* data, uint32_t length) {
    if (!data && length) ++noneHandedOn;
    return data || !length ? boundWrite(connection, file, data, length) : 1;
}

// A checking stand-in in a bound slot for the scope; the bound function is kept for it to call.
template <typename Fn>
class ScopedSlot {
public:
    ScopedSlot(Fn& slot, Fn standIn, Fn& bound) : slot_(slot), saved_(slot) {
        bound = slot;
        slot = standIn;
    }
    ~ScopedSlot() { slot_ = saved_; }
    ScopedSlot(const ScopedSlot&) = delete;
    ScopedSlot& operator=(const ScopedSlot&) = delete;

private:
    Fn& slot_;
    Fn saved_;
};

TEST_F(SyncPlistTest, AnObjectThatCannotBeMadeIsNeverHandedOn) {
    ScopedSlot add(CoreFoundation.CFDictionaryAddValue, CheckedAddValue, boundAddValue);
    ScopedSlot append(CoreFoundation.CFArrayAppendValue, CheckedAppend, boundAppend);
    ScopedSlot createData(CoreFoundation.CFPropertyListCreateData, CheckedCreateData, boundCreateData);
    ScopedSlot write(MobileDevice.AFCFileRefWrite, CheckedWrite, boundWrite);
    const char* const faults[] = {"CFDataGetBytePtr", "CFNumberCreate", "CFDictionaryCreateMutable", "CFArrayCreateMutable",
                                  "__CFStringMakeConstantString", "CFStringCreateWithCString\tTitle"};
    for (const char* fault : faults) {
        WriteFile(root_ / "faults", std::string(fault) + "\n");
        for (SyncOperation operation : {AddTone, RemoveTones}) {
            noneHandedOn = 0;
            ResetSyncJob();
            syncState.syncOperation = operation;
            syncState.addedToneTitle.Set(u"Title");
            syncState.pidsToDelete = {10012345};
            WriteRingtoneSyncPlist();
            WriteMediaSyncPlist();
            EXPECT_EQ(noneHandedOn, 0) << fault << ", operation " << operation;
        }
    }
    WriteFile(root_ / "faults", "");
}

}  // namespace
