// UTF-8 <-> UTF-16 and the ANSI code page.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Utf8Case {
    const char* label;
    std::string utf8;
    std::u16string utf16;
};

void PrintTo(const Utf8Case& c, std::ostream* out) { *out << c.label; }

class Utf8Decoding : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Decoding, GivesTheExpectedUnits) {
    EXPECT_EQ(platform::Utf8ToUtf16(GetParam().utf8), GetParam().utf16);
}

// U+FFFD counts follow the maximal-subpart practice: one per maximal incomplete prefix of a
// well-formed sequence, one per byte that can start none.
const Utf8Case kDecodeCases[] = {
    {"Empty", "", u""},
    {"Ascii", "ringtone.m4r", u"ringtone.m4r"},
    {"EmbeddedNul", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
    {"TwoByte", "caf\xC3\xA9", u"caf\u00E9"},
    {"Chinese", "\xE9\x93\x83\xE5\xA3\xB0.m4r", u"\u94C3\u58F0.m4r"},
    {"EmojiSurrogatePair", "\xF0\x9F\x94\x94", u"\U0001F514"},
    {"LastScalars", "\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF\xF4\x8F\xBF\xBF", u"\uD7FF\uE000\uFFFF\U0010FFFF"},
    {"LoneContinuation", "a\x80z", u"a\uFFFDz"},
    {"NeverLeadBytes", "\xC0\xC1\xF5\xFE\xFF", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
    {"OverlongTwoByte", "\xC0\xAF", u"\uFFFD\uFFFD"},
    {"OverlongThreeByte", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
    {"OverlongFourByte", "\xF0\x80\x80\xAF", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
    {"EncodedHighSurrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
    {"EncodedLowSurrogate", "\xED\xBF\xBF", u"\uFFFD\uFFFD\uFFFD"},
    {"AboveMaximum", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
    {"FiveByteForm", "\xF8\x88\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
    {"TruncatedTwoAtEnd", "ab\xC3", u"ab\uFFFD"},
    {"TruncatedThreeAtEnd", "\xE9\x93", u"\uFFFD"},
    {"TruncatedFourAtEnd", "x\xF0\x9F\x94", u"x\uFFFD"},
    {"TruncatedBeforeAscii", "\xE9\x93z", u"\uFFFDz"},
    {"TruncatedBeforeNewLead", "\xF0\x9F\xE9\x93\x83", u"\uFFFD\u94C3"},
    // The example of the Unicode standard (table 3-8).
    {"StandardExample", "\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
     u"a\uFFFD\uFFFD\uFFFDb\uFFFDc\uFFFD\uFFFDd"},
};

INSTANTIATE_TEST_SUITE_P(Platform, Utf8Decoding, ::testing::ValuesIn(kDecodeCases),
                         [](const auto& info) { return std::string(info.param.label); });

struct Utf16Case {
    const char* label;
    std::u16string utf16;
    std::string utf8;
};

void PrintTo(const Utf16Case& c, std::ostream* out) { *out << c.label; }

class Utf16Encoding : public ::testing::TestWithParam<Utf16Case> {};

TEST_P(Utf16Encoding, GivesTheExpectedBytes) {
    EXPECT_EQ(platform::Utf16ToUtf8(GetParam().utf16), GetParam().utf8);
}

const Utf16Case kEncodeCases[] = {
    {"Empty", u"", ""},
    {"AsciiAndNul", std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
    {"TwoAndThreeByte", u"\u00E9\u94C3\uFFFF", "\xC3\xA9\xE9\x93\x83\xEF\xBF\xBF"},
    {"SurrogatePair", u"\U0001F514\U0010FFFF", "\xF0\x9F\x94\x94\xF4\x8F\xBF\xBF"},
    {"LoneHighAtEnd", u"a\xD83D", "a\xEF\xBF\xBD"},
    {"LoneHighBeforeAscii", u"\xD83Dz", "\xEF\xBF\xBDz"},
    {"LoneLow", u"\xDD14z", "\xEF\xBF\xBDz"},
    {"ReversedPair", u"\xDD14\xD83D", "\xEF\xBF\xBD\xEF\xBF\xBD"},
    {"TwoHighsThenLow", u"\xD83D\xD83D\xDD14", "\xEF\xBF\xBD\xF0\x9F\x94\x94"},
};

INSTANTIATE_TEST_SUITE_P(Platform, Utf16Encoding, ::testing::ValuesIn(kEncodeCases),
                         [](const auto& info) { return std::string(info.param.label); });

// Every scalar value survives UTF-16 -> UTF-8 -> UTF-16 and takes the number of bytes its range
// calls for. All of them go through in one string (fast under sanitizers and Wine); a mismatch is
// then narrowed down to the first failing value.
std::u16string ScalarAsUtf16(char32_t cp) {
    if (cp < 0x10000) return std::u16string(1, static_cast<char16_t>(cp));
    return {static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)), static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF))};
}

size_t Utf8Length(char32_t cp) { return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4; }

TEST(Utf8RoundTrip, EveryScalarValue) {
    std::u16string all;
    size_t expectedBytes = 0;
    for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
        if (cp >= 0xD800 && cp <= 0xDFFF) continue;
        all += ScalarAsUtf16(cp);
        expectedBytes += Utf8Length(cp);
    }
    const std::string bytes = platform::Utf16ToUtf8(all);
    if (bytes.size() == expectedBytes && platform::Utf8ToUtf16(bytes) == all) return;
    for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
        if (cp >= 0xD800 && cp <= 0xDFFF) continue;
        const std::u16string units = ScalarAsUtf16(cp);
        const std::string one = platform::Utf16ToUtf8(units);
        ASSERT_EQ(one.size(), Utf8Length(cp)) << std::hex << static_cast<uint32_t>(cp);
        ASSERT_EQ(platform::Utf8ToUtf16(one), units) << std::hex << static_cast<uint32_t>(cp);
    }
    FAIL() << "the whole range failed although each value passed alone";
}

// Decoding any two-byte input yields well-formed UTF-16 that re-encodes and decodes unchanged.
TEST(Utf8RoundTrip, AnyTwoBytesDecodeToStableText) {
    for (unsigned a = 0; a < 256; ++a) {
        for (unsigned b = 0; b < 256; ++b) {
            const std::string input{static_cast<char>(a), static_cast<char>(b)};
            const std::u16string decoded = platform::Utf8ToUtf16(input);
            ASSERT_GE(decoded.size(), 1u);
            ASSERT_LE(decoded.size(), 2u);
            ASSERT_EQ(platform::Utf8ToUtf16(platform::Utf16ToUtf8(decoded)), decoded) << a << " " << b;
        }
    }
}

#ifndef _WIN32
// Without an ANSI code page, narrow names keep every byte through the round trip.
TEST(AnsiText, AllBytesRoundTripOnPosix) {
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    const std::u16string wide = platform::AnsiToUtf16(all);
    ASSERT_EQ(wide.size(), 256u);
    for (int b = 0; b < 256; ++b) EXPECT_EQ(wide[b], static_cast<char16_t>(b));
    EXPECT_EQ(platform::Utf16ToAnsi(wide), all);
}

TEST(AnsiText, UnitsBeyondLatin1BecomeQuestionMarks) {
    // One per UTF-16 unit, so a surrogate pair gives two.
    EXPECT_EQ(platform::Utf16ToAnsi(u"a\u0100\u94C3\U0001F514b"), "a????b");
}
#endif

TEST(AnsiText, AsciiRoundTrips) {
    const std::string ascii = "Ringtone 01 (final)-x_y.m4r";
    EXPECT_EQ(platform::AnsiToUtf16(ascii), u"Ringtone 01 (final)-x_y.m4r");
    EXPECT_EQ(platform::Utf16ToAnsi(u"Ringtone 01 (final)-x_y.m4r"), ascii);
    EXPECT_EQ(platform::AnsiToUtf16(""), u"");
    EXPECT_EQ(platform::Utf16ToAnsi(u""), "");
}

}  // namespace
