#include "device/apple_runtime.h"

#include "platform/platform.h"

namespace {

constexpr char16_t REGISTERED_APPS_KEY[] = u"SOFTWARE\\Apple Computer, Inc.\\iPod\\RegisteredApps\\4";
constexpr char16_t MOBILE_DEVICE_SUPPORT_KEY[] = u"SOFTWARE\\Apple Inc.\\Apple Mobile Device Support";

// The parent of the install folder: the value up to and including its last backslash, not
// counting the value's own last character (so a trailing backslash is never the one found).
std::u16string RootFromInstallDir(const std::u16string& installDir) {
    if (installDir.size() < 2) return {};
    size_t slash = installDir.rfind(u'\\', installDir.size() - 2);
    return slash == std::u16string::npos ? std::u16string() : installDir.substr(0, slash + 1);
}

}  // namespace

std::u16string FindAppleSupportRoot() {
    // The registration of iTunes must be present, though its content is not used.
    if (!platform::ReadRegistryString(REGISTERED_APPS_KEY, u"path")) return {};
    auto installDir = platform::ReadRegistryString(MOBILE_DEVICE_SUPPORT_KEY, u"InstallDir");
    if (!installDir) return {};
    return RootFromInstallDir(*installDir);
}

void PrepareAppleSearchPath(const std::u16string& root) {
    // The old value is kept whole, however long it is.
    std::u16string oldPath = platform::GetEnv(u"PATH").value_or(std::u16string());
    platform::SetEnv(u"PATH", root + u"Mobile Device Support;" + root + u"Apple Application Support;" + root + u"CoreFP;" + oldPath);
    for (const char16_t* library : {u"Apple Application Support\\SQLite3.dll", u"Apple Application Support\\libxml2.dll",
                                    u"Apple Application Support\\zlib1.dll"}) {
        platform::LoadLibraryByPath(root + library);
    }
}
