#include "tests/unit/exchange/exchange_fixture.h"

#include <mutex>

namespace {
std::mutex jobMutex;
int jobStarts = 0;
std::optional<JobSnapshot> lastJob;

void RecordJobStart() {
    JobSnapshot s;
    s.syncBusy = syncState.syncBusy;
    s.connectionState = syncState.connectionState;
    s.athConnection = syncState.athConnection;
    s.syncOperation = syncState.syncOperation;
    s.addedTonePath = syncState.addedTonePath.Get();
    s.addedToneTitle = syncState.addedToneTitle.Get();
    s.lastAthMessage = syncState.lastAthMessage.Get();
    s.pidsToDelete = syncState.pidsToDelete;
    s.insertedPid = syncState.insertedPid;
    std::lock_guard lock(jobMutex);
    ++jobStarts;
    lastJob = s;
}
}  // namespace

void ExchangeTest::SetUp() {
    PhoneTest::SetUp();
    {
        std::lock_guard lock(jobMutex);
        jobStarts = 0;
        lastJob.reset();
    }
    SetSyncThreadStarter(RecordJobStart);
    phone_ = MakePhone("udid-exchange", "Phone");
    fs::create_directories(phone_.Container() / "Documents" / "sync");
    MakeCurrent(phone_);
    syncState.protocolOk = true;
}

void ExchangeTest::TearDown() {
    SetSyncThreadStarter(nullptr);
    ExpectNoLeaks();
    PhoneTest::TearDown();
}

int ExchangeTest::JobStarts() {
    std::lock_guard lock(jobMutex);
    return jobStarts;
}

std::optional<JobSnapshot> ExchangeTest::LastJob() {
    std::lock_guard lock(jobMutex);
    return lastJob;
}
