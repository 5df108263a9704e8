// The copy of a CoreFoundation string's text into a text field, through a 1024-byte buffer, with
// texts of any length cut anywhere, including inside a UTF-8 sequence. The string's text comes from
// one of four CoreFoundations: the simulated phone's (all or nothing), one that fills the buffer as
// far as it goes and ends it with a zero byte, a hostile one that fills all 1024 bytes without a
// terminator, and one that hands out bytes that are not UTF-8 at all. Checks: the buffer handed
// over is 1024 zero bytes; the field gets a prefix of the text made of whole characters, the
// longest that fits when the buffer was terminated; invalid bytes never give broken UTF-16.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>

#include "device/apple_bindings.h"
#include "device/device_session.h"
#include "fuzz/fake_phone.h"
#include "phonesim/phonesim_api.h"

using fuzzphone::Require;

namespace {

constexpr size_t BUFFER = 1024;

enum Mode { StandIn, Truncating, Unterminated, RawBytes, ModeCount };

struct FakeString {
    std::string bytes;
    Mode mode;
};

bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The longest prefix of valid UTF-8 text that is made of whole characters and has at most limit bytes.
std::string WholePrefix(const std::string& text, size_t limit) {
    if (text.size() <= limit) return text;
    size_t n = limit;
    while (n > 0 && IsContinuation(text[n])) --n;
    return text.substr(0, n);
}

uint8_t APPLE_CALL FakeGetCString(CFStringRef string, char* buffer, CFIndex size, CFStringEncoding encoding) {
    Require(size == static_cast<CFIndex>(BUFFER), "the buffer is not 1024 bytes");
    Require(encoding == kCFStringEncodingUTF8, "the text is not asked for as UTF-8");
    for (size_t i = 0; i < BUFFER; ++i) Require(buffer[i] == 0, "the buffer is not zero-filled");
    const auto* s = static_cast<const FakeString*>(string);
    if (s->mode == Unterminated) {
        size_t n = std::min(s->bytes.size(), BUFFER);
        std::memcpy(buffer, s->bytes.data(), n);
        return n == s->bytes.size() && n < BUFFER;
    }
    size_t n = std::min(s->bytes.size(), BUFFER - 1);
    std::memcpy(buffer, s->bytes.data(), n);
    buffer[n] = '\0';
    return n == s->bytes.size();
}

bool ValidUtf16(const std::u16string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t u = text[i];
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
            ++i;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzphone::Install();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const auto mode = static_cast<Mode>(in.ConsumeIntegralInRange<int>(0, ModeCount - 1));
    const bool none = in.ConsumeIntegralInRange<int>(0, 15) == 0;
    const unsigned repeat = in.ConsumeIntegralInRange<unsigned>(1, 64);
    std::string piece = in.ConsumeRemainingBytesAsString();
    piece = piece.substr(0, piece.find('\0'));  // a C string ends at its first zero byte
    std::string text;
    for (unsigned i = 0; i < repeat && text.size() < 3 * BUFFER; ++i) text += piece;
    // Every CoreFoundation string holds valid UTF-8 text; only the raw mode hands out other bytes.
    if (mode != RawBytes) text = platform::Utf16ToUtf8(platform::Utf8ToUtf16(text));

    const std::u16string before = u"earlier value";
    SharedText field;
    field.Set(before);

    const int64_t cfBefore = fuzzphone::LiveCfObjects();
    FakeString fake{text, mode};
    CFStringRef string = nullptr;
    if (!none) {
        if (mode == StandIn) {
            CoreFoundation.CFStringGetCString = ::CFStringGetCString;
            string = ::CFStringCreateWithCString(nullptr, text.c_str(), kCFStringEncodingUTF8);
            Require(string != nullptr, "the stand-in refused valid UTF-8");
        } else {
            CoreFoundation.CFStringGetCString = FakeGetCString;
            string = &fake;
        }
    }

    CopyCfStringText(string, field);
    const std::u16string value = field.Get();
    if (mode == StandIn && string) ::CFRelease(string);
    Require(fuzzphone::LiveCfObjects() == cfBefore, "a CoreFoundation object was left alive");

    if (none) {
        Require(value == before, "a missing string changed the field");
        return 0;
    }
    Require(ValidUtf16(value), "the field holds broken UTF-16");
    Require(value.size() <= BUFFER, "the field holds more than the buffer");
    if (mode == RawBytes) return 0;

    const std::string copied = platform::Utf16ToUtf8(value);
    Require(text.compare(0, copied.size(), copied) == 0, "the field is not a prefix of the text");
    Require(copied.size() == text.size() || !IsContinuation(text[copied.size()]), "the field ends inside a character");
    switch (mode) {
        case StandIn:
            if (text.size() < BUFFER) Require(copied == text, "a text that fits was not copied whole");
            break;
        case Truncating:
            Require(copied == WholePrefix(text, BUFFER - 1), "not the longest whole-character prefix that fits");
            break;
        case Unterminated:
            Require(copied.size() <= BUFFER, "the field reaches past the buffer");
            break;
        default: break;
    }
    return 0;
}
