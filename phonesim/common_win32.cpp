// Windows parts of the shared helpers. Environment variables are read from the process block:
// every DLL has its own static C runtime, and the program sets them with SetEnvironmentVariableW.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string_view>
#include <vector>

#include "phonesim/common.h"

namespace phonesim {

bool AppendToFile(const fs::path& path, std::string_view bytes) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    // Append mode alone is not atomic under Wine: writers from other threads, libraries or
    // processes are serialised with a lock on one byte far past any real end, which readers of
    // the file never touch.
    OVERLAPPED lockAt{};
    lockAt.Offset = 0;
    lockAt.OffsetHigh = 0x7FFFFFFF;
    const BOOL locked = LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &lockAt);
    LARGE_INTEGER zero{};
    DWORD written = 0;
    const BOOL ok = SetFilePointerEx(h, zero, nullptr, FILE_END) &&
                    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    if (locked) UnlockFileEx(h, 0, 1, 0, &lockAt);
    CloseHandle(h);
    return ok && written == bytes.size();
}

std::optional<std::string> GetEnvNative(const char* name) {
    std::wstring wideName;
    for (const char* p = name; *p; ++p) wideName += static_cast<wchar_t>(static_cast<unsigned char>(*p));
    const DWORD needed = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
    if (needed == 0) return std::nullopt;
    std::vector<wchar_t> buffer(needed);
    const DWORD got = GetEnvironmentVariableW(wideName.c_str(), buffer.data(), needed);
    if (got == 0 || got >= needed) return std::nullopt;
    return PathToUtf8(fs::path(std::wstring(buffer.data(), got)));
}

FilePtr OpenFile(const fs::path& path, const char* mode) {
    // Files read on every call (faults, ath-script, name) are opened sharing delete and write,
    // so a test can replace or remove them at any moment, as on a POSIX disk.
    if (std::string_view(mode) == "rb") {
        HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return FilePtr();
        int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY);
        if (fd < 0) {
            CloseHandle(h);
            return FilePtr();
        }
        FILE* f = _fdopen(fd, "rb");
        if (!f) _close(fd);
        return FilePtr(f);
    }
    std::wstring wideMode;
    for (const char* p = mode; *p; ++p) wideMode += static_cast<wchar_t>(*p);
    return FilePtr(_wfopen(path.c_str(), wideMode.c_str()));
}

}  // namespace phonesim
