// Start-up and shutdown of the background work, shared by the window and chimebox-headless.
#pragma once

#include <initializer_list>
#include <string>

#include "platform/platform.h"

// Apple support present: creates the session mutex, prepares the library search path, binds
// the three libraries and, only when all three bound, subscribes to device events. True when
// subscribed.
bool StartAppleSupport(const std::u16string& root);

// Resets the heartbeat count and starts HeartbeatWriter; its identity, or 0.
platform::ThreadId StartHeartbeat();

// Posts MSG_THREAD_QUIT to the given threads of the caller, then to AthReader, AthDriver and
// DeviceWorker. Nothing waits for any thread.
void PostQuitToAllThreads(std::initializer_list<platform::ThreadId> ownThreads);
