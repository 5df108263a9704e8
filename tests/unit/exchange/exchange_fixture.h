// A current, connected phone with the companion app installed, and a recorder standing in for
// the AirTraffic threads a job starts: it takes the job fields at the moment they would start.
#pragma once

#include <optional>

#include "device/device_session.h"
#include "device/sync_state.h"
#include "exchange/companion_paths.h"
#include "exchange/sync_queue.h"
#include "tests/support/phone_fixture.h"

struct JobSnapshot {
    bool syncBusy = false;
    ConnectionState connectionState = Waiting;
    ATHostConnectionRef athConnection = nullptr;
    int32_t syncOperation = 0;
    std::u16string addedTonePath, addedToneTitle, lastAthMessage;
    std::vector<uint64_t> pidsToDelete;
    int32_t insertedPid = -1;
};

class ExchangeTest : public PhoneTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Paths on the phone's disk, given as the program names them.
    fs::path InContainer(const std::string& phonePath) const { return phone_.Container() / Utf8Path(phonePath.substr(1)); }
    fs::path OnMedia(const std::string& phonePath) const { return phone_.Media() / Utf8Path(phonePath.substr(1)); }
    void Companion(const std::string& phonePath, const std::string& bytes = {}) const { WriteFile(InContainer(phonePath), bytes); }

    static int JobStarts();
    static std::optional<JobSnapshot> LastJob();

    SimPhone phone_;
};
