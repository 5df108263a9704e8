#include "phonesim/library.h"

#include <algorithm>
#include <charconv>
#include <mutex>
#include <optional>
#include <vector>

#include <nlohmann/json.hpp>

#include "phonesim/common.h"
#include "phonesim/plist.h"

namespace phonesim::library {
namespace {

using Json = nlohmann::ordered_json;  // keeps the key order of tracks written by others
using plist::Value;

constexpr size_t kDocumentLimit = 16u << 20;
constexpr size_t kLibraryLimit = 64u << 20;

// One edit at a time within the process; the file itself is replaced by rename.
std::mutex& EditMutex() {
    static std::mutex* m = new std::mutex;
    return *m;
}

// Lines that report what the phone made of the program's input start with this field.
constexpr std::string_view kSelf = "phonesim";

// The host path of a media-partition path; none when it is not a confined absolute path.
std::optional<fs::path> MediaFile(const fs::path& phone, std::string_view phonePath) {
    const auto parts = SplitPhonePath(phonePath);
    if (!parts || parts->empty()) return std::nullopt;
    fs::path host = phone / "media";
    for (std::string_view part : *parts) host /= PathFromUtf8(part);
    return host;
}

// A Sync document: a dictionary with an "operations" array.
std::optional<Value> ReadDocument(const std::string& udid, const fs::path& phone, std::string_view path) {
    const auto host = MediaFile(phone, path);
    const auto bytes = host ? ReadSmallFile(*host, kDocumentLimit + 1) : std::nullopt;
    if (!bytes) {
        LogCall(udid, {kSelf, "missing document", path});
        return std::nullopt;
    }
    std::optional<Value> root;
    if (bytes->size() <= kDocumentLimit)
        root = plist::ReadBinary(reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size());
    const Value* operations = root ? root->find("operations") : nullptr;
    if (!operations || !operations->get<plist::Array>()) {
        LogCall(udid, {kSelf, "bad document", path});
        return std::nullopt;
    }
    return root;
}

// The text at a key path of nested dictionaries; "" when absent or not a string.
std::string TextAt(const Value& dict, std::initializer_list<std::string_view> keys) {
    const Value* v = &dict;
    for (std::string_view key : keys)
        if (!(v = v->find(key))) return {};
    const std::string* s = v->get<std::string>();
    return s ? *s : std::string();
}

std::optional<int64_t> PidOf(const Json& track) {
    if (!track.is_object()) return std::nullopt;
    const auto it = track.find("pid");
    if (it == track.end()) return std::nullopt;
    if (it->is_number_unsigned()) return static_cast<int64_t>(it->get<uint64_t>());
    if (it->is_number_integer()) return it->get<int64_t>();
    return std::nullopt;
}

bool IsPending(const Json& track) {
    const auto it = track.find("pending");
    return it != track.end() && it->is_boolean() && it->get<bool>();
}

// library.json as JSON; a missing file is an empty library. none when the file exists but is
// not a library, so that it is never overwritten.
std::optional<Json> Load(const std::string& udid, const fs::path& file) {
    if (!FileExists(file)) return Json{{"tracks", Json::array()}};
    const auto text = ReadSmallFile(file, kLibraryLimit + 1);
    Json library;
    if (text && text->size() <= kLibraryLimit) library = Json::parse(*text, nullptr, false);
    if (library.is_object() && !library.contains("tracks")) library["tracks"] = Json::array();
    if (!library.is_object() || !library["tracks"].is_array()) {
        LogCall(udid, {kSelf, "bad library", "library.json"});
        return std::nullopt;
    }
    return library;
}

void Save(const std::string& udid, const fs::path& file, const Json& library) {
    const std::string text = library.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
    if (!WriteFileAtomically(file, text)) LogCall(udid, {kSelf, "library not written", "library.json"});
}

Json NewTrack(const Value& op, int64_t pid) {
    const std::string title = TextAt(op, {"item", "title"});
    return Json{{"pid", pid},
                {"title", title},
                {"sort_name", TextAt(op, {"item", "sort_name"})},
                {"guid", TextAt(op, {"ringtone_info", "guid"})},
                {"kind", TextAt(op, {"location", "kind"})},
                {"path", ""},
                {"broken", false},
                {"pending", true}};
}

// Applies the operations of the Ringtones document; true when a track was inserted.
bool Apply(const std::string& udid, const plist::Array& operations, Json& tracks) {
    bool inserted = false;
    for (size_t i = 0; i < operations.size(); ++i) {
        const Value& op = operations[i];
        const Value* name = op.find("operation");
        const Value* pidValue = op.find("pid");
        const std::string* kind = name ? name->get<std::string>() : nullptr;
        const int64_t* pid = pidValue ? pidValue->get<int64_t>() : nullptr;
        if (!kind || !pid || (*kind != "insert_track" && *kind != "delete_track")) {
            LogCall(udid, {kSelf, "bad operation", kRingtonesDocument, std::to_string(i)});
            continue;
        }
        if (*kind == "delete_track") {
            tracks.erase(std::remove_if(tracks.begin(), tracks.end(),
                                        [&](const Json& t) { return PidOf(t) == *pid; }),
                         tracks.end());
            continue;
        }
        Json track = NewTrack(op, *pid);
        auto same = std::find_if(tracks.begin(), tracks.end(), [&](const Json& t) { return PidOf(t) == *pid; });
        if (same != tracks.end())
            *same = std::move(track);  // a pid names one track: the insert defines it anew
        else
            tracks.push_back(std::move(track));
        inserted = true;
    }
    return inserted;
}

std::optional<int64_t> ParseDecimal(std::string_view text) {
    int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
    return value;
}

bool NonEmptyFile(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec) && fs::file_size(path, ec) > 0 && !ec;
}

}  // namespace

bool ApplySyncDocuments(const std::string& udid) {
    const auto phone = PhoneDir(udid);
    if (!phone) return false;
    const auto ringtones = ReadDocument(udid, *phone, kRingtonesDocument);
    ReadDocument(udid, *phone, kMediaDocument);  // carries no tracks: only checked
    if (!ringtones) return false;
    std::lock_guard lock(EditMutex());
    const fs::path file = *phone / "library.json";
    auto library = Load(udid, file);
    if (!library) return false;
    const bool inserted = Apply(udid, *ringtones->find("operations")->get<plist::Array>(), (*library)["tracks"]);
    Save(udid, file, *library);
    return inserted;
}

void CompleteAsset(const std::string& udid, std::string_view assetId, std::string_view devicePath) {
    const auto phone = PhoneDir(udid);
    const auto pid = ParseDecimal(assetId);
    if (!phone) return;
    std::lock_guard lock(EditMutex());
    const fs::path file = *phone / "library.json";
    auto library = Load(udid, file);
    if (!library) return;
    Json& tracks = (*library)["tracks"];
    auto track = std::find_if(tracks.begin(), tracks.end(),
                              [&](const Json& t) { return pid && PidOf(t) == *pid && IsPending(t); });
    if (track == tracks.end()) {
        LogCall(udid, {kSelf, "no pending track", assetId});
        return;
    }
    const auto host = MediaFile(*phone, devicePath);
    const bool present = host && NonEmptyFile(*host);
    (*track)["path"] = std::string(devicePath);
    (*track)["broken"] = !present;
    (*track)["pending"] = false;
    Save(udid, file, *library);
    LogCall(udid, {kSelf, present ? "registered" : "broken", assetId, devicePath});
}

}  // namespace phonesim::library
