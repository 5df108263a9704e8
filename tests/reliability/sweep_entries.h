// The Apple entry points the program calls, one id each, and counting stand-ins put into the
// program's bound tables so a cell can tell whether the entry point it breaks was reached.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "device/apple_api.h"

namespace sweep {

#define SWEEP_ENTRY_ID(ret, name, args) ID_##name,
enum EntryId : size_t {
    CHIMEBOX_MOBILEDEVICE_CALLED(SWEEP_ENTRY_ID)
    CHIMEBOX_COREFOUNDATION_CALLED(SWEEP_ENTRY_ID)
    CHIMEBOX_AIRTRAFFIC_CALLED(SWEEP_ENTRY_ID)
    ENTRY_COUNT
};
#undef SWEEP_ENTRY_ID

struct Entry {
    const char* name;
    // False for the calls the simulated phone cannot make fail (no result, nothing to fail).
    bool hasFault;
    // Rules for calls made without a phone live in $PHONESIM_ROOT/faults, not the phone's file.
    bool rootFault;
};

const std::array<Entry, ENTRY_COUNT>& Entries();

// Calls made by the program through its tables since the last ResetCallCounts.
uint64_t CallCount(size_t id);
void ResetCallCounts();
// Marks a call the program made before the counting stand-ins were in place.
void CountCall(size_t id);

// Replaces every called slot of the three bound tables with a stand-in that counts, then calls
// the bound function. Run once, after binding and before any phone is attached.
void InstallCallCounters();

}  // namespace sweep
