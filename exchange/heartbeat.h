// The heartbeat file that tells the app a desktop program is attached, and the check of the
// app's protocol version.
#pragma once

inline constexpr char PROTOCOL_VERSION[] = "1.1.1";

// Thread entry: rewrites the heartbeat about every 500 ms while a phone is connected.
unsigned HeartbeatWriter(void* unused);

// True when the app's announced protocol is not newer than ours (or cannot be learned); when
// it is newer, writes the update marker and returns false.
bool CheckProtocolVersion();
