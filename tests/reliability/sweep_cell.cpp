#include "tests/reliability/sweep_cell.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "device/apple_bindings.h"
#include "device/device_session.h"
#include "device/sync_state.h"
#include "device/ui_notify.h"
#include "exchange/heartbeat.h"
#include "phonesim/phonesim_api.h"
#include "platform/platform.h"
#include "startup/startup.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace sweep {

const char* ScenarioName(size_t scenario) {
    static const char* const names[SCENARIO_COUNT] = {"attach", "report", "add", "remove", "catalogue", "heartbeat", "protocol", "quit"};
    return scenario < SCENARIO_COUNT ? names[scenario] : "?";
}

namespace {

constexpr char UDID[] = "00008030-SWEEP";
constexpr char SONG[] = "song.m4r";
constexpr char TITLE[] = "Sweep Song";
constexpr int64_t OLD_PID = 10001111;
constexpr int64_t KEEP_PID = 10002222;
const std::string ORIGINAL_CATALOGUE = "bplist00 the phone's own ringtone catalogue";
const std::string NEW_CATALOGUE = "bplist00 the catalogue the app wants on the phone";
// A thread message nobody acts on: posting it tells whether the thread still has its queue.
constexpr uint32_t PROBE_MESSAGE = platform::MSG_USER_BASE + 777;

std::string Tone() {
    std::string tone;
    for (int i = 0; i < 4096; ++i) tone.push_back(static_cast<char>(i * 7 + 3));
    return tone;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return condition();
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::optional<std::string> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::u16string PathText(const fs::path& path) { return platform::Utf8ToUtf16(path.string()); }

std::atomic<int> updateNotices{0};
void RecordNotify(uint32_t code) {
    if (code == NOTIFY_UPDATE_NEEDED) ++updateNotices;
}

// Every thread identity the program stores, sampled while the cell runs, so that workers of
// earlier attaches and finished jobs are waited for too.
class ThreadWatch {
public:
    void Start() {
        thread_ = std::thread([this] {
            while (!stop_) {
                Sample();
                std::this_thread::sleep_for(2ms);
            }
        });
    }
    void Add(platform::ThreadId id, const char* role) {
        std::lock_guard lock(mutex_);
        if (id) seen_.emplace(id, role);
    }
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        Sample();
    }
    // Roles of the threads that still have a message queue.
    std::vector<std::string> Running() {
        std::lock_guard lock(mutex_);
        std::vector<std::string> running;
        for (const auto& [id, role] : seen_) {
            if (platform::PostToThread(id, PROBE_MESSAGE)) running.push_back(role);
        }
        return running;
    }
    // The same, without the heartbeat, which lives as long as the program.
    std::vector<std::string> RunningPhoneThreads() {
        std::vector<std::string> running = Running();
        std::erase(running, "HeartbeatWriter");
        return running;
    }

private:
    void Sample() {
        Add(syncState.deviceWorkerThread, "DeviceWorker");
        Add(syncState.athDriverThread, "AthDriver");
        Add(syncState.athReaderThread, "AthReader");
    }
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::map<platform::ThreadId, std::string> seen_;
};

class Cell {
public:
    Cell(size_t scenario, size_t entry, fs::path root) : scenario_(scenario), entry_(entry), root_(std::move(root)) {}
    CellOutcome Run();

private:
    fs::path PhoneDir() const { return root_ / "phones" / UDID; }
    fs::path Sync() const { return PhoneDir() / "apps" / COMPANION_BUNDLE_ID / "Documents" / "sync"; }
    fs::path Media() const { return PhoneDir() / "media"; }
    fs::path RingtoneDir() const { return Media() / "iTunes_Control" / "Ringtones"; }
    fs::path MediaCatalogue() const { return Media() / "iTunes_Control" / "iTunes" / "Ringtones.plist"; }
    bool StartsBeforeAttach() const { return scenario_ == SC_ATTACH || scenario_ == SC_PROTOCOL; }
    bool IsJob() const { return scenario_ == SC_ADD || scenario_ == SC_REMOVE || scenario_ == SC_CATALOGUE || scenario_ == SC_QUIT; }

    void Fail(uint32_t check, const std::string& why) {
        outcome_.failed |= check;
        if (!outcome_.detail.empty()) outcome_.detail += "; ";
        outcome_.detail += why;
    }

    void MakePhone();
    void Queue(const std::string& relative, const std::string& bytes);
    void Attach() const { WriteFile(PhoneDir() / "attached", std::to_string(++attachToken_)); }
    void Detach() const { fs::remove(PhoneDir() / "attached"); }
    void InstallFault();
    void ClearFault();
    bool StartProgram();
    bool Settle() const;
    PhoneSimCounters Counters() const;

    bool ReportRequestGone() const { return !fs::exists(Sync() / "GetCurrentRing"); }
    bool UpdateRequestGone() const { return !fs::exists(Sync() / "UpdateRing"); }
    bool RequestServed() const;
    bool JobDone() const;
    bool ReportRight() const;
    std::optional<long> HeartbeatCount() const;
    bool TrackPresent(int64_t pid) const;
    bool SongRegistered() const;
    bool CallLogged(const char* name) const;

    void RunScenario();
    void CheckState(bool final);
    void Recover();
    void QuitAndWait();
    void CheckLeaks();

    size_t scenario_;
    size_t entry_;
    fs::path root_;
    CellOutcome outcome_;
    mutable int attachToken_ = 0;
    std::map<fs::path, std::string> queued_;  // the app's queued files and their bytes
    std::string tone_ = Tone();
    platform::ThreadId heartbeat_ = 0;
    ThreadWatch threads_;
    PhoneSimCounters baseline_{};
    bool quitDone_ = false;
    bool hung_ = false;
    std::optional<long> lastBeat_;
};


void Cell::MakePhone() {
    fs::create_directories(root_ / "phones");
    fs::create_directories(root_ / "mutex");
    WriteFile(PhoneDir() / "name", "Sweep iPhone");
    WriteFile(PhoneDir() / "paired", "");
    WriteFile(PhoneDir() / "faults", "");
    WriteFile(root_ / "faults", "");
    fs::create_directories(Sync());
    WriteFile(MediaCatalogue(), ORIGINAL_CATALOGUE);
    WriteFile(RingtoneDir() / "old.m4r", tone_.substr(0, 100));
    WriteFile(RingtoneDir() / "keep.m4r", tone_.substr(100, 100));
    nlohmann::json tracks = nlohmann::json::array();
    for (auto [pid, name] : {std::pair{OLD_PID, "old"}, std::pair{KEEP_PID, "keep"}}) {
        tracks.push_back({{"pid", pid}, {"title", name}, {"sort_name", name}, {"guid", "87ZEPH0000000001"},
                          {"kind", "Ringtone"}, {"path", std::string("/iTunes_Control/Ringtones/") + name + ".m4r"},
                          {"broken", false}});
    }
    WriteFile(PhoneDir() / "library.json", nlohmann::json{{"tracks", tracks}}.dump());
}

void Cell::Queue(const std::string& relative, const std::string& bytes) {
    WriteFile(Sync() / relative, bytes);
    queued_[Sync() / relative] = bytes;
}

// The broken entry point fails on every call from here until ClearFault; its calls are counted
// over the same span.
// Entry points that the simulated phone calls itself for its own services: failing for every
// caller, they would stop the phone before the program gets to them, so they are narrowed.
struct Narrowed {
    const char* entry;
    const char* argument;  // the rule holds only for this argument
    bool late;             // in a job, broken once the AirTraffic conversation has begun
};
const Narrowed NARROWED[] = {
    {"CFStringCreateWithCString", TITLE, false},  // the track title, the one string the program makes with it
    {"CFStringGetLength", nullptr, true},         // the program's only use: the names of the phone's messages
};

const Narrowed* NarrowedRule(size_t entry) {
    if (entry == NO_ENTRY) return nullptr;
    for (const Narrowed& rule : NARROWED) {
        if (std::string_view(rule.entry) == Entries()[entry].name) return &rule;
    }
    return nullptr;
}

void Cell::InstallFault() {
    ResetCallCounts();
    if (entry_ == NO_ENTRY) return;
    const Entry& entry = Entries()[entry_];
    const Narrowed* narrowed = NarrowedRule(entry_);
    std::string rule = entry.name;
    if (narrowed && narrowed->argument) rule += std::string("\t") + narrowed->argument;
    WriteFile(entry.rootFault ? root_ / "faults" : PhoneDir() / "faults", rule + "\n");
}

void Cell::ClearFault() {
    // Emptied, not removed: the simulator reads the file on every call.
    WriteFile(root_ / "faults", "");
    WriteFile(PhoneDir() / "faults", "");
    outcome_.reached = entry_ == NO_ENTRY || CallCount(entry_) > 0;
    outcome_.reachedEntries.clear();
    for (size_t id = 0; id < ENTRY_COUNT; ++id) outcome_.reachedEntries += CallCount(id) > 0 ? '1' : '0';
}

bool Cell::StartProgram() {
    std::u16string support = platform::GetEnv(u"CHIMEBOX_APPLE_SUPPORT").value_or(u"");
    if (support.empty()) return false;
    if (support.back() != u'/') support += u'/';
    bool subscribed = StartAppleSupport(support);
    if (!subscribed) return false;
    // The start-up has just subscribed to device events, before the counters could be put in.
    CountCall(ID_AMDeviceNotificationSubscribe);
    InstallCallCounters();
    baseline_ = Counters();
    SetUiNotifySender(RecordNotify);
    heartbeat_ = StartHeartbeat();
    threads_.Add(heartbeat_, "HeartbeatWriter");
    threads_.Start();
    return true;
}

// The phone taken up: connected, its worker running, the heartbeat written.
bool Cell::Settle() const {
    return WaitUntil([&] {
        return syncState.connectionState == Connected && syncState.deviceWorkerThread != 0 && syncState.protocolOk &&
               HeartbeatCount().has_value();
    }, 10s);
}

PhoneSimCounters Cell::Counters() const {
    PhoneSimCounters counters{};
    auto get = reinterpret_cast<void (*)(PhoneSimCounters*)>(platform::FindExport(MobileDevice.module, "PhoneSimGetCounters"));
    if (get) get(&counters);
    return counters;
}

std::optional<long> Cell::HeartbeatCount() const {
    std::optional<std::string> beat = ReadFile(Sync() / "HeartBeat");
    constexpr std::string_view prefix = "Version:1.1.1,HeartBeat:";
    if (!beat || beat->size() != 64 || beat->compare(0, prefix.size(), prefix) != 0) return std::nullopt;
    size_t end = beat->find('\0');
    if (end == std::string::npos || end == prefix.size()) return std::nullopt;
    if (beat->find_first_not_of('\0', end) != std::string::npos) return std::nullopt;
    std::string digits = beat->substr(prefix.size(), end - prefix.size());
    if (digits.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    return std::stol(digits);
}

bool Cell::TrackPresent(int64_t pid) const {
    std::optional<std::string> text = ReadFile(PhoneDir() / "library.json");
    nlohmann::json library = nlohmann::json::parse(text.value_or(""), nullptr, false);
    if (!library.is_object() || !library["tracks"].is_array()) return false;
    for (const auto& track : library["tracks"]) {
        if (track.value("pid", int64_t{0}) == pid) return true;
    }
    return false;
}

// A track with the queued title, at the copied file's path, registered and not broken, and the
// file itself whole on the media partition.
bool Cell::SongRegistered() const {
    std::optional<std::string> text = ReadFile(PhoneDir() / "library.json");
    nlohmann::json library = nlohmann::json::parse(text.value_or(""), nullptr, false);
    if (!library.is_object() || !library["tracks"].is_array()) return false;
    bool registered = false;
    for (const auto& track : library["tracks"]) {
        if (track.value("title", "") == TITLE && track.value("path", "") == std::string("/iTunes_Control/Ringtones/") + SONG &&
            !track.value("broken", true) && !track.value("pending", false)) {
            registered = true;
        }
    }
    return registered && ReadFile(RingtoneDir() / SONG) == tone_;
}

bool Cell::CallLogged(const char* name) const {
    std::ifstream in(PhoneDir() / "calls.log");
    for (std::string line; std::getline(in, line);) {
        if (line.substr(0, line.find('\t')) == name) return true;
    }
    return false;
}

// Whether the work of the scenario's job is on the phone.
bool Cell::JobDone() const {
    switch (scenario_) {
    case SC_ADD:
    case SC_QUIT: return SongRegistered();
    case SC_REMOVE: return !TrackPresent(OLD_PID) && !fs::exists(RingtoneDir() / "old.m4r");
    case SC_CATALOGUE: return ReadFile(MediaCatalogue()) == NEW_CATALOGUE;
    default: return false;
    }
}

// The report files as the phone is: the catalogue's bytes and the sorted ".m4r" names.
bool Cell::ReportRight() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(RingtoneDir())) {
        std::string name = entry.path().filename().string();
        if (name.find(".m4r") != std::string::npos) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    std::string list;
    for (const std::string& name : names) list += (list.empty() ? "" : "*") + name;
    return ReadFile(Sync() / "current" / "Ringtones.plist") == ReadFile(MediaCatalogue()) &&
           ReadFile(Sync() / "current" / "m4rlist") == list;
}

bool Cell::RequestServed() const {
    switch (scenario_) {
    case SC_ATTACH:
    case SC_REPORT: return ReportRequestGone();
    case SC_HEARTBEAT: {
        std::optional<long> count = HeartbeatCount();
        return count && count != lastBeat_;
    }
    default: return UpdateRequestGone();
    }
}

// What may be seen at any moment: a removed request means its work is done, and every queued
// file stays as the app wrote it until its job is done.
void Cell::CheckState(bool final) {
    if (scenario_ == SC_ATTACH || scenario_ == SC_REPORT) {
        if (ReportRequestGone() && !ReportRight()) Fail(CHECK_FALSE_SUCCESS, "GetCurrentRing removed, report files wrong");
    }
    if (scenario_ == SC_PROTOCOL && ReportRequestGone()) Fail(CHECK_FALSE_SUCCESS, "newer app accepted: GetCurrentRing served");
    if (!IsJob()) return;
    bool done = JobDone();
    if (UpdateRequestGone() && !done) Fail(CHECK_FALSE_SUCCESS, "UpdateRing removed, job not done");
    if (!done) {
        for (const auto& [path, bytes] : queued_) {
            if (ReadFile(path) != bytes) Fail(CHECK_LOST, "queued " + path.filename().string() + " lost or changed");
        }
    }
    if (!TrackPresent(KEEP_PID) || !fs::exists(RingtoneDir() / "keep.m4r")) Fail(CHECK_LOST, "unrequested track or file deleted");
    // Once no job runs, the phone's catalogue is its own or the app's, never anything between.
    if (final && scenario_ == SC_CATALOGUE && ReadFile(MediaCatalogue()) != ORIGINAL_CATALOGUE && !done) {
        Fail(CHECK_LOST, "the phone's catalogue was overwritten but not replaced");
    }
}

void Cell::RunScenario() {
    constexpr auto window = 2500ms;
    switch (scenario_) {
    case SC_ATTACH:
        WaitUntil([&] { return ReportRequestGone(); }, window);
        break;
    case SC_PROTOCOL:
        WaitUntil([] { return !syncState.firstAttach && syncState.deviceWorkerThread != 0; }, window);
        platform::SleepMs(700);  // a few worker passes
        break;
    case SC_REPORT:
        InstallFault();
        WriteFile(Sync() / "GetCurrentRing", "");
        WaitUntil([&] { return ReportRequestGone(); }, window);
        break;
    case SC_ADD:
    case SC_REMOVE:
    case SC_CATALOGUE: {
        const Narrowed* narrowed = NarrowedRule(entry_);
        bool late = narrowed && narrowed->late;
        if (!late) InstallFault();
        WriteFile(Sync() / "UpdateRing", "");
        if (late) {
            if (!WaitUntil([&] { return CallLogged("ATHostConnectionCreateWithLibrary"); }, 10s)) {
                Fail(CHECK_SETUP, "the job's conversation did not start");
                return;
            }
            InstallFault();
        }
        WaitUntil([&] { return UpdateRequestGone(); }, window);
        break;
    }
    case SC_HEARTBEAT:
        lastBeat_ = HeartbeatCount();
        InstallFault();
        platform::SleepMs(1500);
        lastBeat_ = HeartbeatCount();
        break;
    case SC_QUIT:
        WriteFile(Sync() / "UpdateRing", "");
        if (!WaitUntil([&] { return CallLogged("ATHostConnectionSendSyncRequest"); }, 10s)) {
            Fail(CHECK_SETUP, "the job's conversation did not start");
            return;
        }
        InstallFault();
        QuitAndWait();
        break;
    }
    CheckState(false);
}

// The fault is gone: a request that stayed is served again, if need be after the phone is
// plugged in again (the program takes a phone up only at its attach).
void Cell::Recover() {
    if (scenario_ == SC_PROTOCOL || scenario_ == SC_QUIT) return;  // decided once per run / program ended
    if (WaitUntil([&] { return RequestServed(); }, 3s)) return;
    // Unplugged until the threads of the earlier attach have ended while the phone is gone: a
    // teardown that ran only after the phone came back would reach the phone again (a phone is
    // not plugged in again within a tenth of a second). The waits end as soon as the program is
    // there; they are long only so that a loaded machine is not mistaken for a hang.
    Detach();
    bool ended = WaitUntil([] { return syncState.device.load() == nullptr; }, 10s) &&
                 WaitUntil([] { return !syncState.syncBusy; }, 10s) &&
                 WaitUntil([&] { return threads_.RunningPhoneThreads().empty(); }, 10s);
    if (!ended) {
        Fail(CHECK_HANG, "the phone's threads did not end after the detach");
        return;
    }
    platform::SleepMs(300);
    Attach();
    if (!WaitUntil([&] { return RequestServed(); }, 20s)) Fail(CHECK_STUCK, "not served after the fault was removed");
}

// Shutdown as the window does it; every thread must end within its pass.
void Cell::QuitAndWait() {
    if (quitDone_) return;
    quitDone_ = true;
    PostQuitToAllThreads({heartbeat_});
    threads_.Stop();
    if (!WaitUntil([&] { return threads_.Running().empty(); }, 5s)) {
        std::string names;
        for (const std::string& role : threads_.Running()) names += " " + role;
        Fail(CHECK_HANG, "still running 5 s after the quit:" + names);
        hung_ = true;
    }
}

void Cell::CheckLeaks() {
    auto same = [&] {
        PhoneSimCounters now = Counters();
        return now.cf_objects == baseline_.cf_objects && now.afc_connections == baseline_.afc_connections &&
               now.afc_files == baseline_.afc_files && now.afc_dirs == baseline_.afc_dirs && now.afc_infos == baseline_.afc_infos;
    };
    if (WaitUntil(same, 3s)) return;
    PhoneSimCounters now = Counters();
    std::ostringstream why;
    why << "left open: cf " << now.cf_objects - baseline_.cf_objects << ", afc conn " << now.afc_connections - baseline_.afc_connections
        << ", files " << now.afc_files - baseline_.afc_files << ", dirs " << now.afc_dirs - baseline_.afc_dirs << ", infos "
        << now.afc_infos - baseline_.afc_infos;
    Fail(CHECK_LEAK, why.str());
}

CellOutcome Cell::Run() {
    platform::SetEnv(u"PHONESIM_ROOT", PathText(root_));
    platform::SetEnv(u"CHIMEBOX_MUTEX_DIR", PathText(root_ / "mutex"));
    MakePhone();
    switch (scenario_) {
    case SC_ATTACH: WriteFile(Sync() / "GetCurrentRing", ""); break;
    case SC_PROTOCOL:
        WriteFile(Sync() / "protocol" / "protocol_1.2", "");
        WriteFile(Sync() / "GetCurrentRing", "");
        break;
    case SC_ADD:
        Queue(std::string("add/") + SONG, tone_);
        Queue(std::string("add/") + TITLE, "");
        break;
    case SC_QUIT:
        WriteFile(PhoneDir() / "ath-script", "SyncAllowed\n");
        Queue(std::string("add/") + SONG, tone_);
        Queue(std::string("add/") + TITLE, "");
        break;
    case SC_REMOVE:
        Queue("rm/" + std::to_string(OLD_PID) + ".pid", "");
        Queue("rm/old.m4r", "");
        break;
    case SC_CATALOGUE: Queue("add/Ringtones.plist", NEW_CATALOGUE); break;
    default: break;
    }

    if (StartsBeforeAttach()) InstallFault();
    if (!StartProgram()) {
        Fail(CHECK_SETUP, "the program could not start on the simulated support");
        return outcome_;
    }
    Attach();
    if (!StartsBeforeAttach() && !Settle()) {
        ClearFault();
        Fail(CHECK_SETUP, "the phone was not taken up");
        return outcome_;
    }
    RunScenario();
    // The fault ends between jobs where it can: a job that began with it and ended without it
    // would count a step that failed as done.
    WaitUntil([] { return !syncState.syncBusy; }, 6s);
    ClearFault();
    if (!(outcome_.failed & CHECK_SETUP)) Recover();
    QuitAndWait();
    CheckState(true);
    if (!hung_) CheckLeaks();
    // The phone's call log goes to the cell's output, which the sweep keeps for failed cells.
    if (outcome_.failed) std::printf("%s", ReadFile(PhoneDir() / "calls.log").value_or("").c_str());
    return outcome_;
}

}  // namespace

CellOutcome RunCell(size_t scenario, size_t entry, const fs::path& root) {
    CellOutcome outcome = Cell(scenario, entry, root).Run();
    // The checks can fire twice (after the window and at the end); keep each reason once.
    std::vector<std::string> reasons;
    std::stringstream parts(outcome.detail);
    for (std::string part; std::getline(parts, part, ';');) {
        if (!part.empty() && part.front() == ' ') part.erase(0, 1);
        if (std::find(reasons.begin(), reasons.end(), part) == reasons.end()) reasons.push_back(part);
    }
    outcome.detail.clear();
    for (const std::string& reason : reasons) outcome.detail += (outcome.detail.empty() ? "" : "; ") + reason;
    return outcome;
}

}  // namespace sweep
