// Test support: a simulated phone on disk in a fresh folder per test, the simulated Apple
// libraries bound once per process, and small helpers for waiting on threads.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "device/apple_api.h"
#include "platform/platform.h"

namespace fs = std::filesystem;

struct LeakCounters {
    int64_t cf_objects = 0, afc_connections = 0, afc_files = 0, afc_dirs = 0, afc_infos = 0;
    bool operator==(const LeakCounters&) const = default;
};
std::ostream& operator<<(std::ostream& out, const LeakCounters& c);

// Binds the simulated libraries of the build's Apple support root (once per process).
void BindSimulatedApple();
// The build's simulated Apple support root, ending with a separator.
std::u16string AppleSupportRoot();
// A path inside the build folder, given with "/" separators.
std::u16string BuildPath(const std::string& relative);

// Polls until the condition holds or the time is up; returns the condition's last value.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = std::chrono::seconds(5));

// A phone as seen on disk: $PHONESIM_ROOT/phones/<udid>/.
struct SimPhone {
    fs::path dir;
    std::string udid;

    fs::path Media() const { return dir / "media"; }
    fs::path Container() const;  // the companion app's container
    void SetName(const std::string& name) const;
    void SetPaired(bool paired) const;
    void InstallCompanionApp() const;
    void Attach() const;          // plug in
    void ReannounceAttach() const;  // the same phone reported attached again, without a detach
    void Detach() const;          // unplug
    void AddFault(const std::string& name, const std::string& path = {}) const;
    void ClearFaults() const;
    std::vector<std::string> CallLog() const;  // lines of calls.log
    // Lines of calls.log whose first field is one of the names.
    std::vector<std::string> Calls(std::initializer_list<const char*> names) const;
};

// A path from UTF-8 text (a plain std::string would be taken as ANSI on Windows).
fs::path Utf8Path(const std::string& utf8);
void WriteFile(const fs::path& path, const std::string& bytes);
std::string ReadFile(const fs::path& path);

// Every test gets a fresh $PHONESIM_ROOT, a fresh session-mutex folder with the mutex created,
// a fresh SyncState and a simulator that has forgotten earlier subscriptions.
class PhoneTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    SimPhone MakePhone(const std::string& udid, const std::string& name = "Test iPhone", bool paired = true,
                       bool companionApp = true);
    // Plugs the phone in and takes its device reference from the simulator's attach event, as
    // the program's event function would (without running it).
    AMDeviceRef TakeDevice(const SimPhone& phone);
    // TakeDevice, then the phone is current and Connected in SyncState.
    void MakeCurrent(const SimPhone& phone);
    // Stops the simulator's device events (and forgets its subscriptions).
    void StopDeviceEvents();
    // Takes the session mutex away, as when its creation at start-up failed.
    void DropSessionMutex();
    LeakCounters Counters() const;
    void ExpectNoLeaks() const;  // every CF object and AFC handle made by the program is gone

    fs::path root_;
    LeakCounters baseline_;
    platform::MutexHandle sessionMutex_ = nullptr;
};
