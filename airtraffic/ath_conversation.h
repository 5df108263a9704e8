// The AirTraffic conversation of one sync job: AthDriver answers the phone step by step,
// AthReader publishes the name of the phone's latest message.
#pragma once

#include <cstdint>
#include <string>

inline constexpr char ITUNES_VERSION[] = "11.1.0.126";
inline constexpr char SYNC_HOST_NAME[] = "CHIMEBOX-PC";
inline constexpr char RINGTONE_DATACLASS[] = "Ringtone";

// Starts AthDriver, then AthReader, for the job that StartSyncJob has prepared.
void StartAthThreads();

unsigned AthDriver(void* unused);
unsigned AthReader(void* unused);

void OnSyncAllowed(const char* libraryId);
void OnReadyForSync();
void OnAssetManifest();

// Sixteen upper-case hex digits of the second.
std::string LibraryIdFor(uint32_t seconds);
