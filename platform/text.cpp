// UTF-8 <-> UTF-16, shared by both platform implementations.
// Decoding follows the "maximal subpart" practice: each maximal prefix of a well-formed sequence
// that cannot be completed becomes one U+FFFD, and decoding resumes at the offending byte.
#include "platform/platform.h"

namespace platform {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

// Length of the sequence a lead byte announces (0 = never a valid lead: 80..C1, F5..FF).
int SequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

// Allowed range of the second byte; it is narrower than 80..BF after some leads so that overlong
// forms, UTF-16 surrogates and values above U+10FFFF are rejected at the earliest byte.
bool SecondByteFits(unsigned char lead, unsigned char b) {
    switch (lead) {
    case 0xE0: return b >= 0xA0 && b <= 0xBF;
    case 0xED: return b >= 0x80 && b <= 0x9F;
    case 0xF0: return b >= 0x90 && b <= 0xBF;
    case 0xF4: return b >= 0x80 && b <= 0x8F;
    default: return b >= 0x80 && b <= 0xBF;
    }
}

void AppendCodePoint(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    const size_t n = utf8.size();
    size_t i = 0;
    while (i < n) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const int length = SequenceLength(lead);
        if (length == 1) {
            out.push_back(lead);
            ++i;
            continue;
        }
        if (length == 0) {
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        char32_t cp = lead & (0xFF >> (length + 1));
        size_t taken = 1;
        while (taken < static_cast<size_t>(length) && i + taken < n) {
            const auto b = static_cast<unsigned char>(utf8[i + taken]);
            const bool fits = taken == 1 ? SecondByteFits(lead, b) : (b >= 0x80 && b <= 0xBF);
            if (!fits) break;
            cp = (cp << 6) | (b & 0x3F);
            ++taken;
        }
        if (taken == static_cast<size_t>(length)) {
            AppendCodePoint(out, cp);
        } else {
            out.push_back(kReplacement);  // one for the whole incomplete prefix
        }
        i += taken;
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    const size_t n = utf16.size();
    for (size_t i = 0; i < n; ++i) {
        const char16_t u = utf16[i];
        if (IsHighSurrogate(u) && i + 1 < n && IsLowSurrogate(utf16[i + 1])) {
            const char32_t cp = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) +
                                (static_cast<char32_t>(utf16[i + 1]) - 0xDC00);
            AppendUtf8(out, cp);
            ++i;
        } else if (IsHighSurrogate(u) || IsLowSurrogate(u)) {
            AppendUtf8(out, kReplacement);
        } else {
            AppendUtf8(out, u);
        }
    }
    return out;
}

}  // namespace platform
