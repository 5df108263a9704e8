#include "airtraffic/sync_plist.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "device/afc_file.h"
#include "device/device_session.h"
#include "device/sync_state.h"

namespace {

CfObject Serialise(const CfObject& root) {
    if (!root) return {};
    return CfObject(CoreFoundation.CFPropertyListCreateData(nullptr, root.get(), kCFPropertyListBinaryFormat_v1_0, 0, nullptr));
}

// Writes the document as "Sync_00000000.plist" into its Sync directory on the media partition.
void UploadSyncDocument(const CfObject& document, const char* directory) {
    if (!document) return;
    AMServiceConnection service = OpenMediaAfc();
    if (!service) return;
    AfcConnection media(service);
    if (!media.IsOpen()) return;
    PrepareSyncDirectory(media.Get(), directory);
    char path[260];
    JoinAfcPath(path, sizeof path, directory, SYNC_DOCUMENT_NAME);
    AFCFileRef file = 0;
    if (MobileDevice.AFCFileRefOpen(media.Get(), path, AFC_MODE_WRITE_CREATE, &file) != 0) return;
    // Bytes that cannot be reached are not written: a write reads its whole length from them.
    if (const uint8_t* bytes = CoreFoundation.CFDataGetBytePtr(document.get())) {
        MobileDevice.AFCFileRefWrite(media.Get(), file, bytes, static_cast<uint32_t>(CoreFoundation.CFDataGetLength(document.get())));
    }
    MobileDevice.AFCFileRefClose(media.Get(), file);
}

CfObject BuildInsertOperation() {
    CfObject avformat = MakeDictionary();
    AddValue(avformat, "audio_format", MakeInt32(502));
    AddValue(avformat, "bit_rate", MakeInt8(0));
    AddValue(avformat, "duration", MakeInt8(-72));
    AddValue(avformat, "sample_rate", MakeInt8(0));

    CfObject item = MakeDictionary();
    AddValue(item, "album_pid", MakeInt8(0));
    AddValue(item, "artist_pid", MakeInt8(0));
    AddValue(item, "date_created", MakeInt8(0));
    AddValue(item, "total_time_ms", MakeInt32(35000));
    CfObject title = MakeUtf8String(platform::Utf16ToUtf8(syncState.addedToneTitle.Get()).c_str());
    AddValue(item, "sort_name", title);
    AddValue(item, "title", title);
    AddValue(item, "is_ringtone", CoreFoundation.kCFBooleanTrue);

    CfObject status = MakeDictionary();
    AddValue(status, "play_count_recent", MakeInt8(0));
    AddValue(status, "play_count_user", MakeInt8(0));
    AddValue(status, "skip_count_recent", MakeInt8(0));
    AddValue(status, "skip_count_user", MakeInt8(0));
    AddValue(status, "has_been_played", CoreFoundation.kCFBooleanFalse);

    CfObject location = MakeDictionary();
    AddString(location, "kind", "Ringtone");

    CfObject ringtoneInfo = MakeDictionary();
    AddString(ringtoneInfo, "guid", TrackGuid(platform::SecondsSince1970()).c_str());

    CfObject operation = MakeDictionary();
    AddString(operation, "operation", "insert_track");
    AddValue(operation, "avformat_info", avformat);
    AddValue(operation, "item", item);
    AddValue(operation, "item_status", status);
    AddValue(operation, "location", location);
    AddValue(operation, "ringtone_info", ringtoneInfo);
    int32_t pid = TrackPid(platform::SecondsSince1970());
    syncState.insertedPid = pid;
    AddValue(operation, "pid", MakeLong(pid));
    return operation;
}

}  // namespace

std::string TrackGuid(uint32_t seconds) {
    char guid[17];
    std::snprintf(guid, sizeof guid, "87ZEPH%010X", static_cast<unsigned>(seconds));
    return guid;
}

// One draw of a generator seeded with the second (the classic linear congruential rand, values
// 0 to 32767), so the pid depends only on the second in which it is drawn.
int32_t TrackPid(uint32_t seconds) {
    uint32_t state = seconds * 214013u + 2531011u;
    int32_t r = static_cast<int32_t>((state >> 16) & 0x7FFF);
    return r % 100000000 + 10000000;
}

void WriteRingtoneSyncPlist() {
    CfObject operations = MakeArray(5);
    std::vector<CfObject> keepAlive;  // the array does not retain its elements
    long revision = 0;
    if (syncState.syncOperation == AddTone) {
        keepAlive.push_back(BuildInsertOperation());
        Append(operations, keepAlive.back());
    } else {
        const std::vector<uint64_t>& pids = syncState.pidsToDelete;
        for (size_t i = 0; i < pids.size(); ++i) {
            CfObject operation = MakeDictionary();
            AddString(operation, "operation", "delete_track");
            AddValue(operation, "pid", MakeLongLong(static_cast<long long>(pids[i])));
            Append(operations, operation);
            keepAlive.push_back(std::move(operation));
        }
        revision = static_cast<long>(pids.size());
    }
    CfObject root = MakeDictionary(3);
    AddValue(root, "operations", operations);
    AddValue(root, "revision", MakeLong(revision));
    AddValue(root, "timestamp", MakeLong(0));
    CfObject document = Serialise(root);
    root.reset();
    operations.reset();
    keepAlive.clear();
    UploadSyncDocument(document, RINGTONES_SYNC_DIR);
}

CfObject BuildMediaSyncPlist() {
    CfObject zero = MakeInt8(0);
    CfObject dbInfo = MakeDictionary();
    AddValue(dbInfo, "audio_language", zero);
    AddValue(dbInfo, "primary_container_pid", zero);
    AddValue(dbInfo, "subtitle_language", zero);
    CfObject operation = MakeDictionary();
    AddString(operation, "operation", "update_db_info");
    AddValue(operation, "db_info", dbInfo);
    AddValue(operation, "pid", zero);
    CfObject operations = MakeArray(1);
    Append(operations, operation);
    CfObject root = MakeDictionary();
    AddValue(root, "timestamp", zero);
    AddValue(root, "operations", operations);
    AddValue(root, "revision", zero);
    return Serialise(root);
}

void WriteMediaSyncPlist() { UploadSyncDocument(BuildMediaSyncPlist(), MEDIA_SYNC_DIR); }

void PrepareSyncDirectory(AFCConnectionRef media, const char* directory) {
    bool listed = ListAfcDirectory(media, directory, [&](const char* name) {
        if (std::strcmp(name, SYNC_DOCUMENT_NAME) != 0 && std::strcmp(name, SYNC_DOCUMENT_SIGNATURE_NAME) != 0) return;
        char path[260];
        if (JoinAfcPath(path, sizeof path, directory, name)) MobileDevice.AFCRemovePath(media, path);
    });
    if (!listed) MobileDevice.AFCDirectoryCreate(media, directory);
}
