// The thin OS layer: everything the core needs from the operating system, named by what callers
// need. Windows meanings are the reference; platform_win32.cpp and platform_posix.cpp implement it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// ---- Threads with a per-thread message queue ----

using ThreadId = uint32_t;  // 0 = none
using ThreadEntry = unsigned (*)(void* arg);

constexpr uint32_t MSG_USER_BASE = 1024;  // WM_USER
constexpr uint32_t MSG_THREAD_QUIT = MSG_USER_BASE + 101;

struct ThreadMessage {
    uint32_t message = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
};

// Starts a detached thread at normal priority with the default stack. The new thread's message
// queue exists before this returns, so a message posted right away is never lost. 0 on failure.
ThreadId StartThread(ThreadEntry entry, void* arg);
// Identity of the calling thread (a thread not started by StartThread also has one).
ThreadId CurrentThreadId();
// Posts to a thread's queue; posting to an ended or unknown thread does nothing and returns false.
bool PostToThread(ThreadId thread, uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0);
// Takes the next waiting message of the calling thread's queue without blocking.
bool PeekThreadMessage(ThreadMessage* out);
// Takes every waiting message; true as soon as MSG_THREAD_QUIT is taken (later ones stay queued).
bool DrainThreadMessages();

void SleepMs(uint32_t milliseconds);
// Whole seconds since 1970-01-01 UTC, low 32 bits.
uint32_t SecondsSince1970();
// Monotonic milliseconds, for measuring waits.
uint64_t MonotonicMs();

// ---- Named mutex (cross-process) ----
// Windows: CreateMutexW / OpenMutexW(0x1F0001, FALSE, name). POSIX: flock on a file named after the
// mutex in the runtime folder ($CHIMEBOX_MUTEX_DIR, else a per-user folder under /tmp). The POSIX
// mutex is not recursive: a thread holding it must not wait for it again.
using MutexHandle = void*;  // nullptr = none
MutexHandle CreateNamedMutex(std::u16string_view name);  // not initially owned
MutexHandle OpenNamedMutex(std::u16string_view name);    // nullptr when it does not exist
void WaitNamedMutex(MutexHandle mutex);                  // no time-out
void ReleaseNamedMutex(MutexHandle mutex);
void CloseNamedMutex(MutexHandle mutex);

// ---- Registry (HKLM, 32-bit view, string values) ----
// The reader is replaceable so tests can stand in for the registry; the default reads the real
// registry on Windows and finds nothing on POSIX. A value is read into 260 UTF-16 units (520 bytes).
using RegistryReader = std::function<std::optional<std::u16string>(std::u16string_view key, std::u16string_view value)>;
std::optional<std::u16string> ReadRegistryString(std::u16string_view key, std::u16string_view value);
void SetRegistryReader(RegistryReader reader);  // empty function restores the default

// ---- Environment ----
std::optional<std::u16string> GetEnv(std::u16string_view name);
void SetEnv(std::u16string_view name, std::u16string_view value);
void UnsetEnv(std::u16string_view name);

// ---- Libraries ----
using LibraryHandle = void*;
// By bare file name: Windows' search order; POSIX searches the folders of PATH split on ';'.
LibraryHandle LoadLibraryByName(const char* bareName);
LibraryHandle LoadLibraryByPath(std::u16string_view fullPath);
void* FindExport(LibraryHandle library, const char* name);

// ---- Text ----
std::u16string Utf8ToUtf16(std::string_view utf8);  // invalid sequences become U+FFFD
std::string Utf16ToUtf8(std::u16string_view utf16);  // lone surrogates become U+FFFD
// ANSI code page. POSIX has none: each byte maps to the code point of the same value and back,
// so a narrow name survives the round trip byte for byte.
std::u16string AnsiToUtf16(std::string_view ansi);
std::string Utf16ToAnsi(std::u16string_view utf16);

// ---- Processes and shell ----
struct ProcessInfo {
    std::u16string name;  // executable file name, e.g. "iTunes.exe"
    uint32_t id = 0;
};
std::vector<ProcessInfo> ListProcesses();
// The shell's "open" verb. POSIX: appends the URL to $CHIMEBOX_OPEN_LOG when set, else runs xdg-open.
bool ShellOpen(std::u16string_view url);

}  // namespace platform
