// One cell of the fault sweep: the program started in this process against a fresh simulated
// phone, one Apple entry point failing during one scenario, and the checks made afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "tests/reliability/sweep_entries.h"

namespace sweep {

enum Scenario : size_t {
    SC_ATTACH,
    SC_REPORT,
    SC_ADD,
    SC_REMOVE,
    SC_CATALOGUE,
    SC_HEARTBEAT,
    SC_PROTOCOL,
    SC_QUIT,
    SCENARIO_COUNT
};
const char* ScenarioName(size_t scenario);

// Checks that can fail; a cell reports the set that failed.
enum Check : uint32_t {
    CHECK_CRASH = 1u << 0,          // the cell's process died
    CHECK_HANG = 1u << 1,           // a thread did not end after its quit, or the cell ran out of time
    CHECK_LEAK = 1u << 2,           // a CoreFoundation object or AFC handle outlived the threads
    CHECK_LOST = 1u << 3,           // a queued file, a phone file or a track went missing or changed
    CHECK_FALSE_SUCCESS = 1u << 4,  // a request file was removed although its work was not done
    CHECK_STUCK = 1u << 5,          // once the fault was gone, the pending request was not served
    CHECK_SETUP = 1u << 6,          // the scenario could not be set up (a problem of the sweep)
};

// The cell with no fault at all: the scenario's own baseline.
inline constexpr size_t NO_ENTRY = ENTRY_COUNT;

struct CellOutcome {
    bool reached = false;         // the broken entry point was called while it failed
    uint32_t failed = 0;          // Check bits
    std::string detail;           // why, for the failed checks
    std::string reachedEntries;   // '0'/'1' per entry id: called during the scenario's window
};

CellOutcome RunCell(size_t scenario, size_t entry, const std::filesystem::path& root);

}  // namespace sweep
