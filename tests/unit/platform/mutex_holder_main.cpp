// platform_mutex_holder <name as UTF-16 hex> <hold ms> <marker folder as UTF-16 hex>
// Second process of the cross-process mutex test. It opens the test's mutex, drops "started",
// waits for the mutex, checks that the test released it first ("released" must exist), drops
// "held", holds the mutex for <hold ms>, drops "done" and only then releases it.
// Exit codes: 0 fine, 2 mutex not found, 3 got the mutex while the test still held it, 64 usage.
#include "platform/platform.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace {

std::optional<std::u16string> FromHex(const std::string& hex) {
    if (hex.size() % 4 != 0) return std::nullopt;
    std::u16string out;
    for (size_t i = 0; i < hex.size(); i += 4) {
        char* end = nullptr;
        const std::string unit = hex.substr(i, 4);
        const unsigned long value = std::strtoul(unit.c_str(), &end, 16);
        if (end != unit.c_str() + 4) return std::nullopt;
        out.push_back(static_cast<char16_t>(value));
    }
    return out;
}

void Touch(const std::filesystem::path& path) { std::ofstream(path, std::ios::binary) << "x"; }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) return 64;
    const auto name = FromHex(argv[1]);
    const auto folder = FromHex(argv[3]);
    if (!name || !folder) return 64;
    const auto holdMs = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
    const std::filesystem::path dir(*folder);

    platform::MutexHandle mutex = platform::OpenNamedMutex(*name);
    if (mutex == nullptr) return 2;
    Touch(dir / "started");
    platform::WaitNamedMutex(mutex);
    const bool testReleasedFirst = std::filesystem::exists(dir / "released");
    Touch(dir / "held");
    platform::SleepMs(holdMs);
    Touch(dir / "done");
    platform::ReleaseNamedMutex(mutex);
    platform::CloseNamedMutex(mutex);
    return testReleasedFirst ? 0 : 3;
}
