// The protocol check over hostile announcement folders: entry names come from the fuzzer. The
// result must be false exactly when some name holding "protocol_" carries, after its first nine
// bytes, a version that orders after ours as unsigned bytes; then, and only then, the one-byte
// update marker is written. Nothing else is written, and no handle is left open.
#include <fuzzer/FuzzedDataProvider.h>

#include <set>
#include <string_view>

#include "exchange/companion_paths.h"
#include "exchange/heartbeat.h"
#include "fuzz/fake_phone.h"

using fuzzphone::Require;

namespace {

// Byte order of unsigned bytes, the shorter first when it is a prefix of the other.
bool OrdersBefore(std::string_view a, std::string_view b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

bool AnnouncesNewer(const std::string& name) {
    if (name == "." || name == ".." || name.find("protocol_") == std::string::npos) return false;
    return OrdersBefore(PROTOCOL_VERSION, std::string_view(name).substr(9));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzphone::Install();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    fuzzphone::FakePhone& phone = fuzzphone::Fresh();
    const bool folderExists = in.ConsumeBool();
    bool expected = true;
    if (folderExists) {
        auto& names = phone.container.dirs[PROTOCOL_DIR];
        std::set<std::string> seen = {".", ".."};
        while (in.remaining_bytes() > 0 && names.size() < 64) {
            std::string name = in.ConsumeRandomLengthString(5000);
            name = name.substr(0, name.find('\0'));
            if (!seen.insert(name).second) continue;
            if (AnnouncesNewer(name)) expected = false;
            names.push_back(name);
        }
    }

    const bool accepted = CheckProtocolVersion();

    Require(accepted == expected, "protocol verdict differs");
    if (accepted) {
        Require(phone.container.written.empty(), "a file was written for an accepted protocol");
    } else {
        Require(phone.container.written.size() == 1, "something besides the marker was written");
        auto it = phone.container.written.find(PROTOCOL_UPDATE_MARKER_PATH);
        Require(it != phone.container.written.end() && it->second == "1", "the update marker is not the byte 1");
    }
    Require(phone.container.removed.empty() && phone.container.created.empty(), "the check changed the folder");
    fuzzphone::CheckNoOpenHandles();
    return 0;
}
