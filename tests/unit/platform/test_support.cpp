#include "test_support.h"

#include "platform/platform.h"

#include <atomic>
#include <fstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace testsupport {

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    const auto base = std::filesystem::temp_directory_path();
    for (;;) {
        const std::string leaf = "chimebox-platform-" + std::to_string(OwnProcessId()) + "-" +
                                 std::to_string(counter++) + "-" + std::to_string(platform::MonotonicMs());
        path_ = base / leaf;
        if (std::filesystem::create_directory(path_)) return;
    }
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

bool WaitUntil(const std::function<bool()>& condition, uint32_t timeoutMs) {
    const uint64_t deadline = platform::MonotonicMs() + timeoutMs;
    for (;;) {
        if (condition()) return true;
        if (platform::MonotonicMs() >= deadline) return false;
        platform::SleepMs(1);
    }
}

std::string HexOfUtf16(std::u16string_view text) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (char16_t u : text) {
        for (int shift = 12; shift >= 0; shift -= 4) out.push_back(digits[(u >> shift) & 0xF]);
    }
    return out;
}

void TouchFile(const std::filesystem::path& path) { std::ofstream(path, std::ios::binary) << "x"; }

#ifdef _WIN32

std::filesystem::path OwnExecutable() {
    std::wstring buffer(32768, L'\0');
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    buffer.resize(n);
    return std::filesystem::path(buffer);
}

uint32_t OwnProcessId() { return GetCurrentProcessId(); }

struct ChildProcess::Impl {
    PROCESS_INFORMATION info{};
};

std::unique_ptr<ChildProcess> ChildProcess::Start(const std::filesystem::path& program,
                                                  const std::vector<std::string>& args) {
    // Arguments here are hex digits and paths: plain quoting is enough.
    std::wstring commandLine = L"\"" + program.wstring() + L"\"";
    for (const std::string& arg : args) commandLine += L" \"" + std::wstring(arg.begin(), arg.end()) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    auto impl = std::make_unique<Impl>();
    if (!CreateProcessW(program.wstring().c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &impl->info)) {
        return nullptr;
    }
    CloseHandle(impl->info.hThread);
    impl->info.hThread = nullptr;
    return std::unique_ptr<ChildProcess>(new ChildProcess(std::move(impl)));
}

bool ChildProcess::Wait(uint32_t timeoutMs, int* exitCode) {
    if (impl_->info.hProcess == nullptr) return false;
    if (WaitForSingleObject(impl_->info.hProcess, timeoutMs) != WAIT_OBJECT_0) return false;
    DWORD code = 0;
    GetExitCodeProcess(impl_->info.hProcess, &code);
    *exitCode = static_cast<int>(code);
    CloseHandle(impl_->info.hProcess);
    impl_->info.hProcess = nullptr;
    return true;
}

ChildProcess::~ChildProcess() {
    if (impl_->info.hProcess != nullptr) {
        TerminateProcess(impl_->info.hProcess, 99);
        WaitForSingleObject(impl_->info.hProcess, 10000);
        CloseHandle(impl_->info.hProcess);
    }
}

#else

std::filesystem::path OwnExecutable() { return std::filesystem::read_symlink("/proc/self/exe"); }

uint32_t OwnProcessId() { return static_cast<uint32_t>(getpid()); }

struct ChildProcess::Impl {
    pid_t pid = -1;
};

std::unique_ptr<ChildProcess> ChildProcess::Start(const std::filesystem::path& program,
                                                  const std::vector<std::string>& args) {
    std::vector<std::string> strings;
    strings.push_back(program.string());
    strings.insert(strings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : strings) argv.push_back(s.data());
    argv.push_back(nullptr);
    auto impl = std::make_unique<Impl>();
    if (posix_spawn(&impl->pid, strings[0].c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
        return nullptr;
    }
    return std::unique_ptr<ChildProcess>(new ChildProcess(std::move(impl)));
}

bool ChildProcess::Wait(uint32_t timeoutMs, int* exitCode) {
    if (impl_->pid < 0) return false;
    int status = 0;
    const bool exited = WaitUntil([&] { return waitpid(impl_->pid, &status, WNOHANG) == impl_->pid; }, timeoutMs);
    if (!exited) return false;
    impl_->pid = -1;
    *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
}

ChildProcess::~ChildProcess() {
    if (impl_->pid >= 0) {
        kill(impl_->pid, SIGKILL);
        int status = 0;
        waitpid(impl_->pid, &status, 0);
    }
}

#endif

ChildProcess::ChildProcess(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

}  // namespace testsupport
