// Windows implementation of the OS layer: thin wrappers over Win32, which defines the meanings.
#include "platform/platform.h"

#include <windows.h>
#include <process.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <climits>
#include <mutex>

namespace platform {
namespace {

// char16_t and wchar_t are both UTF-16 units here; copying gives the NUL-terminated string that
// the API wants (an embedded NUL ends the name, as it does for any Win32 string).
std::wstring Wide(std::u16string_view s) { return std::wstring(s.begin(), s.end()); }

std::u16string FromWide(const wchar_t* s, size_t length) { return std::u16string(s, s + length); }

struct StartContext {
    ThreadEntry entry;
    void* arg;
    HANDLE queueReady;
};

unsigned __stdcall ThreadTrampoline(void* raw) {
    auto* context = static_cast<StartContext*>(raw);
    const ThreadEntry entry = context->entry;
    void* arg = context->arg;
    // Any user32 call creates the thread's message queue; PostThreadMessageW fails before that.
    MSG msg;
    PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    SetEvent(context->queueReady);  // `context` belongs to StartThread from here on
    return entry(arg);
}

// Threads we did not start get their queue on first use of their identity.
thread_local bool tlsQueueMade = false;

void EnsureQueue() {
    if (tlsQueueMade) return;
    MSG msg;
    PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    tlsQueueMade = true;
}

std::mutex registryLock;
RegistryReader registryReader;  // empty = the real registry

std::optional<std::u16string> ReadRealRegistry(std::u16string_view key, std::u16string_view value) {
    constexpr REGSAM kReadWow64_32 = 0x20219;  // KEY_READ | KEY_WOW64_32KEY
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide(key).c_str(), 0, kReadWow64_32, &handle) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    // 260 units are offered (520 bytes); the extra unit guarantees a terminator even when the
    // stored value fills the whole buffer without one.
    wchar_t buffer[261] = {};
    DWORD size = 520;
    const LONG rc = RegQueryValueExW(handle, Wide(value).c_str(), nullptr, nullptr,
                                     reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(handle);
    if (rc != ERROR_SUCCESS) return std::nullopt;
    size_t length = 0;
    const size_t units = size / sizeof(wchar_t) < 260 ? size / sizeof(wchar_t) : 260;
    while (length < units && buffer[length] != L'\0') ++length;
    return FromWide(buffer, length);
}

}  // namespace

// ---- Threads ----

ThreadId StartThread(ThreadEntry entry, void* arg) {
    if (entry == nullptr) return 0;
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (ready == nullptr) return 0;
    StartContext context{entry, arg, ready};
    unsigned id = 0;
    const uintptr_t thread = _beginthreadex(nullptr, 0, ThreadTrampoline, &context, 0, &id);
    if (thread == 0) {
        CloseHandle(ready);
        return 0;
    }
    WaitForSingleObject(ready, INFINITE);
    CloseHandle(ready);
    CloseHandle(reinterpret_cast<HANDLE>(thread));  // detached
    return id;
}

ThreadId CurrentThreadId() {
    EnsureQueue();
    return GetCurrentThreadId();
}

bool PostToThread(ThreadId thread, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    if (thread == 0) return false;
    return PostThreadMessageW(thread, message, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam)) != 0;
}

bool PeekThreadMessage(ThreadMessage* out) {
    MSG msg;
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
    if (out != nullptr) *out = ThreadMessage{msg.message, msg.wParam, msg.lParam};
    return true;
}

bool DrainThreadMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == MSG_THREAD_QUIT && msg.hwnd == nullptr) return true;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return false;
}

void SleepMs(uint32_t milliseconds) { Sleep(milliseconds); }

uint32_t SecondsSince1970() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    constexpr uint64_t kEpochTicks = 116444736000000000ull;  // 1601 -> 1970 in 100 ns units
    return static_cast<uint32_t>((ticks - kEpochTicks) / 10000000ull);
}

uint64_t MonotonicMs() { return GetTickCount64(); }

// ---- Named mutex ----

MutexHandle CreateNamedMutex(std::u16string_view name) {
    const std::wstring wide = Wide(name);
    return CreateMutexW(nullptr, FALSE, wide.empty() ? nullptr : wide.c_str());
}

MutexHandle OpenNamedMutex(std::u16string_view name) {
    const std::wstring wide = Wide(name);
    if (wide.c_str()[0] == L'\0') return nullptr;
    constexpr DWORD kMutexAllAccess = 0x1F0001;
    return OpenMutexW(kMutexAllAccess, FALSE, wide.c_str());
}

void WaitNamedMutex(MutexHandle mutex) {
    if (mutex != nullptr) WaitForSingleObject(mutex, INFINITE);  // abandoned also means owned
}

void ReleaseNamedMutex(MutexHandle mutex) {
    if (mutex != nullptr) ReleaseMutex(mutex);
}

void CloseNamedMutex(MutexHandle mutex) {
    if (mutex != nullptr) CloseHandle(mutex);
}

// ---- Registry ----

std::optional<std::u16string> ReadRegistryString(std::u16string_view key, std::u16string_view value) {
    RegistryReader reader;
    {
        std::lock_guard<std::mutex> guard(registryLock);
        reader = registryReader;
    }
    if (!reader) return ReadRealRegistry(key, value);
    return reader(key, value);
}

void SetRegistryReader(RegistryReader reader) {
    std::lock_guard<std::mutex> guard(registryLock);
    registryReader = std::move(reader);
}

// ---- Environment ----

std::optional<std::u16string> GetEnv(std::u16string_view name) {
    const std::wstring key = Wide(name);
    if (key.c_str()[0] == L'\0') return std::nullopt;
    std::wstring buffer(256, L'\0');
    for (;;) {
        SetLastError(ERROR_SUCCESS);
        const DWORD n = GetEnvironmentVariableW(key.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) {
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
            return std::u16string();
        }
        if (n < buffer.size()) return FromWide(buffer.data(), n);
        buffer.assign(n, L'\0');  // n includes the terminator when the buffer was too small
    }
}

void SetEnv(std::u16string_view name, std::u16string_view value) {
    const std::wstring key = Wide(name);
    if (key.c_str()[0] == L'\0') return;
    SetEnvironmentVariableW(key.c_str(), Wide(value).c_str());
}

void UnsetEnv(std::u16string_view name) {
    const std::wstring key = Wide(name);
    if (key.c_str()[0] == L'\0') return;
    SetEnvironmentVariableW(key.c_str(), nullptr);
}

// ---- Libraries ----

LibraryHandle LoadLibraryByName(const char* bareName) {
    if (bareName == nullptr || *bareName == '\0') return nullptr;
    return LoadLibraryW(Wide(Utf8ToUtf16(bareName)).c_str());
}

LibraryHandle LoadLibraryByPath(std::u16string_view fullPath) {
    const std::wstring path = Wide(fullPath);
    if (path.c_str()[0] == L'\0') return nullptr;
    return LoadLibraryW(path.c_str());
}

void* FindExport(LibraryHandle library, const char* name) {
    if (library == nullptr || name == nullptr) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

// ---- ANSI code page ----

std::u16string AnsiToUtf16(std::string_view ansi) {
    if (ansi.empty() || ansi.size() > static_cast<size_t>(INT_MAX)) return {};
    const int length = static_cast<int>(ansi.size());
    const int units = MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, nullptr, 0);
    if (units <= 0) return {};
    std::wstring out(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, out.data(), units);
    return FromWide(out.data(), out.size());
}

std::string Utf16ToAnsi(std::u16string_view utf16) {
    if (utf16.empty() || utf16.size() > static_cast<size_t>(INT_MAX)) return {};
    const std::wstring wide(utf16.begin(), utf16.end());
    const int length = static_cast<int>(wide.size());
    const int bytes = WideCharToMultiByte(CP_ACP, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return {};
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), length, out.data(), bytes, nullptr, nullptr);
    return out;
}

// ---- Processes and shell ----

std::vector<ProcessInfo> ListProcesses() {
    std::vector<ProcessInfo> result;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return result;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        const size_t capacity = sizeof entry.szExeFile / sizeof entry.szExeFile[0];
        size_t length = 0;
        while (length < capacity && entry.szExeFile[length] != L'\0') ++length;
        result.push_back(ProcessInfo{FromWide(entry.szExeFile, length), entry.th32ProcessID});
    }
    CloseHandle(snapshot);
    return result;
}

bool ShellOpen(std::u16string_view url) {
    const HINSTANCE rc = ShellExecuteW(nullptr, L"open", Wide(url).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(rc) > 32;
}

}  // namespace platform
