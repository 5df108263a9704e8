// Helpers shared by the simulated libraries: the on-disk phone layout, fault rules, calls.log,
// text conversion and host file access. Stateless, so each library may carry its own copy.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace phonesim {

namespace fs = std::filesystem;

// ---- Text ----

bool IsValidUtf8(std::string_view text);
// Invalid sequences become U+FFFD, so the result is always valid UTF-8.
std::string SanitizeUtf8(std::string_view text);
// Length in UTF-16 code units of valid UTF-8 text.
size_t Utf16Length(std::string_view utf8);
// Appends the UTF-8 form of a code point (surrogates and values past U+10FFFF become U+FFFD).
void AppendUtf8(std::string& out, uint32_t codePoint);
// Decodes one code point at text[pos] (pos < size); advances pos. Invalid input gives U+FFFD,
// consumes one byte and clears *ok.
uint32_t DecodeUtf8(std::string_view text, size_t& pos, bool* ok = nullptr);

// ---- Host paths ----

// A host path from a UTF-8 text. POSIX keeps the bytes; Windows decodes with replacement.
fs::path PathFromUtf8(std::string_view utf8);
// The UTF-8 (POSIX: native bytes) form of a host path.
std::string PathToUtf8(const fs::path& path);

// Environment variable as UTF-8 (Windows reads the process block, not a CRT copy).
std::optional<std::string> GetEnv(const char* name);

// ---- The simulated phone on disk ----

// $PHONESIM_ROOT, read anew on every call; none when unset or empty.
std::optional<fs::path> SimRoot();
// $PHONESIM_ROOT/phones/<udid>; none when there is no root or the udid is not a plain name.
std::optional<fs::path> PhoneDir(std::string_view udid);
// True when name is usable as one folder or file name below a phone (no separators, not . or ..).
bool IsPlainName(std::string_view name);
// The names of an absolute "/"-separated phone path, normalised lexically (empty parts and "."
// dropped, ".." takes one name back). none for a relative path, a path over 4096 bytes, a ".."
// that would leave the root (refused, not clamped) or a name that is not plain.
std::optional<std::vector<std::string_view>> SplitPhonePath(std::string_view path);

bool FileExists(const fs::path& path);
bool IsDirectory(const fs::path& path);
// Reads at most limit bytes; none when the file cannot be opened.
std::optional<std::string> ReadSmallFile(const fs::path& path, size_t limit = 1 << 20);
// Replaces a file with the given bytes (written beside it, then renamed over it).
bool WriteFileAtomically(const fs::path& path, std::string_view bytes);

// Fault rules: one a line, NAME or NAME<TAB>ARG. A NAME rule matches every call of that entry
// point; a NAME<TAB>ARG rule only calls whose argument equals ARG.
bool FaultInFile(const fs::path& faults, std::string_view name, std::optional<std::string_view> arg);
// $PHONESIM_ROOT/faults (calls without a phone).
bool RootFault(std::string_view name, std::optional<std::string_view> arg = std::nullopt);
// phones/<udid>/faults.
bool PhoneFault(std::string_view udid, std::string_view name,
                std::optional<std::string_view> arg = std::nullopt);

// Appends one tab-separated line to phones/<udid>/calls.log. Tabs, newlines and backslashes
// inside a field are escaped (\t \n \r \\) so that every call stays one line.
void LogCall(std::string_view udid, std::initializer_list<std::string_view> fields);

// ---- Platform parts (common_posix.cpp / common_win32.cpp) ----

// One write of the whole line in append mode, so concurrent writers never interleave.
bool AppendToFile(const fs::path& path, std::string_view bytes);
std::optional<std::string> GetEnvNative(const char* name);

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;
// fopen with a host path (wide on Windows).
FilePtr OpenFile(const fs::path& path, const char* mode);

// Runs body and turns any exception into the failure value: nothing may escape a C export.
template <class R, class F>
R Guarded(R failure, F&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return failure;
    }
}
template <class F>
void GuardedVoid(F&& body) noexcept {
    try {
        body();
    } catch (...) {
    }
}

}  // namespace phonesim
