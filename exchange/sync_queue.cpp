#include "exchange/sync_queue.h"

#include <cstring>

#include "device/afc_file.h"
#include "device/device_session.h"
#include "device/sync_state.h"
#include "exchange/companion_paths.h"
#include "exchange/sync_worker.h"

namespace {

constexpr size_t QUEUE_PATH_CAPACITY = 260;   // a queue entry, and the target of a copy
constexpr size_t DELETE_PATH_CAPACITY = 256;  // a file deleted from the ringtone folder

SyncThreadStarter startSyncThreads = nullptr;

bool Fits(const char* directory, const std::string& name, size_t capacity) {
    return std::strlen(directory) + name.size() + 1 <= capacity;
}

const char* CopyTargetDirectory(const std::string& name) {
    return name == CATALOGUE_NAME ? CATALOGUE_DIR : RINGTONES_DIR;
}

// Entries whose paths would not fit the fixed path buffers are left out of the job altogether,
// so that they are neither read, nor copied, nor turned into the tone or a deletion.
bool PathsFit(QueueKind kind, const char* directory, const std::string& name) {
    if (!Fits(directory, name, QUEUE_PATH_CAPACITY)) return false;
    if (kind == AddQueue) return Fits(CopyTargetDirectory(name), name, QUEUE_PATH_CAPACITY);
    return Fits(RINGTONES_DIR, name, DELETE_PATH_CAPACITY);
}

void ClassifyAddEntry(SyncQueue& queue, std::unique_ptr<sync_file_item> item) {
    std::u16string wide = platform::AnsiToUtf16(item->name);
    size_t tone = wide.find(u".m4r");
    if (tone != std::u16string::npos && tone > 0 && item->size > 10) {
        syncState.addedTonePath.Set(platform::AnsiToUtf16(RINGTONES_DIR) + wide);
        syncState.syncOperation = AddTone;
        for (auto& earlier : queue) earlier->isTone = false;  // the last tone entry listed wins
        item->isTone = true;
        queue.push_back(std::move(item));
    } else if (item->size >= 10) {
        queue.push_back(std::move(item));
    } else {
        syncState.addedToneTitle.Set(platform::Utf8ToUtf16(item->name));
    }
}

void ClassifyRemoveEntry(SyncQueue& queue, std::unique_ptr<sync_file_item> item) {
    std::u16string wide = platform::AnsiToUtf16(item->name);
    size_t pid = wide.find(u".pid");
    if (pid == std::u16string::npos || pid == 0) {
        queue.push_back(std::move(item));
        return;
    }
    uint64_t number = 0;
    // A number too large for 64 bits is dropped: wrapped or clamped, it could name another track.
    if (ReadPidStem(platform::Utf16ToAnsi(wide.substr(0, wide.size() - 4)), &number)) {
        syncState.pidsToDelete.push_back(number);
    }
}

}  // namespace

void SetSyncThreadStarter(SyncThreadStarter starter) { startSyncThreads = starter; }

bool ReadPidStem(const std::string& stem, uint64_t* pid) {
    size_t i = 0;
    while (i < stem.size() && (stem[i] == ' ' || (stem[i] >= '\t' && stem[i] <= '\r'))) ++i;
    uint64_t value = 0;
    for (; i < stem.size() && stem[i] >= '0' && stem[i] <= '9'; ++i) {
        uint64_t digit = static_cast<uint64_t>(stem[i] - '0');
        if (value > (UINT64_MAX - digit) / 10) return false;
        value = value * 10 + digit;
    }
    *pid = value;
    return true;
}

void ScanQueueDirectory(SyncQueue& queue, AFCConnectionRef container, const char* directory, QueueKind kind) {
    ListAfcDirectory(container, directory, [&](const char* entry) {
        if (IsDotEntry(entry)) return;
        std::string name(entry);
        char path[QUEUE_PATH_CAPACITY];
        if (!PathsFit(kind, directory, name) || !JoinAfcPath(path, sizeof path, directory, entry)) return;
        auto item = std::make_unique<sync_file_item>();
        item->name = std::move(name);
        item->size = ReadAfcFile(container, path, item->data);
        if (kind == AddQueue) ClassifyAddEntry(queue, std::move(item));
        else ClassifyRemoveEntry(queue, std::move(item));
    });
}

void WriteQueuedFiles(SyncQueue& addQueue, AFCConnectionRef media) {
    for (auto& item : addQueue) {
        char target[QUEUE_PATH_CAPACITY];
        if (!JoinAfcPath(target, sizeof target, CopyTargetDirectory(item->name), item->name.c_str())) continue;
        AFCFileRef file = 0;
        if (MobileDevice.AFCFileRefOpen(media, target, AFC_MODE_WRITE_CREATE, &file) != 0) continue;
        AppleResult wrote = 0;
        if (item->data && item->size) wrote = MobileDevice.AFCFileRefWrite(media, file, item->data.get(), item->size);
        MobileDevice.AFCFileRefClose(media, file);
        item->written = wrote == 0;
    }
}

void RemoveQueuedFiles(AFCConnectionRef media, const SyncQueue& removeQueue) {
    for (const auto& item : removeQueue) {
        char path[DELETE_PATH_CAPACITY];
        if (JoinAfcPath(path, sizeof path, RINGTONES_DIR, item->name.c_str())) MobileDevice.AFCRemovePath(media, path);
    }
}

PushOutcome PushQueuedFiles(SyncQueue& addQueue, SyncQueue& removeQueue) {
    PushOutcome outcome;
    AMServiceConnection service = OpenMediaAfc();
    if (!service) return outcome;
    AfcConnection media(service);
    if (!media.IsOpen()) return outcome;
    outcome.mediaReached = true;
    EnsureAfcDirectory(media.Get(), RINGTONES_DIR);
    WriteQueuedFiles(addQueue, media.Get());
    RemoveQueuedFiles(media.Get(), removeQueue);
    outcome.toneWritten = true;
    outcome.catalogueWritten = true;
    for (const auto& item : addQueue) {
        if (item->isTone) outcome.toneWritten = item->written;
        if (item->name == CATALOGUE_NAME && item->data) outcome.catalogueWritten = item->written;
    }
    return outcome;
}

void FreeQueue(SyncQueue& queue) { SyncQueue().swap(queue); }

void StartSyncJob() {
    AMServiceConnection service = OpenCompanionAfc();
    if (!service) return;
    SyncQueue addQueue;
    SyncQueue removeQueue;
    {
        AfcConnection container(service);
        if (!container.IsOpen()) return;
        ResetSyncJob();
        syncState.connectionState = Syncing;
        ScanQueueDirectory(addQueue, container.Get(), ADD_QUEUE_DIR, AddQueue);
        ScanQueueDirectory(removeQueue, container.Get(), REMOVE_QUEUE_DIR, RemoveQueue);
    }
    PushOutcome pushed = PushQueuedFiles(addQueue, removeQueue);
    FreeQueue(removeQueue);
    FreeQueue(addQueue);

    // When the media partition was out of reach, or the ringtone or the catalogue did not get
    // there whole, nothing is registered and the request stays, so a later pass serves it again;
    // otherwise the app would be told the job is done while the phone never got the file (or
    // kept a cut catalogue).
    if (!pushed.mediaReached || (syncState.syncOperation == AddTone && !pushed.toneWritten) || !pushed.catalogueWritten) {
        ConnectionState syncing = Syncing;
        syncState.connectionState.compare_exchange_strong(syncing, Connected);
        syncState.syncBusy = false;
        return;
    }
    if (startSyncThreads) startSyncThreads();
}
