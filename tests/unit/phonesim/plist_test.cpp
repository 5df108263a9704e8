// The binary property-list writer and the strict reader.
#include <cstring>

#include "fixture.h"
#include "phonesim/plist.h"

namespace phonesim_test {
namespace {

namespace plist = phonesim::plist;
using plist::Array;
using plist::Dict;
using plist::Value;

// A document shaped like the ringtone insert operation, with the awkward values.
Value SampleDocument() {
    return Value(Dict{
        {"operations", Array{Dict{
                           {"operation", "insert_track"},
                           {"avformat_info", Dict{{"audio_format", 502}, {"duration", -72}}},
                           {"item", Dict{{"title", "铃声 Bell 🔔"}, {"is_ringtone", true}}},
                           {"pid", int64_t{0x7FFFFFFFFFFFFFF0}},
                       }}},
        {"revision", 0},
        {"timestamp", int64_t{-1}},
        {"blob", plist::Data{0, 1, 2, 0xFF}},
        {"played", false},
    });
}

TEST(PlistRoundTrip, ValuesComeBackIdentical) {
    const Value cases[] = {
        SampleDocument(),
        Value(Dict{}),
        Value(Array{}),
        Value(""),
        Value(int64_t{INT64_MIN}),
        Value(int64_t{INT64_MAX}),
        Value(int64_t{0xFFFFFFFF}),
        Value(int64_t{0x100000000}),
        Value(255),
        Value(256),
        Value(65535),
        Value(65536),
        Value(-1),
        Value(2.5),
        Value(std::string(300, 'a')),            // count past the 4-bit nibble
        Value(std::string("\xC3\xA9", 2) + "x"),  // non-ASCII: UTF-16
    };
    for (const Value& v : cases) {
        const std::vector<uint8_t> bytes = plist::WriteBinary(v);
        auto back = plist::ReadBinary(bytes);
        ASSERT_TRUE(back.has_value()) << plist::ToJson(v);
        EXPECT_EQ(*back, v) << plist::ToJson(v);
    }
}

TEST(PlistRoundTrip, ManyObjectsNeedWiderReferences) {
    Array big;
    for (int i = 0; i < 70000; ++i) big.push_back(Value(i));
    const Value v(Dict{{"items", big}});
    auto back = plist::ReadBinary(plist::WriteBinary(v));
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, v);
}

TEST(PlistWriter, StringEncodingFollowsTheText) {
    struct Case {
        const char* text;
        uint8_t marker;  // first byte of the string object
    } cases[] = {{"Ringtone", 0x58}, {"é", 0x61}, {"🔔", 0x62}};
    for (const Case& c : cases) {
        const std::vector<uint8_t> bytes = plist::WriteBinary(Value(c.text));
        ASSERT_GT(bytes.size(), 8u);
        EXPECT_EQ(bytes[8], c.marker) << c.text;
    }
}

TEST(PlistWriter, NegativeIntegersAreEightBytesTwosComplement) {
    const std::vector<uint8_t> bytes = plist::WriteBinary(Value(-72));
    ASSERT_GT(bytes.size(), 17u);
    const uint8_t expected[] = {0x13, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xB8};
    EXPECT_EQ(std::memcmp(&bytes[8], expected, sizeof expected), 0);
}

// Every prefix and every single-byte change of a valid document: no crash, no overrun (the
// sanitizer builds check), and a prefix is never accepted.
TEST(PlistReader, SurvivesTruncationAndCorruption) {
    const std::vector<uint8_t> good = plist::WriteBinary(SampleDocument());
    for (size_t n = 0; n < good.size(); ++n) {
        EXPECT_FALSE(plist::ReadBinary(good.data(), n).has_value()) << "prefix of " << n;
    }
    for (size_t i = 0; i < good.size(); ++i) {
        for (int delta : {1, 0x0F, 0x80, 0xFF}) {
            std::vector<uint8_t> bad = good;
            bad[i] = static_cast<uint8_t>(bad[i] + delta);
            (void)plist::ReadBinary(bad);
        }
    }
    EXPECT_FALSE(plist::ReadBinary(nullptr, 0).has_value());
}

// Hand-made documents: header, objects, offset table, trailer.
std::vector<uint8_t> Document(std::vector<uint8_t> objects, std::vector<uint8_t> offsets, uint8_t offsetSize,
                              uint8_t refSize, uint64_t count, uint64_t top) {
    std::vector<uint8_t> out;
    out.reserve(8 + objects.size() + offsets.size() + 32);
    for (char c : std::string_view("bplist00")) out.push_back(static_cast<uint8_t>(c));
    for (uint8_t b : objects) out.push_back(b);
    const uint64_t table = out.size();
    for (uint8_t b : offsets) out.push_back(b);
    for (int i = 0; i < 6; ++i) out.push_back(0);
    out.push_back(offsetSize);
    out.push_back(refSize);
    for (uint64_t v : {count, top, table})
        for (int i = 7; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return out;
}

TEST(PlistReader, RefusesMalformedStructures) {
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"array containing itself", Document({0xA1, 0x00}, {8}, 1, 1, 1, 0)},
        {"two arrays in a loop", Document({0xA1, 0x01, 0xA1, 0x00}, {8, 10}, 1, 1, 2, 0)},
        {"reference past the objects", Document({0xA1, 0x05}, {8}, 1, 1, 1, 0)},
        {"count past the end", Document({0x5F, 0x13, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, {8}, 1, 1, 1, 0)},
        {"offset into the trailer", Document({0x09}, {200}, 1, 1, 1, 0)},
        {"top object out of range", Document({0x09}, {8}, 1, 1, 1, 1)},
        {"no objects", Document({0x09}, {8}, 1, 1, 0, 0)},
        {"object count larger than the table", Document({0x09}, {8}, 1, 1, 1000, 0)},
        {"bad offset width", Document({0x09}, {8}, 3, 1, 1, 0)},
        {"dictionary key not a string", Document({0xD1, 0x01, 0x01, 0x10, 0x05}, {8, 11}, 1, 1, 2, 0)},
        {"non-ASCII in an ASCII string", Document({0x51, 0xC3}, {8}, 1, 1, 1, 0)},
        {"lone surrogate", Document({0x61, 0xD8, 0x00}, {8}, 1, 1, 1, 0)},
        {"unsupported null object", Document({0x00}, {8}, 1, 1, 1, 0)},
        {"wrong magic", [] {
             auto d = Document({0x09}, {8}, 1, 1, 1, 0);
             d[7] = '1';
             return d;
         }()},
    };
    for (const Case& c : cases) EXPECT_FALSE(plist::ReadBinary(c.bytes).has_value()) << c.what;
    EXPECT_EQ(plist::ReadBinary(Document({0x09}, {8}, 1, 1, 1, 0)), Value(true)) << "the minimal valid document";
}

// Shared references are legal but may not expand without bound.
TEST(PlistReader, BoundsTheExpansionOfSharedReferences) {
    // Object i is an array holding object i+1 twice; the last is an empty array: 2^40 nodes.
    std::vector<uint8_t> objects, offsets;
    const int levels = 40;
    for (int i = 0; i < levels; ++i) {
        offsets.push_back(static_cast<uint8_t>(8 + objects.size()));
        objects.insert(objects.end(), {0xA2, static_cast<uint8_t>(i + 1), static_cast<uint8_t>(i + 1)});
    }
    offsets.push_back(static_cast<uint8_t>(8 + objects.size()));
    objects.push_back(0xA0);
    EXPECT_FALSE(plist::ReadBinary(Document(objects, offsets, 1, 1, levels + 1, 0)).has_value());
}

}  // namespace
}  // namespace phonesim_test
