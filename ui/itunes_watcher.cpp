#include "ui/itunes_watcher.h"

#include <atomic>

#include "device/sync_state.h"
#include "device/ui_notify.h"

namespace {

constexpr uint32_t WATCH_PACE_MS = 1000;
std::atomic<ItunesProcessFinder> processFinder{nullptr};

}  // namespace

uint32_t FindProcessByExactName(const std::vector<platform::ProcessInfo>& processes, std::u16string_view name) {
    for (const platform::ProcessInfo& process : processes) {
        if (process.name == name) return process.id;
    }
    return 0;
}

uint32_t FindItunesProcess() { return FindProcessByExactName(platform::ListProcesses(), ITUNES_PROCESS_NAME); }

void SetItunesProcessFinder(ItunesProcessFinder finder) { processFinder = finder; }

WatchResult ItunesWatcherPass() {
    if (syncState.connectionState == Waiting) {
        syncState.heartbeatCount = 0;
        return WatchResult::KeepWatching;
    }
    const ItunesProcessFinder finder = processFinder.load();
    if ((finder ? finder() : FindItunesProcess()) == 0) return WatchResult::KeepWatching;
    SendUiNotify(NOTIFY_ITUNES_RUNNING);
    return WatchResult::Reported;
}

unsigned ItunesWatcher(void*) {
    for (;;) {
        if (platform::DrainThreadMessages()) return 0;
        if (ItunesWatcherPass() == WatchResult::Reported) return 1;
        platform::SleepMs(WATCH_PACE_MS);
    }
}
