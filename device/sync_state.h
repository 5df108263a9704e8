// The one process-wide state record shared by every thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "device/apple_api.h"
#include "platform/platform.h"

enum ConnectionState : int32_t { Waiting = 0, Connected = 1, Syncing = 2 };
enum SyncOperation : int32_t { AddTone = 1, RemoveTones = 2 };

// A text field that is only ever replaced whole: readers get a copy, never a half-written value.
class SharedText {
public:
    std::u16string Get() const {
        std::lock_guard lock(mutex_);
        return value_;
    }
    void Set(std::u16string value) {
        std::lock_guard lock(mutex_);
        value_.swap(value);
    }
    bool Equals(std::u16string_view other) const {
        std::lock_guard lock(mutex_);
        return value_ == other;
    }

private:
    mutable std::mutex mutex_;
    std::u16string value_;
};

// Word-sized fields are atomics so every read and write is whole. The job fields are written by
// the worker before it starts the AirTraffic threads and read by those threads afterwards.
struct SyncState {
    // Device fields.
    std::atomic<ConnectionState> connectionState{Waiting};
    SharedText statusText;
    SharedText deviceId;
    std::atomic<AMDeviceRef> device{nullptr};
    std::atomic<bool> firstAttach{true};
    std::atomic<bool> protocolOk{false};
    void* deviceNotification = nullptr;
    std::atomic<platform::ThreadId> deviceWorkerThread{0};
    std::atomic<platform::ThreadId> athDriverThread{0};
    std::atomic<platform::ThreadId> athReaderThread{0};
    std::atomic<int32_t> heartbeatCount{0};

    // Job and request fields.
    std::atomic<bool> syncBusy{false};
    std::atomic<ATHostConnectionRef> athConnection{nullptr};
    std::atomic<int32_t> syncOperation{0};
    std::atomic<int32_t> insertedPid{0};
    SharedText lastAthMessage;
    SharedText addedTonePath;
    SharedText addedToneTitle;
    std::vector<uint64_t> pidsToDelete;
    // Written and read by DeviceWorker only; atomic because the worker of an earlier attach may
    // still be finishing its pass when the next one starts.
    std::atomic<bool> wantCurrentRing{false};
    std::atomic<bool> wantUpdateRing{false};
};

extern SyncState syncState;

// Puts every field back to its start value (tests only: the program never destroys the record).
void ResetSyncStateForTest();
