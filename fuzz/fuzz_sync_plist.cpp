// The Ringtones operation document with arbitrary titles and pid lists, built by the program
// through the simulated phone's CoreFoundation and uploaded to the in-memory media partition, then
// read back with the simulated phone's binary property-list reader. The tree read back must be the
// document the job describes: the title's UTF-8 text (invalid bytes as U+FFFD) under "title" and
// "sort_name", every pid in order with its full 64 bits, the revision, the stale documents of the
// Sync folder removed and the others kept; no CoreFoundation object or AFC handle left behind.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>

#include "airtraffic/sync_plist.h"
#include "device/sync_state.h"
#include "fuzz/fake_phone.h"
#include "phonesim/plist.h"

using fuzzphone::Require;
namespace plist = phonesim::plist;

namespace {

const std::string RINGTONES_DOCUMENT = std::string(RINGTONES_SYNC_DIR) + SYNC_DOCUMENT_NAME;

// Dictionaries compare as sets of pairs: the encoder may write keys in any order.
bool SameTree(const plist::Value& a, const plist::Value& b) {
    if (a.v.index() != b.v.index()) return false;
    if (const auto* da = a.get<plist::Dict>()) {
        const auto& db = *b.get<plist::Dict>();
        if (da->size() != db.size()) return false;
        for (const auto& [key, value] : *da) {
            const plist::Value* other = b.find(key);
            if (!other || !SameTree(value, *other)) return false;
        }
        return true;
    }
    if (const auto* xa = a.get<plist::Array>()) {
        const auto& xb = *b.get<plist::Array>();
        if (xa->size() != xb.size()) return false;
        for (size_t i = 0; i < xa->size(); ++i) {
            if (!SameTree((*xa)[i], xb[i])) return false;
        }
        return true;
    }
    return a == b;
}

plist::Value Int(int64_t value) { return plist::Value(value); }

// "87ZEPH" and ten upper-case hexadecimal digits.
bool IsGuid(const std::string& guid) {
    if (guid.size() != 16 || guid.compare(0, 6, "87ZEPH") != 0) return false;
    for (size_t i = 6; i < 16; ++i) {
        if (!std::strchr("0123456789ABCDEF", guid[i])) return false;
    }
    return true;
}

plist::Value InsertDocument(const std::string& title, const std::string& guid, int32_t pid) {
    plist::Dict operation = {
        {"operation", "insert_track"},
        {"avformat_info", plist::Dict{{"audio_format", Int(502)}, {"bit_rate", Int(0)}, {"duration", Int(-72)}, {"sample_rate", Int(0)}}},
        {"item", plist::Dict{{"album_pid", Int(0)}, {"artist_pid", Int(0)}, {"date_created", Int(0)},
                             {"total_time_ms", Int(35000)}, {"sort_name", title}, {"title", title}, {"is_ringtone", true}}},
        {"item_status", plist::Dict{{"play_count_recent", Int(0)}, {"play_count_user", Int(0)}, {"skip_count_recent", Int(0)},
                                    {"skip_count_user", Int(0)}, {"has_been_played", false}}},
        {"location", plist::Dict{{"kind", "Ringtone"}}},
        {"ringtone_info", plist::Dict{{"guid", guid}}},
        {"pid", Int(pid)}};
    return plist::Dict{{"operations", plist::Array{operation}}, {"revision", Int(0)}, {"timestamp", Int(0)}};
}

plist::Value DeleteDocument(const std::vector<uint64_t>& pids) {
    plist::Array operations;
    for (uint64_t pid : pids) {
        operations.push_back(plist::Dict{{"operation", "delete_track"}, {"pid", Int(static_cast<int64_t>(pid))}});
    }
    return plist::Dict{{"operations", operations}, {"revision", Int(static_cast<int64_t>(pids.size()))}, {"timestamp", Int(0)}};
}

// The Media document never changes; checked once.
void CheckMediaDocument() {
    const int64_t cfBefore = fuzzphone::LiveCfObjects();
    {
        CfObject data = BuildMediaSyncPlist();
        Require(bool(data), "no Media document");
        auto tree = plist::ReadBinary(CoreFoundation.CFDataGetBytePtr(data.get()),
                                      static_cast<size_t>(CoreFoundation.CFDataGetLength(data.get())));
        Require(tree.has_value(), "the Media document cannot be read back");
        plist::Value expected = plist::Dict{
            {"timestamp", Int(0)},
            {"operations", plist::Array{plist::Dict{{"operation", "update_db_info"},
                                                    {"db_info", plist::Dict{{"audio_language", Int(0)},
                                                                            {"primary_container_pid", Int(0)},
                                                                            {"subtitle_language", Int(0)}}},
                                                    {"pid", Int(0)}}}},
            {"revision", Int(0)}};
        Require(SameTree(*tree, expected), "the Media document differs");
    }
    Require(fuzzphone::LiveCfObjects() == cfBefore, "the Media document left a CoreFoundation object alive");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzphone::Install();
    CheckMediaDocument();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    fuzzphone::FakePhone& phone = fuzzphone::Fresh();
    const int64_t cfBefore = fuzzphone::LiveCfObjects();

    const bool insert = in.ConsumeBool();
    const bool syncFolderExists = in.ConsumeBool();
    const unsigned repeat = in.ConsumeIntegralInRange<unsigned>(1, 32);
    std::string piece = in.ConsumeRandomLengthString(2000);
    piece = piece.substr(0, piece.find('\0'));  // titles come from entry names
    std::string rawTitle;
    for (unsigned i = 0; i < repeat && rawTitle.size() < 20000; ++i) rawTitle += piece;
    std::vector<uint64_t> pids;
    while (in.remaining_bytes() >= sizeof(uint64_t) && pids.size() < 300) pids.push_back(in.ConsumeIntegral<uint64_t>());

    const std::string staleSignature = std::string(RINGTONES_SYNC_DIR) + SYNC_DOCUMENT_SIGNATURE_NAME;
    const std::string other = std::string(RINGTONES_SYNC_DIR) + "Sync_00000001.plist";
    if (syncFolderExists) {
        phone.media.dirs[RINGTONES_SYNC_DIR] = {SYNC_DOCUMENT_NAME, SYNC_DOCUMENT_SIGNATURE_NAME, "Sync_00000001.plist"};
        phone.media.files[RINGTONES_DOCUMENT].data = "stale";
        phone.media.files[staleSignature].data = "stale";
        phone.media.files[other].data = "other";
    }

    syncState.syncOperation = insert ? AddTone : RemoveTones;
    syncState.addedToneTitle.Set(platform::Utf8ToUtf16(rawTitle));
    syncState.pidsToDelete = pids;
    syncState.insertedPid = 0;

    WriteRingtoneSyncPlist();

    auto it = phone.media.written.find(RINGTONES_DOCUMENT);
    Require(it != phone.media.written.end() && phone.media.written.size() == 1, "not exactly the document was written");
    const std::string& bytes = it->second;
    auto tree = plist::ReadBinary(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    Require(tree.has_value(), "the document cannot be read back");

    plist::Value expected;
    if (insert) {
        const plist::Value* operations = tree->find("operations");
        const auto* list = operations ? operations->get<plist::Array>() : nullptr;
        const plist::Value* info = list && list->size() == 1 ? (*list)[0].find("ringtone_info") : nullptr;
        const plist::Value* guid = info ? info->find("guid") : nullptr;
        Require(guid && guid->get<std::string>() && IsGuid(*guid->get<std::string>()), "no well-formed guid");
        const int32_t pid = syncState.insertedPid;
        Require(pid >= 10000000 && pid <= 10000000 + 32767, "the inserted pid is out of its range");
        const std::string title = platform::Utf16ToUtf8(platform::Utf8ToUtf16(rawTitle));
        expected = InsertDocument(title, *guid->get<std::string>(), pid);
    } else {
        expected = DeleteDocument(pids);
    }
    Require(SameTree(*tree, expected), "the document read back differs from the job");

    if (syncFolderExists) {
        const std::vector<std::string> stale = {RINGTONES_DOCUMENT, staleSignature};
        Require(phone.media.removed == stale, "the stale documents were not removed, or more was");
        Require(phone.media.files.count(other) == 1, "another file of the Sync folder was lost");
    } else {
        Require(phone.media.created == std::vector<std::string>{RINGTONES_SYNC_DIR}, "the missing Sync folder was not created");
    }
    fuzzphone::CheckNoOpenHandles();
    Require(fuzzphone::LiveCfObjects() == cfBefore, "a CoreFoundation object outlived the document");
    return 0;
}
