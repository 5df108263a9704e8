// Fault sweep: every Apple entry point the program calls is made to fail during each main
// scenario (attach, report, add, remove, catalogue replacement, heartbeat, protocol check, quit
// during a job), with the program's own start-up, worker, queue and AirTraffic code running
// against the simulated phone. Each cell runs in a child process of its own, so a crash or a
// hang is caught and counted; the table shows per cell which check failed.
//
// fault_sweep [--short] [--jobs N] [--scenario NAME] [--entry NAME] [--logs DIR]
//   --short     a subset that still breaks every entry point once, in a scenario that reaches it
//   --jobs N    cells run at the same time (default 2)
// Needs CHIMEBOX_APPLE_SUPPORT (the build's simulated Apple support root). Exit status 0 when
// every failed cell is one the program's documented behaviour explains (listed at the end).
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/reliability/sweep_cell.h"

namespace fs = std::filesystem;
using namespace sweep;

namespace {

constexpr int CELL_TIMEOUT_S = 90;

struct CellRun {
    size_t scenario;
    size_t entry;  // NO_ENTRY for the scenario's baseline
    CellOutcome outcome;
    bool ran = false;
};

// Failures that follow from the behaviour the program is built to have: a failed step that is
// not noticed, or a request given up by design. They are shown with a '*', listed with their
// reason and counted apart from the faults.
struct Documented {
    size_t scenario;
    const char* entries;  // entry names separated by blanks; nullptr: any cell, the baseline included
    uint32_t checks;
    const char* why;
};
const Documented DOCUMENTED[] = {
    {SC_QUIT, nullptr, CHECK_FALSE_SUCCESS,
     "the quit teardown of AthDriver and AthReader removes UpdateRing although the job did not finish"},
    {SC_ATTACH, "AMDeviceNotificationSubscribe", CHECK_STUCK,
     "the subscription's result is not examined and it is never made again: no phone is taken up in this run"},
    {SC_ATTACH, "AFCDirectoryOpen AFCDirectoryRead", CHECK_FALSE_SUCCESS,
     "a ringtone folder that cannot be listed counts as empty: the report goes out without m4rlist"},
    {SC_REPORT, "AFCDirectoryOpen AFCDirectoryRead", CHECK_FALSE_SUCCESS,
     "a ringtone folder that cannot be listed counts as empty: the report goes out without m4rlist"},
    {SC_ATTACH, "AFCFileRefRead", CHECK_FALSE_SUCCESS, "a catalogue that cannot be read counts as empty: the report goes out without it"},
    {SC_REPORT, "AFCFileRefRead", CHECK_FALSE_SUCCESS, "a catalogue that cannot be read counts as empty: the report goes out without it"},
    {SC_ATTACH, "AFCFileInfoOpen AFCKeyValueRead", CHECK_FALSE_SUCCESS,
     "a file whose size cannot be read counts as 0 bytes and only its first byte is read: the catalogue copy is one byte"},
    {SC_REPORT, "AFCFileInfoOpen AFCKeyValueRead", CHECK_FALSE_SUCCESS,
     "a file whose size cannot be read counts as 0 bytes and only its first byte is read: the catalogue copy is one byte"},
    {SC_ATTACH, "AFCFileRefWrite", CHECK_FALSE_SUCCESS, "a failed write of an opened file is not noticed: the request is removed"},
    {SC_REPORT, "AFCFileRefWrite", CHECK_FALSE_SUCCESS, "a failed write of an opened file is not noticed: the request is removed"},
    {SC_ADD, "AFCDirectoryOpen AFCDirectoryRead", CHECK_FALSE_SUCCESS,
     "a queue folder that cannot be listed is an empty queue: the job runs as an empty removal and ends normally"},
    {SC_REMOVE, "AFCDirectoryOpen AFCDirectoryRead", CHECK_FALSE_SUCCESS,
     "a queue folder that cannot be listed is an empty queue: the job runs as an empty removal and ends normally"},
    {SC_CATALOGUE, "AFCDirectoryOpen AFCDirectoryRead", CHECK_FALSE_SUCCESS,
     "a queue folder that cannot be listed is an empty queue: the job runs as an empty removal and ends normally"},
    {SC_ADD, "AFCFileRefRead AFCFileInfoOpen AFCKeyValueRead", CHECK_FALSE_SUCCESS,
     "an entry read as fewer than 10 bytes becomes the title: the tone is neither copied nor inserted"},
    {SC_CATALOGUE, "AFCFileRefRead AFCFileInfoOpen AFCKeyValueRead", CHECK_FALSE_SUCCESS,
     "an entry read as fewer than 10 bytes becomes the title: the catalogue is not copied"},
    {SC_ADD, "AFCDirectoryCreate", CHECK_FALSE_SUCCESS,
     "a Sync folder that cannot be created is not noticed: the operation document is not written and the job ends normally"},
    {SC_REMOVE, "AFCDirectoryCreate AFCFileRefWrite", CHECK_FALSE_SUCCESS,
     "an operation document that cannot be written is not noticed: the job ends normally"},
    {SC_ADD, "CFNumberCreate CFDictionaryCreateMutable CFArrayCreateMutable CFPropertyListCreateData CFDataGetBytePtr "
             "CFDataGetLength CFStringCreateWithCString",
     CHECK_FALSE_SUCCESS, "an operation document that cannot be made is not noticed: the conversation goes on and ends normally"},
    {SC_REMOVE, "CFNumberCreate CFDictionaryCreateMutable CFArrayCreateMutable CFPropertyListCreateData CFDataGetBytePtr CFDataGetLength",
     CHECK_FALSE_SUCCESS, "an operation document that cannot be made is not noticed: the conversation goes on and ends normally"},
    {SC_REMOVE, "AFCRemovePath", CHECK_FALSE_SUCCESS,
     "a failed removal of a queued file is ignored: when the fault ends before the job's clean-up, UpdateRing goes"},
    {SC_PROTOCOL, "AFCDirectoryOpen AFCDirectoryRead", CHECK_FALSE_SUCCESS,
     "a protocol folder that cannot be listed accepts the app for the whole run"},
};

bool Matches(const Documented& rule, const CellRun& cell) {
    if (rule.scenario != cell.scenario) return false;
    if (!rule.entries) return true;
    if (cell.entry == NO_ENTRY) return false;
    std::istringstream names(rule.entries);
    for (std::string name; names >> name;) {
        if (name == Entries()[cell.entry].name) return true;
    }
    return false;
}

uint32_t DocumentedChecks(const CellRun& cell) {
    uint32_t checks = 0;
    for (const Documented& rule : DOCUMENTED) {
        if (Matches(rule, cell)) checks |= rule.checks;
    }
    return checks;
}

const char* EntryName(size_t entry) { return entry == NO_ENTRY ? "(no fault)" : Entries()[entry].name; }

std::string CellText(const CellRun& cell) {
    if (!cell.ran) return "-";
    if (!cell.outcome.reached && !(cell.outcome.failed & (CHECK_CRASH | CHECK_HANG | CHECK_SETUP))) return "n/a";
    if (!cell.outcome.failed) return "ok";
    static const std::pair<uint32_t, const char*> names[] = {
        {CHECK_CRASH, "crash"}, {CHECK_HANG, "hang"},   {CHECK_LEAK, "leak"}, {CHECK_LOST, "lost"},
        {CHECK_FALSE_SUCCESS, "false-ok"}, {CHECK_STUCK, "stuck"}, {CHECK_SETUP, "setup"}};
    std::string text;
    for (auto [bit, name] : names) {
        if (cell.outcome.failed & bit) text += (text.empty() ? "" : "+") + std::string(name);
    }
    if ((cell.outcome.failed & ~DocumentedChecks(cell)) == 0) text += "*";
    return text;
}

// ---- Running cells in child processes ----

struct Child {
    pid_t pid = -1;
    int fd = -1;
    size_t index = 0;
    std::chrono::steady_clock::time_point started;
    std::string output;
    fs::path root;
    fs::path log;
};

std::string Serialise(const CellOutcome& outcome) {
    std::string detail = outcome.detail;
    for (char& c : detail) {
        if (c == '\n') c = ' ';
    }
    return std::to_string(outcome.reached) + " " + std::to_string(outcome.failed) + " " +
           (outcome.reachedEntries.empty() ? "-" : outcome.reachedEntries) + " " + detail + "\n";
}

CellOutcome Parse(const std::string& text) {
    CellOutcome outcome;
    std::istringstream in(text);
    int reached = 0;
    in >> reached >> outcome.failed >> outcome.reachedEntries;
    if (outcome.reachedEntries == "-") outcome.reachedEntries.clear();
    outcome.reached = reached != 0;
    std::getline(in, outcome.detail);
    if (!outcome.detail.empty() && outcome.detail.front() == ' ') outcome.detail.erase(0, 1);
    return outcome;
}

Child Launch(const CellRun& cell, size_t index, const fs::path& work) {
    Child child;
    child.index = index;
    child.root = work / ("cell-" + std::to_string(index));
    child.log = work / ("cell-" + std::to_string(index) + ".log");
    fs::create_directories(child.root);
    int fds[2];
    if (pipe(fds) != 0) return child;
    std::fflush(stdout);
    std::fflush(stderr);
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        FILE* log = std::fopen(child.log.c_str(), "w");
        if (log) {
            dup2(fileno(log), STDOUT_FILENO);
            dup2(fileno(log), STDERR_FILENO);
        }
        std::string line = Serialise(RunCell(cell.scenario, cell.entry, child.root));
        std::fflush(stdout);
        std::fflush(stderr);
        ssize_t ignored = write(fds[1], line.data(), line.size());
        (void)ignored;
        std::error_code error;
        fs::remove_all(child.root, error);
        _exit(0);
    }
    close(fds[1]);
    child.pid = pid;
    child.fd = fds[0];
    child.started = std::chrono::steady_clock::now();
    return child;
}

// Collects the child's result; a death without a result is a crash, a child past its time a hang.
void Reap(Child& child, CellRun& cell, bool timedOut, const fs::path& keepLogs) {
    if (timedOut) kill(child.pid, SIGKILL);
    int status = 0;
    waitpid(child.pid, &status, 0);
    close(child.fd);
    cell.ran = true;
    if (timedOut) {
        cell.outcome = {};
        cell.outcome.reached = true;
        cell.outcome.failed = CHECK_HANG;
        cell.outcome.detail = "cell did not finish within " + std::to_string(CELL_TIMEOUT_S) + " s";
    } else if (child.output.empty() || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        cell.outcome = {};
        cell.outcome.reached = true;
        cell.outcome.failed = CHECK_CRASH;
        cell.outcome.detail = WIFSIGNALED(status) ? "killed by signal " + std::to_string(WTERMSIG(status))
                                                  : "exited " + std::to_string(WEXITSTATUS(status)) + " without a result";
    } else {
        cell.outcome = Parse(child.output);
    }
    std::error_code error;
    fs::remove_all(child.root, error);
    if (cell.outcome.failed && !keepLogs.empty()) {
        fs::create_directories(keepLogs, error);
        fs::copy_file(child.log, keepLogs / (std::string(ScenarioName(cell.scenario)) + "-" + EntryName(cell.entry) + ".log"),
                      fs::copy_options::overwrite_existing, error);
    }
    fs::remove(child.log, error);
}

void RunAll(std::vector<CellRun>& cells, int jobs, const fs::path& keepLogs) {
    fs::path work = fs::temp_directory_path() / ("chimebox-sweep-" + std::to_string(getpid()));
    fs::create_directories(work);
    std::vector<Child> running;
    size_t next = 0;
    size_t done = 0;
    while (done < cells.size()) {
        while (static_cast<int>(running.size()) < jobs && next < cells.size()) {
            Child child = Launch(cells[next], next, work);
            ++next;
            if (child.pid < 0) {
                cells[child.index].ran = true;
                cells[child.index].outcome.failed = CHECK_SETUP;
                cells[child.index].outcome.detail = "could not start the cell's process";
                ++done;
                continue;
            }
            running.push_back(std::move(child));
        }
        std::vector<pollfd> fds;
        for (const Child& child : running) fds.push_back({child.fd, POLLIN, 0});
        poll(fds.data(), fds.size(), 200);
        for (size_t i = 0; i < running.size();) {
            Child& child = running[i];
            bool finished = false;
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
                char buffer[4096];
                ssize_t n = read(child.fd, buffer, sizeof buffer);
                if (n > 0) child.output.append(buffer, static_cast<size_t>(n));
                else finished = true;
            }
            bool timedOut = !finished && std::chrono::steady_clock::now() - child.started > std::chrono::seconds(CELL_TIMEOUT_S);
            if (finished || timedOut) {
                Reap(child, cells[child.index], timedOut, keepLogs);
                CellRun& cell = cells[child.index];
                std::fprintf(stderr, "[%zu/%zu] %-10s %-42s %s%s%s\n", ++done, cells.size(), ScenarioName(cell.scenario),
                             EntryName(cell.entry), CellText(cell).c_str(), cell.outcome.detail.empty() ? "" : "  ",
                             cell.outcome.detail.c_str());
                running.erase(running.begin() + static_cast<std::ptrdiff_t>(i));
                fds.erase(fds.begin() + static_cast<std::ptrdiff_t>(i));
                continue;
            }
            ++i;
        }
    }
    std::error_code error;
    fs::remove_all(work, error);
}

// ---- Choosing the cells ----

struct Options {
    bool shortForm = false;
    int jobs = 2;
    std::string scenario;
    std::string entry;
    fs::path logs;
};

bool Wanted(const Options& options, size_t scenario, size_t entry) {
    if (!options.scenario.empty() && options.scenario != ScenarioName(scenario)) return false;
    if (!options.entry.empty() && entry != NO_ENTRY && options.entry != Entries()[entry].name) return false;
    return true;
}

// Every failable entry point in every scenario, after each scenario's baseline.
std::vector<CellRun> FullCells(const Options& options) {
    std::vector<CellRun> cells;
    for (size_t s = 0; s < SCENARIO_COUNT; ++s) {
        if (Wanted(options, s, NO_ENTRY)) cells.push_back({s, NO_ENTRY, {}});
        for (size_t e = 0; e < ENTRY_COUNT; ++e) {
            if (Entries()[e].hasFault && Wanted(options, s, e)) cells.push_back({s, e, {}});
        }
    }
    return cells;
}

// Each failable entry point once, in a scenario whose baseline reached it; the scenario tried
// first moves on with the entry so that every scenario gets its share.
std::vector<CellRun> ShortCells(const std::vector<CellRun>& baselines, std::vector<size_t>& unreached) {
    std::vector<CellRun> cells;
    for (size_t e = 0; e < ENTRY_COUNT; ++e) {
        if (!Entries()[e].hasFault) continue;
        bool placed = false;
        for (size_t k = 0; k < SCENARIO_COUNT && !placed; ++k) {
            size_t s = (e + k) % SCENARIO_COUNT;
            for (const CellRun& base : baselines) {
                if (base.scenario == s && base.outcome.reachedEntries.size() == ENTRY_COUNT && base.outcome.reachedEntries[e] == '1') {
                    cells.push_back({s, e, {}});
                    placed = true;
                    break;
                }
            }
        }
        if (!placed) unreached.push_back(e);
    }
    return cells;
}

// ---- The table ----

void PrintTable(const std::vector<CellRun>& cells) {
    std::vector<std::vector<std::string>> grid(ENTRY_COUNT + 1, std::vector<std::string>(SCENARIO_COUNT, "-"));
    for (const CellRun& cell : cells) grid[cell.entry][cell.scenario] = CellText(cell);
    for (size_t e = 0; e < ENTRY_COUNT; ++e) {
        if (!Entries()[e].hasFault) std::fill(grid[e].begin(), grid[e].end(), "no fault");
    }
    std::printf("%-42s", "entry point \\ scenario");
    for (size_t s = 0; s < SCENARIO_COUNT; ++s) std::printf(" %-15s", ScenarioName(s));
    std::printf("\n");
    auto row = [&](size_t e) {
        std::printf("%-42s", EntryName(e));
        for (size_t s = 0; s < SCENARIO_COUNT; ++s) std::printf(" %-15s", grid[e][s].c_str());
        std::printf("\n");
    };
    row(NO_ENTRY);
    for (size_t e = 0; e < ENTRY_COUNT; ++e) row(e);
}

// Prints the details and the totals; true when every fault is a documented one.
bool PrintSummary(const std::vector<CellRun>& cells, const std::vector<size_t>& unreached) {
    int faults = 0, crashes = 0, hangs = 0, leaks = 0, lost = 0, falseSuccess = 0, documented = 0, unexplained = 0;
    std::printf("\nFailed cells (* = follows from the program's documented behaviour):\n");
    for (const CellRun& cell : cells) {
        const CellOutcome& o = cell.outcome;
        bool counted = o.reached || (o.failed & (CHECK_CRASH | CHECK_HANG | CHECK_SETUP));
        if (!cell.ran || !counted || !o.failed) continue;
        ++faults;
        std::printf("  %-10s %-42s %s  %s\n", ScenarioName(cell.scenario), EntryName(cell.entry), CellText(cell).c_str(), o.detail.c_str());
        if ((o.failed & ~DocumentedChecks(cell)) == 0) {
            ++documented;
            continue;
        }
        ++unexplained;
        uint32_t failed = o.failed & ~DocumentedChecks(cell);
        crashes += (failed & CHECK_CRASH) != 0;
        hangs += (failed & CHECK_HANG) != 0;
        leaks += (failed & CHECK_LEAK) != 0;
        lost += (failed & CHECK_LOST) != 0;
        falseSuccess += (failed & CHECK_FALSE_SUCCESS) != 0;
    }
    std::printf("Documented behaviour behind the cells marked *:\n");
    for (const Documented& rule : DOCUMENTED) {
        std::printf("  * %s %s: %s\n", ScenarioName(rule.scenario), rule.entries ? rule.entries : "(every cell)", rule.why);
    }
    for (size_t e : unreached) {
        std::printf("  not reached in any scenario: %s\n", Entries()[e].name);
        ++unexplained;
    }
    std::printf("skipped (the simulated phone has no failure for them):");
    for (const Entry& entry : Entries()) {
        if (!entry.hasFault) std::printf(" %s", entry.name);
    }
    // The counts below leave out the cells marked *; they are counted on the line above them.
    std::printf("\nfailed cells %d: as designed %d, unexplained %d\n", faults, documented, unexplained);
    std::printf("faults %d, crashes %d, hangs %d, leaks %d, lost %d, false-success %d\n", unexplained, crashes, hangs, leaks, lost, falseSuccess);
    return unexplained == 0;
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == "--short") options.shortForm = true;
        else if (arg == "--jobs" && hasValue) options.jobs = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--scenario" && hasValue) options.scenario = argv[++i];
        else if (arg == "--entry" && hasValue) options.entry = argv[++i];
        else if (arg == "--logs" && hasValue) options.logs = argv[++i];
        else return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: fault_sweep [--short] [--jobs N] [--scenario NAME] [--entry NAME] [--logs DIR]\n");
        return 2;
    }
    if (!std::getenv("CHIMEBOX_APPLE_SUPPORT")) {
        std::fprintf(stderr, "fault_sweep: CHIMEBOX_APPLE_SUPPORT is not set\n");
        return 2;
    }
    std::vector<CellRun> cells;
    std::vector<size_t> unreached;
    if (options.shortForm) {
        for (size_t s = 0; s < SCENARIO_COUNT; ++s) cells.push_back({s, NO_ENTRY, {}});
        RunAll(cells, options.jobs, options.logs);
        std::vector<CellRun> chosen = ShortCells(cells, unreached);
        RunAll(chosen, options.jobs, options.logs);
        cells.insert(cells.end(), chosen.begin(), chosen.end());
    } else {
        cells = FullCells(options);
        RunAll(cells, options.jobs, options.logs);
    }
    PrintTable(cells);
    return PrintSummary(cells, unreached) ? 0 : 1;
}
