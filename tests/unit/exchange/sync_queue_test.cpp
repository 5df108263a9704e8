#include <gtest/gtest.h>

#include "exchange/sync_queue.h"
#include "tests/unit/exchange/exchange_fixture.h"

namespace {

using SyncQueueTest = ExchangeTest;

const std::string TONE(64, 't');  // a ringtone's bytes: more than 10

TEST_F(SyncQueueTest, ToneAndTitleBecomeAnAddToneJob) {
    Companion("/Documents/sync/add/Song.m4r", TONE);
    Companion("/Documents/sync/add/My Song", "");
    Companion("/Documents/sync/UpdateRing");
    StartSyncJob();
    ASSERT_EQ(JobStarts(), 1);
    JobSnapshot job = *LastJob();
    EXPECT_TRUE(job.syncBusy);
    EXPECT_EQ(job.connectionState, Syncing);
    EXPECT_EQ(job.athConnection, nullptr);
    EXPECT_EQ(job.syncOperation, AddTone);
    EXPECT_EQ(job.addedTonePath, u"/iTunes_Control/Ringtones/Song.m4r");
    EXPECT_EQ(job.addedToneTitle, u"My Song");
    EXPECT_TRUE(job.pidsToDelete.empty());
    EXPECT_EQ(job.insertedPid, 0);
    EXPECT_EQ(job.lastAthMessage, u"");
    EXPECT_EQ(ReadFile(OnMedia("/iTunes_Control/Ringtones/Song.m4r")), TONE);
    // The queue stays in the container until the job ends.
    EXPECT_TRUE(fs::exists(InContainer("/Documents/sync/add/Song.m4r")));
    EXPECT_TRUE(fs::exists(InContainer("/Documents/sync/UpdateRing")));
}

struct AddCase {
    const char* what;
    std::string name;
    size_t size;
    const char* copiedTo;  // media path, or nullptr when not copied
    bool tone;
    bool title;
};

TEST_F(SyncQueueTest, AddQueueClassification) {
    const AddCase cases[] = {
        {"tone", "Song.m4r", 11, "/iTunes_Control/Ringtones/Song.m4r", true, false},
        {"tone name, exactly 10 bytes", "Ten.m4r", 10, "/iTunes_Control/Ringtones/Ten.m4r", false, false},
        {"name is .m4r", ".m4r", 20, "/iTunes_Control/Ringtones/.m4r", false, false},
        {"name starts with .m4r", ".m4rx", 20, "/iTunes_Control/Ringtones/.m4rx", false, false},
        {".m4r later in the name", "a.m4r.bak", 20, "/iTunes_Control/Ringtones/a.m4r.bak", true, false},
        {"catalogue", "Ringtones.plist", 10, "/iTunes_Control/iTunes/Ringtones.plist", false, false},
        {"short catalogue is a title", "Ringtones.plist", 9, nullptr, false, true},
        {"other file", "notes.txt", 12, "/iTunes_Control/Ringtones/notes.txt", false, false},
        {"short tone name is a title", "Short.m4r", 3, nullptr, false, true},
        {"empty entry is a title", "我的铃声", 0, nullptr, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(InContainer("/Documents/sync/add/"));
        fs::remove_all(phone_.Media() / "iTunes_Control");
        fs::create_directories(OnMedia("/iTunes_Control/iTunes/"));  // always there on a phone
        Companion("/Documents/sync/add/" + c.name, std::string(c.size, 'x'));
        StartSyncJob();
        ASSERT_TRUE(LastJob());
        JobSnapshot job = *LastJob();
        if (c.copiedTo) {
            EXPECT_EQ(ReadFile(OnMedia(c.copiedTo)), std::string(c.size, 'x'));
        } else {
            EXPECT_FALSE(fs::exists(phone_.Media() / "iTunes_Control" / "Ringtones" / c.name));
        }
        EXPECT_EQ(job.syncOperation, c.tone ? AddTone : RemoveTones);
        EXPECT_EQ(job.addedTonePath, c.tone ? platform::AnsiToUtf16("/iTunes_Control/Ringtones/" + c.name) : u"");
        EXPECT_EQ(job.addedToneTitle, c.title ? platform::Utf8ToUtf16(c.name) : u"");
        syncState.syncBusy = false;
    }
}

TEST_F(SyncQueueTest, TitleIsDecodedAsUtf8WithReplacementForInvalidBytes) {
#ifdef _WIN32
    GTEST_SKIP() << "a Windows file system cannot hold a name that is not valid Unicode";
#endif
    Companion("/Documents/sync/add/bad\xff\xfename", "");
    StartSyncJob();
    ASSERT_TRUE(LastJob());
    EXPECT_EQ(LastJob()->addedToneTitle, u"bad\uFFFD\uFFFDname");
}

TEST_F(SyncQueueTest, TheLastToneAndTitleListedWin) {
    Companion("/Documents/sync/add/A.m4r", TONE);
    Companion("/Documents/sync/add/B.m4r", TONE);
    Companion("/Documents/sync/add/Title A", "");
    Companion("/Documents/sync/add/Title B", "");
    StartSyncJob();
    ASSERT_TRUE(LastJob());
    // Both are copied; the fields name the later entries of the listing.
    EXPECT_TRUE(fs::exists(OnMedia("/iTunes_Control/Ringtones/A.m4r")));
    EXPECT_TRUE(fs::exists(OnMedia("/iTunes_Control/Ringtones/B.m4r")));
    EXPECT_EQ(LastJob()->addedTonePath, u"/iTunes_Control/Ringtones/B.m4r");
    EXPECT_EQ(LastJob()->addedToneTitle, u"Title B");
}

TEST_F(SyncQueueTest, RemoveQueueClassification) {
    WriteFile(OnMedia("/iTunes_Control/Ringtones/Old.m4r"), TONE);
    WriteFile(OnMedia("/iTunes_Control/Ringtones/.pid"), TONE);
    WriteFile(OnMedia("/iTunes_Control/Ringtones/Keep.m4r"), TONE);
    for (const char* name : {"123.pid", "123.pid.old", "x.pid", ".pid", "Old.m4r", "Absent.m4r", " 42.pid",
                             "18446744073709551615.pid", "18446744073709551616.pid", "99999999999999999999999.pid"}) {
        Companion(std::string("/Documents/sync/rm/") + name, "anything");
    }
    StartSyncJob();
    ASSERT_TRUE(LastJob());
    std::vector<uint64_t> pids = LastJob()->pidsToDelete;
    std::sort(pids.begin(), pids.end());  // the listing order is the phone's
    // Numbers too large for 64 bits are dropped rather than wrapped onto another track.
    EXPECT_EQ(pids, (std::vector<uint64_t>{0, 42, 123, 123, 18446744073709551615ull}));
    EXPECT_EQ(LastJob()->syncOperation, RemoveTones);
    EXPECT_FALSE(fs::exists(OnMedia("/iTunes_Control/Ringtones/Old.m4r")));
    EXPECT_FALSE(fs::exists(OnMedia("/iTunes_Control/Ringtones/.pid")));
    EXPECT_TRUE(fs::exists(OnMedia("/iTunes_Control/Ringtones/Keep.m4r")));
}

TEST_F(SyncQueueTest, ReadPidStem) {
    struct Case {
        const char* stem;
        bool ok;
        uint64_t pid;
    } cases[] = {{"123", true, 123}, {"123.pid", true, 123}, {"x", true, 0}, {"", true, 0}, {" \t7", true, 7},
                 {"-5", true, 0}, {"18446744073709551615", true, UINT64_MAX}, {"18446744073709551616", false, 0}};
    for (const auto& c : cases) {
        uint64_t pid = 999;
        EXPECT_EQ(ReadPidStem(c.stem, &pid), c.ok) << c.stem;
        if (c.ok) {
            EXPECT_EQ(pid, c.pid) << c.stem;
        }
    }
}

TEST_F(SyncQueueTest, CopiesComeBeforeDeletionsAndTheRingtoneFolderIsCreated) {
    ASSERT_FALSE(fs::exists(phone_.Media() / "iTunes_Control"));
    Companion("/Documents/sync/add/Both.m4r", TONE);
    Companion("/Documents/sync/rm/Both.m4r", "");
    StartSyncJob();
    ASSERT_TRUE(LastJob());
    EXPECT_TRUE(fs::is_directory(OnMedia("/iTunes_Control/Ringtones/")));
    EXPECT_FALSE(fs::exists(OnMedia("/iTunes_Control/Ringtones/Both.m4r")));
    auto order = phone_.Calls({"AFCFileRefOpen", "AFCRemovePath"});
    auto at = [&](const std::string& line) { return std::find(order.begin(), order.end(), line) - order.begin(); };
    EXPECT_LT(at("AFCFileRefOpen\t/iTunes_Control/Ringtones/Both.m4r\t3"), at("AFCRemovePath\t/iTunes_Control/Ringtones/Both.m4r"));
}

TEST_F(SyncQueueTest, EmptyOrMissingQueuesStillRunAJob) {
    StartSyncJob();  // neither add/ nor rm/ exists
    ASSERT_EQ(JobStarts(), 1);
    EXPECT_EQ(LastJob()->syncOperation, RemoveTones);
    EXPECT_TRUE(LastJob()->pidsToDelete.empty());
    syncState.syncBusy = false;
    fs::create_directories(InContainer("/Documents/sync/add/"));
    fs::create_directories(InContainer("/Documents/sync/rm/"));
    StartSyncJob();
    EXPECT_EQ(JobStarts(), 2);
}

TEST_F(SyncQueueTest, AJobWhoseFilesCannotReachThePhoneIsNotStarted) {
    struct Case {
        const char* what;
        const char* fault;
        const char* path;
        bool tone;
        bool catalogue = false;
    } cases[] = {
        {"media partition unreachable, tone job", "AMDeviceStartService", "com.apple.afc", true},
        {"media partition unreachable, removal job", "AMDeviceStartService", "com.apple.afc", false},
        {"tone cannot be written", "AFCFileRefOpen", "/iTunes_Control/Ringtones/Song.m4r", true},
        {"tone write fails", "AFCFileRefWrite", nullptr, true},
        // A cut catalogue would stand on the phone while the app is told it was replaced.
        {"catalogue cannot be written", "AFCFileRefOpen", "/iTunes_Control/iTunes/Ringtones.plist", false, true},
        {"catalogue write fails", "AFCFileRefWrite", "/iTunes_Control/iTunes/Ringtones.plist", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(InContainer("/Documents/sync/"));
        Companion("/Documents/sync/UpdateRing");
        if (c.tone) Companion("/Documents/sync/add/Song.m4r", TONE);
        if (c.catalogue) {
            fs::create_directories(OnMedia("/iTunes_Control/iTunes"));
            Companion("/Documents/sync/add/Ringtones.plist", "<plist>new catalogue</plist>");
        }
        Companion("/Documents/sync/rm/5.pid");
        phone_.ClearFaults();
        phone_.AddFault(c.fault, c.path ? c.path : "");
        int before = JobStarts();
        StartSyncJob();
        EXPECT_EQ(JobStarts(), before) << "nothing may be registered for files that did not arrive";
        EXPECT_FALSE(syncState.syncBusy);
        EXPECT_EQ(syncState.connectionState, Connected);
        EXPECT_TRUE(fs::exists(InContainer("/Documents/sync/UpdateRing")));
        EXPECT_TRUE(fs::exists(InContainer("/Documents/sync/rm/5.pid")));

        // Once the phone takes the files, the request is served.
        phone_.ClearFaults();
        StartSyncJob();
        EXPECT_EQ(JobStarts(), before + 1);
        syncState.syncBusy = false;
        syncState.connectionState = Connected;
    }
}

TEST_F(SyncQueueTest, AnUnreachableContainerChangesNothing) {
    Companion("/Documents/sync/add/Song.m4r", TONE);
    for (const char* fault : {"AMDeviceStartHouseArrestService", "AFCConnectionOpen"}) {
        phone_.ClearFaults();
        phone_.AddFault(fault);
        StartSyncJob();
        EXPECT_EQ(JobStarts(), 0) << fault;
        EXPECT_FALSE(syncState.syncBusy) << fault;
        EXPECT_EQ(syncState.connectionState, Connected) << fault;
    }
}

TEST_F(SyncQueueTest, NamesTooLongForThePathBuffersAreLeftOut) {
    // "/iTunes_Control/Ringtones/" is 26 bytes: a copy target of 260 bytes with its terminator
    // takes a name of 233 bytes; a deletion path of 256 bytes takes 229.
    const std::string fitsCopy = std::string(229, 'a') + ".m4r";  // 233
    const std::string tooLongCopy = std::string(230, 'b') + ".m4r";  // 234
    const std::string fitsDelete(229, 'c');
    const std::string tooLongDelete(230, 'd');
    Companion("/Documents/sync/add/" + fitsCopy, TONE);
    Companion("/Documents/sync/add/" + tooLongCopy, TONE);
    WriteFile(OnMedia("/iTunes_Control/Ringtones/" + fitsDelete), TONE);
    WriteFile(OnMedia("/iTunes_Control/Ringtones/" + tooLongDelete), TONE);
    Companion("/Documents/sync/rm/" + fitsDelete);
    Companion("/Documents/sync/rm/" + tooLongDelete);
    StartSyncJob();
    ASSERT_TRUE(LastJob());
    EXPECT_EQ(LastJob()->addedTonePath, platform::AnsiToUtf16("/iTunes_Control/Ringtones/" + fitsCopy));
    EXPECT_TRUE(fs::exists(OnMedia("/iTunes_Control/Ringtones/" + fitsCopy)));
    EXPECT_FALSE(fs::exists(OnMedia("/iTunes_Control/Ringtones/" + tooLongCopy)));
    EXPECT_FALSE(fs::exists(OnMedia("/iTunes_Control/Ringtones/" + fitsDelete)));
    EXPECT_TRUE(fs::exists(OnMedia("/iTunes_Control/Ringtones/" + tooLongDelete)));
}

}  // namespace
