// Small OS helpers for the platform tests: temporary folders, the test's own executable and
// process, and starting a helper process.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

// A fresh folder under the system temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

std::filesystem::path OwnExecutable();
uint32_t OwnProcessId();

// Polls `condition` every millisecond until it holds or `timeoutMs` passes.
bool WaitUntil(const std::function<bool()>& condition, uint32_t timeoutMs);

// Hex of UTF-16 units (four digits each): passes any name through a command line unchanged.
std::string HexOfUtf16(std::u16string_view text);

void TouchFile(const std::filesystem::path& path);

// A started child process; killed and reaped on destruction if still running.
class ChildProcess {
public:
    static std::unique_ptr<ChildProcess> Start(const std::filesystem::path& program,
                                               const std::vector<std::string>& args);
    ~ChildProcess();
    // Waits for the exit; false on time-out. `exitCode` receives the exit status.
    bool Wait(uint32_t timeoutMs, int* exitCode);

    struct Impl;

private:
    explicit ChildProcess(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace testsupport
