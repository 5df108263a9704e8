#include "device/apple_bindings.h"

#include <cstring>

#include "platform/platform.h"

MobileDeviceTable MobileDevice;
CoreFoundationTable CoreFoundation;
AirTrafficTable AirTraffic;

namespace {

template <typename Fn>
void Resolve(void* module, const char* name, Fn& slot) {
    slot = reinterpret_cast<Fn>(platform::FindExport(module, name));
}

// Resolves every slot in table order, then checks that the called ones are all present.
#define RESOLVE_SLOT(ret, name, args) Resolve(table.module, #name, table.name);
#define CALLED_PRESENT(ret, name, args) present = present && table.name != nullptr;

template <typename Table>
bool Load(Table& table, const char* file) {
    table = Table{};
    table.module = platform::LoadLibraryByName(file);
    return table.module != nullptr;
}

}  // namespace

bool BindMobileDevice() {
    auto& table = MobileDevice;
    if (!Load(table, CHIMEBOX_MOBILEDEVICE_DLL)) return false;
    CHIMEBOX_MOBILEDEVICE_ENTRIES(RESOLVE_SLOT)
    bool present = true;
    CHIMEBOX_MOBILEDEVICE_CALLED(CALLED_PRESENT)
    return present;
}

bool BindCoreFoundation() {
    auto& table = CoreFoundation;
    if (!Load(table, CHIMEBOX_COREFOUNDATION_DLL)) return false;
    CHIMEBOX_COREFOUNDATION_ENTRIES(RESOLVE_SLOT)
    bool present = true;
    CHIMEBOX_COREFOUNDATION_CALLED(CALLED_PRESENT)

    // The booleans are objects read through the exported addresses; the callback tables are
    // copied whole by their struct type, so the copy is right whatever the pointer size.
    auto* falseAddr = static_cast<const CFBooleanRef*>(platform::FindExport(table.module, "kCFBooleanFalse"));
    auto* trueAddr = static_cast<const CFBooleanRef*>(platform::FindExport(table.module, "kCFBooleanTrue"));
    auto* keyAddr = static_cast<const CFDictionaryKeyCallBacks*>(platform::FindExport(table.module, "kCFTypeDictionaryKeyCallBacks"));
    auto* valueAddr = static_cast<const CFDictionaryValueCallBacks*>(platform::FindExport(table.module, "kCFTypeDictionaryValueCallBacks"));
    if (falseAddr) table.kCFBooleanFalse = *falseAddr;
    if (trueAddr) table.kCFBooleanTrue = *trueAddr;
    if (keyAddr) std::memcpy(&table.kCFTypeDictionaryKeyCallBacks, keyAddr, sizeof(CFDictionaryKeyCallBacks));
    if (valueAddr) std::memcpy(&table.kCFTypeDictionaryValueCallBacks, valueAddr, sizeof(CFDictionaryValueCallBacks));
    return present && falseAddr && trueAddr && keyAddr && valueAddr;
}

bool BindAirTrafficHost() {
    auto& table = AirTraffic;
    if (!Load(table, CHIMEBOX_AIRTRAFFIC_DLL)) return false;
    CHIMEBOX_AIRTRAFFIC_ENTRIES(RESOLVE_SLOT)
    bool present = true;
    CHIMEBOX_AIRTRAFFIC_CALLED(CALLED_PRESENT)
    return present;
}

bool BindAppleLibraries() {
    return BindCoreFoundation() && BindMobileDevice() && BindAirTrafficHost();
}

void ResetAppleBindingsForTest() {
    MobileDevice = MobileDeviceTable{};
    CoreFoundation = CoreFoundationTable{};
    AirTraffic = AirTrafficTable{};
}
