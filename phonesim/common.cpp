#include "phonesim/common.h"

#include <algorithm>
#include <system_error>

namespace phonesim {

// ---- Text ----

uint32_t DecodeUtf8(std::string_view s, size_t& pos, bool* ok) {
    if (ok) *ok = false;
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char b0 = byte(pos);
    if (b0 < 0x80) {
        ++pos;
        if (ok) *ok = true;
        return b0;
    }
    size_t extra = 0;
    uint32_t cp = 0, min = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        extra = 1, cp = b0 & 0x1F, min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        extra = 2, cp = b0 & 0x0F, min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        extra = 3, cp = b0 & 0x07, min = 0x10000;
    } else {
        ++pos;
        return 0xFFFD;
    }
    for (size_t i = 1; i <= extra; ++i) {
        if (pos + i >= s.size() || (byte(pos + i) & 0xC0) != 0x80) {
            ++pos;
            return 0xFFFD;
        }
        cp = (cp << 6) | (byte(pos + i) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++pos;
        return 0xFFFD;
    }
    pos += extra + 1;
    if (ok) *ok = true;
    return cp;
}

bool IsValidUtf8(std::string_view text) {
    for (size_t pos = 0; pos < text.size();) {
        bool ok = false;
        DecodeUtf8(text, pos, &ok);
        if (!ok) return false;
    }
    return true;
}

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string SanitizeUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t pos = 0; pos < text.size();) AppendUtf8(out, DecodeUtf8(text, pos));
    return out;
}

size_t Utf16Length(std::string_view utf8) {
    size_t units = 0;
    for (size_t pos = 0; pos < utf8.size();) units += DecodeUtf8(utf8, pos) >= 0x10000 ? 2 : 1;
    return units;
}

// ---- Host paths ----

fs::path PathFromUtf8(std::string_view utf8) {
#ifdef _WIN32
    std::wstring wide;
    for (size_t pos = 0; pos < utf8.size();) {
        const uint32_t cp = DecodeUtf8(utf8, pos);
        if (cp >= 0x10000) {
            wide += static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10));
            wide += static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            wide += static_cast<wchar_t>(cp);
        }
    }
    return fs::path(wide);
#else
    return fs::path(std::string(utf8));
#endif
}

std::string PathToUtf8(const fs::path& path) {
#ifdef _WIN32
    const std::wstring& w = path.native();
    std::string out;
    for (size_t i = 0; i < w.size(); ++i) {
        uint32_t cp = static_cast<uint16_t>(w[i]);
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < w.size()) {
            const uint32_t lo = static_cast<uint16_t>(w[i + 1]);
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                ++i;
            }
        }
        AppendUtf8(out, cp);
    }
    return out;
#else
    return path.native();
#endif
}

std::optional<std::string> GetEnv(const char* name) { return GetEnvNative(name); }

// ---- The simulated phone on disk ----

std::optional<fs::path> SimRoot() {
    auto root = GetEnv("PHONESIM_ROOT");
    if (!root || root->empty()) return std::nullopt;
    return PathFromUtf8(*root);
}

bool IsPlainName(std::string_view name) {
    if (name.empty() || name == "." || name == ".." || name.size() > 255) return false;
    for (char c : name) {
        if (c == '/' || c == '\\' || c == '\0') return false;
#ifdef _WIN32
        if (c == ':' || c == '*' || c == '?' || c == '"' || c == '<' || c == '>' || c == '|' ||
            static_cast<unsigned char>(c) < 0x20)
            return false;
#endif
    }
    return true;
}

std::optional<std::vector<std::string_view>> SplitPhonePath(std::string_view path) {
    if (path.empty() || path[0] != '/' || path.size() > 4096) return std::nullopt;
    std::vector<std::string_view> parts;
    for (size_t pos = 0; pos <= path.size();) {
        size_t end = path.find('/', pos);
        if (end == std::string_view::npos) end = path.size();
        const std::string_view part = path.substr(pos, end - pos);
        pos = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (parts.empty()) return std::nullopt;
            parts.pop_back();
            continue;
        }
        if (!IsPlainName(part)) return std::nullopt;
        parts.push_back(part);
    }
    return parts;
}

std::optional<fs::path> PhoneDir(std::string_view udid) {
    auto root = SimRoot();
    if (!root || !IsPlainName(udid)) return std::nullopt;
    return *root / "phones" / PathFromUtf8(udid);
}

bool FileExists(const fs::path& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

bool IsDirectory(const fs::path& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

std::optional<std::string> ReadSmallFile(const fs::path& path, size_t limit) {
    if (IsDirectory(path)) return std::nullopt;
    FilePtr f = OpenFile(path, "rb");
    if (!f) return std::nullopt;
    std::string out;
    char buffer[4096];
    while (out.size() < limit) {
        const size_t want = std::min(sizeof buffer, limit - out.size());
        const size_t got = std::fread(buffer, 1, want, f.get());
        out.append(buffer, got);
        if (got < want) break;
    }
    return out;
}

bool WriteFileAtomically(const fs::path& path, std::string_view bytes) {
    fs::path temp = path;
    temp += ".tmp";
    {
        FilePtr f = OpenFile(temp, "wb");
        if (!f) return false;
        if (std::fwrite(bytes.data(), 1, bytes.size(), f.get()) != bytes.size()) return false;
    }
    std::error_code ec;
    fs::rename(temp, path, ec);
    if (ec) fs::remove(temp, ec);
    return !ec;
}

bool FaultInFile(const fs::path& faults, std::string_view name, std::optional<std::string_view> arg) {
    auto text = ReadSmallFile(faults, 256 * 1024);
    if (!text) return false;
    std::string_view rest = *text;
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const size_t tab = line.find('\t');
        if (line.substr(0, tab) != name) continue;
        if (tab == std::string_view::npos) return true;
        if (arg && line.substr(tab + 1) == *arg) return true;
    }
    return false;
}

bool RootFault(std::string_view name, std::optional<std::string_view> arg) {
    auto root = SimRoot();
    return root && FaultInFile(*root / "faults", name, arg);
}

bool PhoneFault(std::string_view udid, std::string_view name, std::optional<std::string_view> arg) {
    auto dir = PhoneDir(udid);
    return dir && FaultInFile(*dir / "faults", name, arg);
}

void LogCall(std::string_view udid, std::initializer_list<std::string_view> fields) {
    auto dir = PhoneDir(udid);
    if (!dir || !IsDirectory(*dir)) return;
    std::string line;
    bool first = true;
    for (std::string_view field : fields) {
        if (!first) line += '\t';
        first = false;
        for (char c : field) {
            switch (c) {
                case '\t': line += "\\t"; break;
                case '\n': line += "\\n"; break;
                case '\r': line += "\\r"; break;
                case '\\': line += "\\\\"; break;
                default: line += c;
            }
        }
    }
    line += '\n';
    AppendToFile(*dir / "calls.log", line);
}

}  // namespace phonesim
