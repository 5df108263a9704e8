// The current-ringtone report: the phone's catalogue and its .m4r names, copied for the app.
#pragma once

#include <cstdint>
#include <string>

#include "device/apple_api.h"

void ReportCurrentRingtones();

// The names containing ".m4r" in the ringtone folder, joined by "*"; empty when there are none.
std::string ListRingtoneNames(AFCConnectionRef media);

// Writes the report files that have content and, when every one of them was written, removes the
// request, which tells the app that the report is complete.
void WriteCurrentReport(const uint8_t* catalogue, uint32_t catalogueSize, const char* m4rlist, size_t m4rlistLength);
