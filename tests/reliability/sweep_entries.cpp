#include "tests/reliability/sweep_entries.h"

#include <cstring>

#include "device/apple_bindings.h"

namespace sweep {

namespace {

std::array<std::atomic<uint64_t>, ENTRY_COUNT> counts{};

template <size_t Id, typename Fn>
struct Counting;

template <size_t Id, typename R, typename... A>
struct Counting<Id, R(APPLE_CALL*)(A...)> {
    static inline R(APPLE_CALL* bound)(A...) = nullptr;
    static R APPLE_CALL Call(A... args) {
        counts[Id].fetch_add(1);
        return bound(args...);
    }
    static void Install(R(APPLE_CALL*& slot)(A...)) {
        bound = slot;
        slot = &Call;
    }
};

// The simulated CoreFoundation has no failure for the calls without a result.
bool CanFail(const char* name) {
    for (const char* quiet : {"CFRelease", "CFDictionaryAddValue", "CFDictionarySetValue", "CFArrayAppendValue"}) {
        if (std::strcmp(name, quiet) == 0) return false;
    }
    return true;
}

}  // namespace

const std::array<Entry, ENTRY_COUNT>& Entries() {
#define SWEEP_MD(ret, name, args) Entry{#name, true, std::strcmp(#name, "AMDeviceNotificationSubscribe") == 0},
#define SWEEP_CF(ret, name, args) Entry{#name, CanFail(#name), true},
#define SWEEP_AT(ret, name, args) Entry{#name, true, false},
    static const std::array<Entry, ENTRY_COUNT> entries{
        CHIMEBOX_MOBILEDEVICE_CALLED(SWEEP_MD) CHIMEBOX_COREFOUNDATION_CALLED(SWEEP_CF) CHIMEBOX_AIRTRAFFIC_CALLED(SWEEP_AT)};
#undef SWEEP_MD
#undef SWEEP_CF
#undef SWEEP_AT
    return entries;
}

uint64_t CallCount(size_t id) { return counts[id].load(); }

void ResetCallCounts() {
    for (auto& count : counts) count = 0;
}

void CountCall(size_t id) { counts[id].fetch_add(1); }

void InstallCallCounters() {
#define SWEEP_WRAP_MD(ret, name, args) Counting<ID_##name, name##_fn>::Install(MobileDevice.name);
#define SWEEP_WRAP_CF(ret, name, args) Counting<ID_##name, name##_fn>::Install(CoreFoundation.name);
#define SWEEP_WRAP_AT(ret, name, args) Counting<ID_##name, name##_fn>::Install(AirTraffic.name);
    CHIMEBOX_MOBILEDEVICE_CALLED(SWEEP_WRAP_MD)
    CHIMEBOX_COREFOUNDATION_CALLED(SWEEP_WRAP_CF)
    CHIMEBOX_AIRTRAFFIC_CALLED(SWEEP_WRAP_AT)
#undef SWEEP_WRAP_MD
#undef SWEEP_WRAP_CF
#undef SWEEP_WRAP_AT
}

}  // namespace sweep
