// ItunesWatcher: while a phone is attached, asks the user once per run to close iTunes.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/platform.h"

inline constexpr char16_t ITUNES_PROCESS_NAME[] = u"iTunes.exe";

// Id of the first process whose executable name equals `name` exactly (case-sensitive), or 0.
uint32_t FindProcessByExactName(const std::vector<platform::ProcessInfo>& processes, std::u16string_view name);
// Process id of a running "iTunes.exe", or 0 (also when the process list cannot be taken).
uint32_t FindItunesProcess();

// Tests replace the process search; none restores FindItunesProcess.
using ItunesProcessFinder = uint32_t (*)();
void SetItunesProcessFinder(ItunesProcessFinder finder);

enum class WatchResult { KeepWatching, Reported };
// One pass after the message drain: idle (heartbeat count reset) while no phone is attached;
// otherwise looks for iTunes and, when found, sends NOTIFY_ITUNES_RUNNING and waits for it.
WatchResult ItunesWatcherPass();

// Thread entry: 0 at MSG_THREAD_QUIT, 1 after its one report. One pass a second.
unsigned ItunesWatcher(void* unused);
