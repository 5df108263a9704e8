// A whole sync job's start over hostile queue directories: entry names and contents, and the file
// sizes the phone reports, come from the fuzzer. Checks, besides memory safety: every path the
// program forms fits its fixed buffer; an entry whose paths fit is classified as the queue rules
// say (tone, catalogue, copy, title, pid, deletion) and its copy holds exactly its bytes; nothing
// else is written or removed; no AFC handle or CoreFoundation object outlives the job.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <set>

#include "device/sync_state.h"
#include "exchange/companion_paths.h"
#include "exchange/sync_queue.h"
#include "fuzz/fake_phone.h"

using fuzzphone::FakeFile;
using fuzzphone::Require;

namespace {

constexpr size_t QUEUE_PATH_BUFFER = 260;
constexpr size_t DELETE_PATH_BUFFER = 256;
constexpr size_t MAX_NAME = 9000;

bool Fits(const char* directory, const std::string& name, size_t buffer) {
    return std::strlen(directory) + name.size() + 1 <= buffer;
}

// A name as a directory listing can give it: no zero byte. A repeat count makes names of several
// KiB cheap to reach, and lengths around the path buffers easy to hit.
std::string MakeName(FuzzedDataProvider& in) {
    std::string name = in.ConsumeRandomLengthString(300);
    name = name.substr(0, name.find('\0'));
    unsigned repeat = in.ConsumeIntegralInRange<unsigned>(1, 40);
    std::string out;
    for (unsigned i = 0; i < repeat && out.size() < MAX_NAME; ++i) out += name;
    return out.substr(0, MAX_NAME);
}

struct Entry {
    bool addQueue;
    std::string name;
    FakeFile file;
    bool honest() const { return !file.reportedSize && file.readOverclaim == 0; }
};

// Any text, except that a plausible size of a MiB up to 2 GiB is made 2^31-1: the program trusts
// a size it can hold and allocates it, which on this shared machine would only measure memory.
std::string HostileSize(std::string text) {
    long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (value >= (1 << 20) && value < INT32_MAX) return "2147483647";
    return text;
}

FakeFile MakeFile(FuzzedDataProvider& in) {
    FakeFile file;
    file.data = in.ConsumeRandomLengthString(600);
    switch (in.ConsumeIntegralInRange(0, 7)) {
        case 5: file.reportedSize = HostileSize(in.ConsumeRandomLengthString(24)); break;
        case 6: file.reportedSize = std::to_string(static_cast<int64_t>(file.data.size()) + in.ConsumeIntegralInRange<int64_t>(-20, 20)); break;
        case 7: file.readOverclaim = in.ConsumeIntegralInRange<uint32_t>(1, UINT32_MAX - 4096); break;
        default: break;
    }
    return file;
}

// Leading blanks skipped, then decimal digits; none when the number does not fit 64 bits.
std::optional<uint64_t> LeadingNumber(const std::string& text) {
    size_t i = text.find_first_not_of(" \t\n\v\f\r");
    unsigned __int128 value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
        if (value > UINT64_MAX) return std::nullopt;
    }
    return static_cast<uint64_t>(value);
}

std::u16string Latin1(const std::string& bytes) { return platform::AnsiToUtf16(bytes); }

struct Expected {
    std::map<std::string, std::string> written;  // media path -> bytes
    std::vector<std::string> removed;
    std::vector<uint64_t> pids;
    bool tonesKnown = true;  // false once an add entry with a lying size could have been anything
    std::u16string tonePath, title;
    int32_t operation = RemoveTones;
};

void ExpectAddEntry(Expected& x, const Entry& e) {
    const char* target = e.name == CATALOGUE_NAME ? CATALOGUE_DIR : RINGTONES_DIR;
    if (!Fits(ADD_QUEUE_DIR, e.name, QUEUE_PATH_BUFFER) || !Fits(target, e.name, QUEUE_PATH_BUFFER)) return;
    if (!e.honest()) {
        x.tonesKnown = false;
        return;
    }
    size_t size = e.file.data.size();
    size_t tone = e.name.find(".m4r");
    if (size >= 10) x.written[std::string(target) + e.name] = e.file.data;
    if (tone != std::string::npos && tone > 0 && size > 10) {
        x.tonePath = Latin1(std::string(RINGTONES_DIR) + e.name);
        x.operation = AddTone;
    } else if (size < 10) {
        x.title = platform::Utf8ToUtf16(e.name);
    }
}

void ExpectRemoveEntry(Expected& x, const Entry& e) {
    if (!Fits(REMOVE_QUEUE_DIR, e.name, QUEUE_PATH_BUFFER) || !Fits(RINGTONES_DIR, e.name, DELETE_PATH_BUFFER)) return;
    size_t pid = e.name.find(".pid");
    if (pid != std::string::npos && pid > 0) {
        if (auto number = LeadingNumber(e.name)) x.pids.push_back(*number);
    } else {
        x.removed.push_back(std::string(RINGTONES_DIR) + e.name);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzphone::Install();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    fuzzphone::FakePhone& phone = fuzzphone::Fresh();
    const int64_t cfBefore = fuzzphone::LiveCfObjects();

    const bool ringtonesDirExists = in.ConsumeBool();
    if (ringtonesDirExists) phone.media.dirs[RINGTONES_DIR];
    phone.container.dirs[ADD_QUEUE_DIR];
    phone.container.dirs[REMOVE_QUEUE_DIR];

    std::vector<Entry> entries;
    std::set<std::pair<bool, std::string>> seen = {{true, "."}, {true, ".."}, {false, "."}, {false, ".."}};
    while (in.remaining_bytes() > 0 && entries.size() < 64) {
        Entry e{in.ConsumeBool(), MakeName(in), MakeFile(in)};
        if (!seen.insert({e.addQueue, e.name}).second) continue;  // a directory lists each name once
        const char* dir = e.addQueue ? ADD_QUEUE_DIR : REMOVE_QUEUE_DIR;
        phone.container.dirs[dir].push_back(e.name);
        phone.container.files[dir + e.name] = e.file;
        entries.push_back(std::move(e));
    }

    syncState.connectionState = Connected;
    StartSyncJob();

    Expected x;
    for (const Entry& e : entries) {
        if (e.addQueue) ExpectAddEntry(x, e);
    }
    for (const Entry& e : entries) {
        if (!e.addQueue) ExpectRemoveEntry(x, e);
    }

    Require(phone.container.longestPath < QUEUE_PATH_BUFFER, "a container path longer than its buffer");
    Require(phone.media.longestPath < QUEUE_PATH_BUFFER, "a media path longer than its buffer");
    Require(syncState.pidsToDelete == x.pids, "pids to delete differ");
    Require(phone.media.removed == x.removed, "removed files differ");
    Require(ringtonesDirExists || phone.media.created == std::vector<std::string>{RINGTONES_DIR},
            "the missing ringtone folder was not created once");
    for (const auto& [path, bytes] : x.written) {
        auto it = phone.media.written.find(path);
        Require(it != phone.media.written.end(), "a queued file was not copied");
        Require(it->second == bytes, "a copy does not hold the queued bytes");
    }
    for (const auto& [path, bytes] : phone.media.written) {
        Require(path.rfind(RINGTONES_DIR, 0) == 0 || path == CATALOGUE_PATH, "a copy outside the ringtone folders");
    }
    if (x.tonesKnown) {
        Require(phone.media.written.size() == x.written.size(), "an unexpected file was written");
        Require(syncState.syncOperation == x.operation, "job kind differs");
        Require(syncState.addedTonePath.Equals(x.tonePath), "tone path differs");
        Require(syncState.addedToneTitle.Equals(x.title), "tone title differs");
    }
    fuzzphone::CheckNoOpenHandles();
    Require(fuzzphone::LiveCfObjects() == cfBefore, "a CoreFoundation object outlived the job");
    return 0;
}
