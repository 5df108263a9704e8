// The operation documents that make the phone's media library insert or delete ringtone tracks.
#pragma once

#include <cstdint>
#include <string>

#include "airtraffic/cf_objects.h"

inline constexpr char RINGTONES_SYNC_DIR[] = "/iTunes_Control/Ringtones/Sync/";
inline constexpr char MEDIA_SYNC_DIR[] = "/iTunes_Control/Media/Sync/";
inline constexpr char SYNC_DOCUMENT_NAME[] = "Sync_00000000.plist";
inline constexpr char SYNC_DOCUMENT_SIGNATURE_NAME[] = "Sync_00000000.plist.cig";

// Builds the Ringtones document (insert or delete form) and uploads it; the insert form sets
// insertedPid.
void WriteRingtoneSyncPlist();
// The Media document, serialised; the caller releases it.
CfObject BuildMediaSyncPlist();
void WriteMediaSyncPlist();
// Removes a stale document and its ".cig" from the Sync directory, or creates the directory.
void PrepareSyncDirectory(AFCConnectionRef media, const char* directory);

// The clock-derived identifiers of an inserted track.
std::string TrackGuid(uint32_t seconds);
int32_t TrackPid(uint32_t seconds);
