// chimebox-churn: the program's background work (started as chimebox-headless starts it) against
// the simulated phone, under a seeded random storm of plugs, unplugs, re-attaches, a second phone,
// report and sync requests. It checks that the work never wedges: every checkpoint brings the
// phone back and waits, bounded, until the device is current, syncBusy has cleared and every
// request has been served; at the end one ordinary job must register its ringtone.
//
//   chimebox-churn [--seed S] [--events N] [--checkpoint-every K] [--timeout SECONDS]
//                  [--apple-support DIR] [--trace] [--plant-race]
//
// The supervisor re-runs this program as a child (--child) with TSAN_OPTIONS halt_on_error=0,
// reads the child's merged output, echoes it and counts "WARNING: ThreadSanitizer" reports, so a
// ThreadSanitizer build counts races and any other build counts 0. It kills a child that outlives
// the time-out. It prints `events N, races N, stuck N` and fails unless all of them are as wanted.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "device/apple_bindings.h"
#include "device/sync_state.h"
#include "device/ui_notify.h"
#include "platform/platform.h"
#include "startup/startup.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr char BUNDLE_ID[] = "com.zephra.tonesmithclient";
constexpr char RESULT_TAG[] = "churn-child: ";

struct Options {
    uint64_t seed = 0;
    bool seedGiven = false;
    long events = 1000;
    long checkpointEvery = 100;
    long timeoutSeconds = 600;
    std::string appleSupport;
    bool child = false;
    bool plantRace = false;  // a deliberate race first, to show that reports are counted
    bool trace = false;      // print every event
};

uint64_t NowMs() { return platform::MonotonicMs(); }

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::error_code ignored;
    fs::create_directories(path.parent_path(), ignored);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool Exists(const fs::path& path) {
    std::error_code ignored;
    return fs::exists(path, ignored);
}

// ---- The child: the churn itself ----

// A simulated phone on disk, played by the churn as phone and as companion app.
struct Phone {
    int index = 0;  // into UDIDS
    fs::path dir;
    bool attached = false;

    fs::path Sync() const { return dir / "apps" / BUNDLE_ID / "Documents" / "sync"; }
    fs::path LibraryJson() const { return dir / "library.json"; }
};

constexpr const char* UDIDS[2] = {"churn-phone-a", "churn-phone-b"};

// Device-event liveness: the churn records whether each phone is plugged in; a subscriber of our
// own, called by the library after OnDeviceNotification on the same thread, records what the
// events last said. The library looks at the files every 20 ms, so a difference that lasts while
// no event comes means the event thread is blocked. (A plug and unplug inside one look is never
// reported; the plugged-in states compare equal then, as they should.)
std::atomic<bool> plugged[2] = {false, false};
std::atomic<bool> announced[2] = {false, false};
std::atomic<uint64_t> lastDeliveryMs{0};

bool EventsCaughtUp() { return plugged[0] == announced[0] && plugged[1] == announced[1]; }

// The churn's own progress, for the watchdog and the failure messages.
std::atomic<uint64_t> mainProgressMs{0};
std::atomic<const char*> mainPhase{"start"};
std::atomic<long> eventsDone{0};
std::atomic<uint32_t> notifyCodes{0};

void APPLE_CALL RecordDelivery(const AMDeviceEvent* event) {
    lastDeliveryMs = NowMs();
    CFStringRef id = MobileDevice.AMDeviceCopyDeviceIdentifier(event->device);
    if (!id) return;
    char udid[64] = {};
    CoreFoundation.CFStringGetCString(id, udid, sizeof udid, kCFStringEncodingUTF8);
    CoreFoundation.CFRelease(id);
    for (int i = 0; i < 2; ++i) {
        if (std::strcmp(udid, UDIDS[i]) == 0) announced[i] = event->kind == AMDeviceEventAttached;
    }
}

void RecordNotify(uint32_t code) {
    if (code == NOTIFY_UPDATE_NEEDED) ++notifyCodes;
}

std::string Narrow(const std::u16string& text) { return platform::Utf16ToUtf8(text); }

std::string StateDump(const Phone& a) {
    std::ostringstream out;
    out << "connectionState " << syncState.connectionState.load() << ", syncBusy " << syncState.syncBusy.load()
        << ", device " << (syncState.device.load() ? "set" : "none") << ", athConnection "
        << (syncState.athConnection.load() ? "set" : "none") << ", lastAthMessage \""
        << Narrow(syncState.lastAthMessage.Get()) << "\", deviceId \"" << Narrow(syncState.deviceId.Get())
        << "\", UpdateRing " << (Exists(a.Sync() / "UpdateRing") ? "present" : "gone") << ", GetCurrentRing "
        << (Exists(a.Sync() / "GetCurrentRing") ? "present" : "gone") << ", plugged A " << plugged[0]
        << " B " << plugged[1] << ", announced A " << announced[0] << " B " << announced[1];
    return out.str();
}

[[noreturn]] void Die(const std::string& message) {
    std::fprintf(stderr, "churn: %s\n", message.c_str());
    std::fflush(stderr);
    std::_Exit(3);
}

// Fails the run with a message when the churn's own thread or the device-event thread stops
// making progress: every wait of the churn is bounded, so only a deadlock gets here.
void Watchdog(const Phone* a) {
    constexpr uint64_t MAIN_LIMIT_MS = 120000;
    constexpr uint64_t EVENT_LIMIT_MS = 30000;
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        uint64_t now = NowMs();
        if (now - mainProgressMs.load() > MAIN_LIMIT_MS) {
            Die(std::string("watchdog: the churn made no progress for 120 s in phase ") + mainPhase.load() +
                " at event " + std::to_string(eventsDone.load()) + " (deadlock); " + StateDump(*a));
        }
        if (!EventsCaughtUp() && now - lastDeliveryMs.load() > EVENT_LIMIT_MS) {
            Die("watchdog: the device-event thread delivered nothing for 30 s while a plug or unplug waited "
                "(deadlock in the event function?) at event " +
                std::to_string(eventsDone.load()) + "; " + StateDump(*a));
        }
    }
}

void Progress(const char* phase) {
    mainPhase = phase;
    mainProgressMs = NowMs();
}

bool WaitUntil(const std::function<bool()>& condition, uint64_t timeoutMs) {
    uint64_t end = NowMs() + timeoutMs;
    while (!condition()) {
        if (NowMs() > end) return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        mainProgressMs = NowMs();
    }
    return true;
}

class Churn {
public:
    Churn(const fs::path& root, uint64_t seed) : random_(seed) {
        a_.dir = root / "phones" / UDIDS[0];
        b_.index = 1;
        b_.dir = root / "phones" / UDIDS[1];
        for (Phone* phone : {&a_, &b_}) {
            fs::create_directories(phone->dir / "media");
            fs::create_directories(phone->Sync());
            WriteFile(phone->dir / "paired", "");
        }
        WriteFile(a_.dir / "name", "Churn iPhone A");
        WriteFile(b_.dir / "name", "Churn iPhone B");
    }

    const Phone& A() const { return a_; }

    // One random event; its name for the trace.
    const char* Step() {
        switch (Pick({14, 10, 10, 8, 6, 5, 14, 14, 8, 4})) {
            case 0: return Plug(a_) ? "plug A" : "re-attach A";
            case 1: return Unplug(a_) ? "unplug A" : "unplug A (was out)";
            case 2: Reattach(a_); return "re-attach A";
            case 3: return Plug(b_) ? "plug B" : "re-attach B";
            case 4: Unplug(b_); return "unplug B";
            case 5: Reattach(b_); return "re-attach B";
            case 6: RequestReport(Coin(5) ? b_ : a_); return "report request";
            case 7: RequestAdd(Coin(5) ? b_ : a_); return "add request";
            case 8: RequestRemove(a_); return "remove request";
            default: Pause(); return "pause";
        }
    }

    // Short random gap between events, now and then none at all.
    void Gap() {
        if (Coin(4)) return;
        platform::SleepMs(Range(1, 40));
    }

    // Both phones out: the job in flight is told to quit, so syncBusy clears, and nothing may
    // leave the state showing a phone.
    bool SettleUnplugged(uint64_t timeoutMs) {
        Unplug(a_);
        Unplug(b_);
        return WaitUntil([] {
            return EventsCaughtUp() && syncState.device.load() == nullptr &&
                   syncState.connectionState.load() == Waiting && !syncState.syncBusy.load();
        }, timeoutMs);
    }

    // A back (always a fresh event) with B out; then, bounded, A current and Connected, syncBusy
    // clear and every request of A served. B's detach is delivered before A is announced: events
    // of one pass come in udid order, and an attach of A while B is current would be ignored.
    bool Settle(uint64_t timeoutMs) {
        Unplug(b_);
        WaitUntil(EventsCaughtUp, timeoutMs);
        Reattach(a_);
        return WaitUntil([&] { return Settled(); }, timeoutMs);
    }

    // An ordinary job on a quiet phone: a ringtone from a fresh queue, registered in the library.
    bool FinalJob(uint64_t timeoutMs, std::string* failure) {
        fs::path sync = a_.Sync();
        ClearQueues(a_);
        std::string tone = "Final " + std::to_string(random_()) + ".m4r";
        WriteFile(sync / "add" / tone, std::string(2048, 'R'));
        WriteFile(sync / "add" / "Final Title", "");
        WriteFile(sync / "UpdateRing", "");
        bool done = WaitUntil(
            [&] { return !Exists(sync / "UpdateRing") && !syncState.syncBusy && Registered(tone); }, timeoutMs);
        if (!done) {
            *failure = "the final job did not complete: " + StateDump(a_) + "; library.json: " + ReadFile(a_.LibraryJson());
        }
        return done;
    }

    std::string Dump() const { return StateDump(a_); }

    // What the storm made the program do, from both phones' call logs: sessions, conversations
    // begun and ended, tracks registered.
    std::string Activity() const {
        long sessions = 0, conversations = 0, destroyed = 0, registered = 0, removals = 0;
        for (const Phone* phone : {&a_, &b_}) {
            std::ifstream log(phone->dir / "calls.log");
            for (std::string line; std::getline(log, line);) {
                std::string name = line.substr(0, line.find('\t'));
                sessions += name == "AMDeviceStartSession";
                conversations += name == "ATHostConnectionCreateWithLibrary";
                destroyed += name == "ATHostConnectionDestroy";
                removals += line == "AFCRemovePath\t/Documents/sync/UpdateRing";
                registered += line.rfind("phonesim\tregistered", 0) == 0;
            }
        }
        std::ostringstream out;
        out << "activity: " << requests_ << " sync requests, " << sessions << " sessions, " << conversations
            << " connection attempts, " << destroyed << " connection destroys, " << removals << " UpdateRing removals, "
            << registered << " tracks registered";
        return out.str();
    }

private:
    bool Settled() const {
        return syncState.device.load() != nullptr && syncState.connectionState.load() == Connected &&
               !syncState.syncBusy.load() && !Exists(a_.Sync() / "UpdateRing") &&
               !Exists(a_.Sync() / "GetCurrentRing");
    }

    // The track of the tone is in library.json, complete and not broken. The simulator writes the
    // file in one rename, so one read sees a whole document.
    bool Registered(const std::string& tone) const {
        std::string library = ReadFile(a_.LibraryJson());
        std::string path = "/iTunes_Control/Ringtones/" + tone;
        size_t at = library.find(path);
        if (at == std::string::npos) return false;
        size_t begin = library.rfind('{', at);
        size_t end = library.find('}', at);
        if (begin == std::string::npos || end == std::string::npos) return false;
        std::string track = library.substr(begin, end - begin);
        auto has = [&](const char* key, const char* value) {
            size_t k = track.find(std::string("\"") + key + "\"");
            if (k == std::string::npos) return false;
            size_t colon = track.find(':', k);
            size_t v = track.find_first_not_of(" ", colon + 1);
            return colon != std::string::npos && track.compare(v, std::strlen(value), value) == 0;
        };
        return has("broken", "false") && has("kind", "\"Ringtone\"") && (track.find("\"pending\"") == std::string::npos || has("pending", "false"));
    }

    size_t Pick(std::initializer_list<unsigned> weights) {
        unsigned total = 0;
        for (unsigned w : weights) total += w;
        unsigned r = static_cast<unsigned>(random_() % total);
        size_t index = 0;
        for (unsigned w : weights) {
            if (r < w) return index;
            r -= w;
            ++index;
        }
        return index;
    }
    bool Coin(unsigned oneIn) { return random_() % oneIn == 0; }
    uint32_t Range(uint32_t low, uint32_t high) { return low + static_cast<uint32_t>(random_() % (high - low + 1)); }


    // True when the phone was out; otherwise the write is a re-attach of the same phone.
    bool Plug(Phone& phone) {
        bool wasOut = !phone.attached;
        WriteFile(phone.dir / "attached", std::to_string(++token_));
        phone.attached = true;
        plugged[phone.index] = true;
        return wasOut;
    }
    bool Unplug(Phone& phone) {
        bool wasIn = phone.attached;
        std::error_code ignored;
        fs::remove(phone.dir / "attached", ignored);
        phone.attached = false;
        plugged[phone.index] = false;
        return wasIn;
    }
    // A new token in `attached`: the same phone reported attached again (or plugged in).
    void Reattach(Phone& phone) { Plug(phone); }

    void RequestReport(Phone& phone) { WriteFile(phone.Sync() / "GetCurrentRing", ""); }

    // The companion app starts a fresh queue once the previous job is done, and adds to the
    // running one otherwise.
    void StartQueue(Phone& phone) {
        if (!Exists(phone.Sync() / "UpdateRing")) ClearQueues(phone);
    }
    void ClearQueues(Phone& phone) {
        std::error_code ignored;
        fs::remove_all(phone.Sync() / "add", ignored);
        fs::remove_all(phone.Sync() / "rm", ignored);
    }

    void RequestAdd(Phone& phone) {
        StartQueue(phone);
        std::string name = "Tone " + std::to_string(++tones_) + ".m4r";
        size_t size = Coin(10) ? Range(64 * 1024, 512 * 1024) : Range(11, 4096);
        WriteFile(phone.Sync() / "add" / name, std::string(size, static_cast<char>('a' + tones_ % 26)));
        WriteFile(phone.Sync() / "add" / ("Title " + std::to_string(tones_)), "");
        WriteFile(phone.Sync() / "UpdateRing", "");
        ++requests_;
    }

    void RequestRemove(Phone& phone) {
        StartQueue(phone);
        if (tones_ > 0) WriteFile(phone.Sync() / "rm" / ("Tone " + std::to_string(Range(1, tones_)) + ".m4r"), "");
        WriteFile(phone.Sync() / "rm" / (std::to_string(10000000 + Range(0, 99999)) + ".pid"), "");
        WriteFile(phone.Sync() / "UpdateRing", "");
        ++requests_;
    }

    // A longer quiet spell, so that jobs run on and are cut off at every stage.
    void Pause() { platform::SleepMs(Range(100, 1200)); }

    std::mt19937_64 random_;
    Phone a_, b_;
    unsigned long token_ = 0;
    unsigned long tones_ = 0;
    unsigned long requests_ = 0;
};

std::string Utf8Path(const fs::path& path) {
    std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// Two threads write one plain variable with nothing ordering them: the one data race that a
// ThreadSanitizer build must report when --plant-race is given.
long plantedRace = 0;
void PlantRace() {
    auto write = [] {
        for (int i = 0; i < 1000; ++i) plantedRace = plantedRace + 1;
    };
    std::thread first(write), second(write);
    first.join();
    second.join();
}

int RunChild(const Options& options) {
    if (options.plantRace) PlantRace();
    // Bounds of the checkpoints and the final job: generous for a ThreadSanitizer build, in
    // which a job still takes only a second or two.
    constexpr uint64_t SETTLE_MS = 30000;
    constexpr uint64_t FINAL_MS = 30000;

    fs::path root = fs::temp_directory_path() / ("chimebox-churn-" + std::to_string(getpid()));
    std::error_code ignored;
    fs::remove_all(root, ignored);
    fs::create_directories(root / "phones");
    fs::create_directories(root / "mutex");
    platform::SetEnv(u"PHONESIM_ROOT", platform::Utf8ToUtf16(Utf8Path(root)));
    platform::SetEnv(u"CHIMEBOX_MUTEX_DIR", platform::Utf8ToUtf16(Utf8Path(root / "mutex")));

    Churn churn(root, options.seed);
    Progress("start-up");
    mainProgressMs = NowMs();
    lastDeliveryMs = NowMs();
    std::thread(Watchdog, &churn.A()).detach();

    std::u16string support = platform::Utf8ToUtf16(options.appleSupport);
    if (!support.empty() && support.back() != u'/') support += u'/';
    SetUiNotifySender(RecordNotify);
    if (!StartAppleSupport(support)) Die("the simulated Apple libraries did not bind from " + options.appleSupport);
    platform::ThreadId heartbeat = StartHeartbeat();
    void* subscription = nullptr;
    MobileDevice.AMDeviceNotificationSubscribe(RecordDelivery, 0, 0, nullptr, &subscription);

    long stuck = 0;
    auto checkpoint = [&](const char* where) {
        Progress("checkpoint");
        if (!churn.SettleUnplugged(SETTLE_MS)) {
            ++stuck;
            std::fprintf(stderr, "churn: STUCK with both phones out at %s after event %ld: %s\n", where, eventsDone.load(),
                         churn.Dump().c_str());
        }
        if (!churn.Settle(SETTLE_MS)) {
            ++stuck;
            std::fprintf(stderr, "churn: STUCK at %s after event %ld: %s\n", where, eventsDone.load(), churn.Dump().c_str());
        }
    };

    for (long i = 0; i < options.events; ++i) {
        Progress("churn");
        const char* what = churn.Step();
        if (options.trace) std::fprintf(stderr, "churn: event %ld: %s\n", i + 1, what);
        eventsDone = i + 1;
        churn.Gap();
        if (options.checkpointEvery > 0 && (i + 1) % options.checkpointEvery == 0 && i + 1 < options.events) {
            checkpoint("checkpoint");
        }
    }
    checkpoint("end of churn");
    Progress("final job");
    std::string failure;
    bool finalOk = churn.FinalJob(FINAL_MS, &failure);
    if (!finalOk) std::fprintf(stderr, "churn: %s\n", failure.c_str());
    if (notifyCodes.load() != 0) std::fprintf(stderr, "churn: the protocol check asked for an update\n");

    std::printf("%s\n", churn.Activity().c_str());
    std::printf("%sevents %ld stuck %ld final %s\n", RESULT_TAG, eventsDone.load(), stuck, finalOk ? "ok" : "failed");
    std::fflush(stdout);
    PostQuitToAllThreads({heartbeat});
    platform::SleepMs(300);
    fs::remove_all(root, ignored);
    std::fflush(stderr);
    // The phone's threads are detached and may still be ending: leave without running static
    // destructors under them, as the program itself does.
    std::_Exit(finalOk && notifyCodes.load() == 0 ? 0 : 1);
}

// ---- The supervisor ----

struct ChildOutcome {
    long races = 0;
    long events = -1;
    long stuck = -1;
    bool finalOk = false;
    bool timedOut = false;
    int status = 0;
};

std::string TsanOptions() {
    const char* existing = std::getenv("TSAN_OPTIONS");
    std::string options = existing ? existing : "";
    if (!options.empty()) options += ' ';
    // Keep running after a report so that every report is counted; the count decides.
    return options + "halt_on_error=0 exitcode=0";
}

void ParseLine(const std::string& line, ChildOutcome& outcome) {
    if (line.find("WARNING: ThreadSanitizer") != std::string::npos) ++outcome.races;
    size_t tag = line.find(RESULT_TAG);
    if (tag == std::string::npos) return;
    char final[16] = {};
    if (std::sscanf(line.c_str() + tag + std::strlen(RESULT_TAG), "events %ld stuck %ld final %15s", &outcome.events,
                    &outcome.stuck, final) == 3) {
        outcome.finalOk = std::strcmp(final, "ok") == 0;
    }
}

ChildOutcome RunSupervised(const char* self, const Options& options) {
    ChildOutcome outcome;
    int pipeFds[2];
    if (pipe(pipeFds) != 0) Die("pipe failed");

    std::vector<std::string> args = {self,
                                     "--child",
                                     "--seed",
                                     std::to_string(options.seed),
                                     "--events",
                                     std::to_string(options.events),
                                     "--checkpoint-every",
                                     std::to_string(options.checkpointEvery),
                                     "--apple-support",
                                     options.appleSupport};
    if (options.plantRace) args.push_back("--plant-race");
    if (options.trace) args.push_back("--trace");
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        if (std::strncmp(*e, "TSAN_OPTIONS=", 13) != 0) env.emplace_back(*e);
    }
    env.push_back("TSAN_OPTIONS=" + TsanOptions());
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    pid_t child = 0;
    int rc = posix_spawn(&child, self, &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (rc != 0) Die(std::string("cannot start the churn child: ") + std::strerror(rc));

    uint64_t deadline = NowMs() + static_cast<uint64_t>(options.timeoutSeconds) * 1000;
    std::string pending;
    char buffer[4096];
    for (;;) {
        uint64_t now = NowMs();
        if (now >= deadline) {
            outcome.timedOut = true;
            kill(child, SIGKILL);
            break;
        }
        pollfd fd{pipeFds[0], POLLIN, 0};
        int ready = poll(&fd, 1, static_cast<int>(std::min<uint64_t>(deadline - now, 1000)));
        if (ready <= 0) continue;
        ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
        if (n <= 0) break;
        std::fwrite(buffer, 1, static_cast<size_t>(n), stderr);
        pending.append(buffer, static_cast<size_t>(n));
        for (size_t newline; (newline = pending.find('\n')) != std::string::npos;) {
            ParseLine(pending.substr(0, newline), outcome);
            pending.erase(0, newline + 1);
        }
    }
    if (!pending.empty()) ParseLine(pending, outcome);
    close(pipeFds[0]);
    waitpid(child, &outcome.status, 0);
    return outcome;
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        const char* v = nullptr;
        if (arg == "--child") {
            options.child = true;
        } else if (arg == "--plant-race") {
            options.plantRace = true;
        } else if (arg == "--trace") {
            options.trace = true;
        } else if (arg == "--seed" && (v = value())) {
            options.seed = std::strtoull(v, nullptr, 10);
            options.seedGiven = true;
        } else if (arg == "--events" && (v = value())) {
            options.events = std::strtol(v, nullptr, 10);
        } else if (arg == "--checkpoint-every" && (v = value())) {
            options.checkpointEvery = std::strtol(v, nullptr, 10);
        } else if (arg == "--timeout" && (v = value())) {
            options.timeoutSeconds = std::strtol(v, nullptr, 10);
        } else if (arg == "--apple-support" && (v = value())) {
            options.appleSupport = v;
        } else {
            return false;
        }
    }
    if (options.appleSupport.empty()) {
        if (const char* env = std::getenv("CHIMEBOX_APPLE_SUPPORT")) options.appleSupport = env;
    }
    return options.events > 0 && options.timeoutSeconds > 0 && !options.appleSupport.empty();
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: chimebox-churn [--seed S] [--events N] [--checkpoint-every K] [--timeout SECONDS] "
                     "[--apple-support DIR] [--trace] [--plant-race]\n(DIR defaults to $CHIMEBOX_APPLE_SUPPORT)\n");
        return 2;
    }
    if (options.child) return RunChild(options);

    if (!options.seedGiven) options.seed = std::random_device{}() ^ (static_cast<uint64_t>(NowMs()) << 20);
    std::printf("churn seed %llu, %ld events (reproduce with --seed %llu --events %ld)\n",
                static_cast<unsigned long long>(options.seed), options.events,
                static_cast<unsigned long long>(options.seed), options.events);
    std::fflush(stdout);

    ChildOutcome outcome = RunSupervised(argv[0], options);
    bool exited = WIFEXITED(outcome.status);
    int code = exited ? WEXITSTATUS(outcome.status) : -1;
    std::printf("events %ld, races %ld, stuck %ld\n", outcome.events < 0 ? 0 : outcome.events, outcome.races,
                outcome.stuck < 0 ? 0 : outcome.stuck);

    bool ok = true;
    auto fail = [&](const std::string& why) {
        std::printf("FAILED (seed %llu): %s\n", static_cast<unsigned long long>(options.seed), why.c_str());
        ok = false;
    };
    if (outcome.timedOut) fail("the churn did not end within " + std::to_string(options.timeoutSeconds) + " s (deadlock?)");
    else if (!exited) fail("the churn child died of signal " + std::to_string(WTERMSIG(outcome.status)));
    else if (code != 0 && outcome.events < 0) fail("the churn child failed with exit code " + std::to_string(code));
    if (outcome.events >= 0 && outcome.events < options.events) fail("only " + std::to_string(outcome.events) + " events ran");
    if (outcome.events < 0 && !outcome.timedOut && exited && code == 0) fail("the churn child gave no result");
    if (outcome.races > 0) fail(std::to_string(outcome.races) + " ThreadSanitizer report(s)");
    if (outcome.stuck > 0) fail(std::to_string(outcome.stuck) + " checkpoint(s) found the work stuck");
    if (outcome.events >= 0 && !outcome.finalOk) fail("the final job did not register its ringtone");
    if (exited && code != 0 && outcome.events >= 0 && outcome.finalOk) fail("the churn child failed with exit code " + std::to_string(code));
    std::fflush(stdout);
    return ok ? 0 : 1;
}
