#include "exchange/ringtone_report.h"

#include <cstring>
#include <memory>

#include "device/afc_file.h"
#include "device/device_session.h"
#include "exchange/companion_paths.h"

void ReportCurrentRingtones() {
    AMServiceConnection service = OpenMediaAfc();
    if (!service) return;
    std::unique_ptr<uint8_t[]> catalogue;
    uint32_t catalogueSize = 0;
    std::string names;
    {
        AfcConnection media(service);
        if (!media.IsOpen()) return;
        catalogueSize = ReadAfcFile(media.Get(), CATALOGUE_PATH, catalogue);
        names = ListRingtoneNames(media.Get());
    }
    WriteCurrentReport(catalogue.get(), catalogueSize, names.data(), names.size());
}

std::string ListRingtoneNames(AFCConnectionRef media) {
    std::string text;
    ListAfcDirectory(media, RINGTONES_DIR, [&](const char* name) {
        if (IsDotEntry(name) || !std::strstr(name, ".m4r")) return;
        text += name;
        text += '*';
    });
    if (!text.empty()) text.pop_back();
    return text;
}

void WriteCurrentReport(const uint8_t* catalogue, uint32_t catalogueSize, const char* m4rlist, size_t m4rlistLength) {
    AMServiceConnection service = OpenCompanionAfc();
    if (!service) return;
    AfcConnection afc(service);
    if (!afc.IsOpen()) return;
    MobileDevice.AFCDirectoryCreate(afc.Get(), REPORT_DIR);
    bool written = true;
    if (catalogueSize != 0) written = WriteAfcFile(afc.Get(), REPORT_CATALOGUE_PATH, catalogue, catalogueSize) == 0;
    if (m4rlistLength > 0) {
        written = m4rlistLength <= UINT32_MAX &&
                  WriteAfcFile(afc.Get(), REPORT_M4RLIST_PATH, m4rlist, static_cast<uint32_t>(m4rlistLength)) == 0 && written;
    }
    // A report file that could not be written keeps the request, so a later pass tries again
    // instead of the app taking an older copy for the current one.
    if (written) MobileDevice.AFCRemovePath(afc.Get(), GET_CURRENT_RING_PATH);
}
