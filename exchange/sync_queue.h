// A sync job's start: the add and remove queues read from the app's container, copies and
// deletions on the media partition, and the job fields handed to the AirTraffic threads.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/apple_api.h"
#include "platform/platform.h"

// One queue entry, read whole.
struct sync_file_item {
    std::string name;                // as the directory listing gives it
    std::unique_ptr<uint8_t[]> data; // none when nothing was read
    uint32_t size = 0;
    bool isTone = false;   // the entry became the ringtone to insert
    bool written = false;  // copied to the media partition
};
using SyncQueue = std::vector<std::unique_ptr<sync_file_item>>;

enum QueueKind { AddQueue = 1, RemoveQueue = 2 };

// Starts the AirTraffic threads of a job (AthDriver first); filled by the registration layer.
using SyncThreadStarter = void (*)();
void SetSyncThreadStarter(SyncThreadStarter starter);

void StartSyncJob();
void ScanQueueDirectory(SyncQueue& queue, AFCConnectionRef container, const char* directory, QueueKind kind);

struct PushOutcome {
    bool mediaReached = false;  // the media partition could be opened
    bool toneWritten = false;   // the ringtone to insert (if any) was copied whole
    bool catalogueWritten = false;  // the replacement catalogue (if any) was copied whole
};
PushOutcome PushQueuedFiles(SyncQueue& addQueue, SyncQueue& removeQueue);
void WriteQueuedFiles(SyncQueue& addQueue, AFCConnectionRef media);
void RemoveQueuedFiles(AFCConnectionRef media, const SyncQueue& removeQueue);
void FreeQueue(SyncQueue& queue);

// The number a ".pid" stem starts with: blanks skipped, digits read up to the first non-digit,
// 0 when there is none. False when the number does not fit 64 bits.
bool ReadPidStem(const std::string& stem, uint64_t* pid);
