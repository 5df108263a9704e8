// The file protocol with the companion app: its container paths and the media partition paths.
#pragma once

// In the companion app's container.
inline constexpr char SYNC_DIR[] = "/Documents/sync/";
inline constexpr char GET_CURRENT_RING_PATH[] = "/Documents/sync/GetCurrentRing";
inline constexpr char UPDATE_RING_PATH[] = "/Documents/sync/UpdateRing";
inline constexpr char ADD_QUEUE_DIR[] = "/Documents/sync/add/";
inline constexpr char REMOVE_QUEUE_DIR[] = "/Documents/sync/rm/";
inline constexpr char REPORT_DIR[] = "/Documents/sync/current/";
inline constexpr char REPORT_CATALOGUE_PATH[] = "/Documents/sync/current/Ringtones.plist";
inline constexpr char REPORT_M4RLIST_PATH[] = "/Documents/sync/current/m4rlist";
inline constexpr char HEARTBEAT_PATH[] = "/Documents/sync/HeartBeat";
inline constexpr char PROTOCOL_DIR[] = "/Documents/sync/protocol/";
inline constexpr char PROTOCOL_UPDATE_MARKER_PATH[] = "/Documents/sync/protocol/pc_update";

// On the media partition.
inline constexpr char RINGTONES_DIR[] = "/iTunes_Control/Ringtones/";
inline constexpr char CATALOGUE_DIR[] = "/iTunes_Control/iTunes/";
inline constexpr char CATALOGUE_PATH[] = "/iTunes_Control/iTunes/Ringtones.plist";
inline constexpr char CATALOGUE_NAME[] = "Ringtones.plist";
