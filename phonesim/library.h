// The phone's media library (phones/<udid>/library.json) as the AirTraffic stand-in changes it:
// the Sync documents on the media partition add and remove tracks, a completed asset registers
// a track. Every change reads the file anew and replaces it atomically; a library file that
// cannot be parsed is left alone (logged), never overwritten.
#pragma once

#include <string>
#include <string_view>

namespace phonesim::library {

// Where the program leaves its two operation documents on the media partition.
inline constexpr std::string_view kRingtonesDocument = "/iTunes_Control/Ringtones/Sync/Sync_00000000.plist";
inline constexpr std::string_view kMediaDocument = "/iTunes_Control/Media/Sync/Sync_00000000.plist";

// Reads both Sync documents and applies the Ringtones one to the library: insert_track adds a
// pending track (replacing one with the same pid), delete_track removes the tracks with that pid.
// A missing or malformed document or operation is logged in calls.log and skipped. True when an
// inserted track now waits for its asset.
bool ApplySyncDocuments(const std::string& udid);

// The asset of the pending track whose pid is the decimal assetId has arrived at devicePath (a
// media-partition path): the track takes the path and is registered when that file exists and
// is not empty, otherwise it is marked broken. Logged when no pending track has that pid.
void CompleteAsset(const std::string& udid, std::string_view assetId, std::string_view devicePath);

}  // namespace phonesim::library
