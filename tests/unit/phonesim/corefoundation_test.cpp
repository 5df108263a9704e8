// The CoreFoundation stand-in: reference counts, strings, numbers and the containers.
#include <climits>

#include "fixture.h"
#include "phonesim/plist.h"

namespace phonesim_test {
namespace {

namespace plist = phonesim::plist;

class CoreFoundationTest : public PhoneSimTest {};

// The tree that CFPropertyListCreateData wrote, read back.
plist::Value Serialised(CFTypeRef root) {
    CfPtr data(CFPropertyListCreateData(nullptr, root, kCFPropertyListBinaryFormat_v1_0, 0, nullptr));
    EXPECT_NE(data, nullptr);
    if (!data) return {};
    const uint8_t* bytes = CFDataGetBytePtr(data.get());
    auto tree = plist::ReadBinary(bytes, static_cast<size_t>(CFDataGetLength(data.get())));
    EXPECT_TRUE(tree.has_value());
    return tree.value_or(plist::Value{});
}

TEST_F(CoreFoundationTest, ConstantStringsAreInternedAndSurviveAnyRelease) {
    const int64_t before = PhoneSimLiveCfObjects();
    CFStringRef a = __CFStringMakeConstantString("operations");
    for (int i = 0; i < 5; ++i) CFRelease(a);
    CFStringRef b = __CFStringMakeConstantString("operations");
    EXPECT_EQ(a, b);
    EXPECT_EQ(Utf8(b), "operations");
    EXPECT_NE(__CFStringMakeConstantString("revision"), a);
    EXPECT_EQ(PhoneSimLiveCfObjects(), before) << "constant strings are not counted";
}

TEST_F(CoreFoundationTest, MadeObjectsAreCountedUntilReleased) {
    const int64_t before = PhoneSimLiveCfObjects();
    const int32_t v = 7;
    CFTypeRef objects[] = {
        CFStringCreateWithCString(nullptr, "x", kCFStringEncodingUTF8),
        CFNumberCreate(nullptr, kCFNumberSInt32Type, &v),
        CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks),
        CFArrayCreateMutable(nullptr, 0, nullptr),
    };
    EXPECT_EQ(PhoneSimLiveCfObjects(), before + 4);
    for (CFTypeRef o : objects) CFRelease(o);
    EXPECT_EQ(PhoneSimLiveCfObjects(), before);
    CFRelease(nullptr);  // harmless
    CFRelease(kCFBooleanTrue);
    EXPECT_EQ(PhoneSimLiveCfObjects(), before);
}

TEST_F(CoreFoundationTest, DictionaryRetainsThroughTheCallbacksItWasGiven) {
    const int64_t before = PhoneSimLiveCfObjects();
    CFMutableDictionaryRef dict =
        CFDictionaryCreateMutable(nullptr, 3, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    CFStringRef key = CFStringCreateWithCString(nullptr, "title", kCFStringEncodingUTF8);
    CFStringRef value = CFStringCreateWithCString(nullptr, "Bell", kCFStringEncodingUTF8);
    CFDictionaryAddValue(dict, key, value);
    CFRelease(key);
    CFRelease(value);  // the dictionary still holds both
    EXPECT_EQ(PhoneSimLiveCfObjects(), before + 3);
    const plist::Value tree = Serialised(dict);
    ASSERT_NE(tree.find("title"), nullptr);
    EXPECT_EQ(*tree.find("title"), plist::Value("Bell"));
    CFRelease(dict);
    EXPECT_EQ(PhoneSimLiveCfObjects(), before) << "releasing the dictionary releases its pairs";
}

TEST_F(CoreFoundationTest, DictionaryWithoutCallbacksDoesNotRetain) {
    const int64_t before = PhoneSimLiveCfObjects();
    CFMutableDictionaryRef dict = CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr);
    CFStringRef value = CFStringCreateWithCString(nullptr, "v", kCFStringEncodingUTF8);
    CFDictionaryAddValue(dict, __CFStringMakeConstantString("k"), value);
    CFRelease(value);  // gone: a zeroed (wrongly copied) table shows up as this
    EXPECT_EQ(PhoneSimLiveCfObjects(), before + 1);
    CFRelease(dict);
    EXPECT_EQ(PhoneSimLiveCfObjects(), before);
}

TEST_F(CoreFoundationTest, AddKeepsAnExistingPairSetReplacesIt) {
    CFMutableDictionaryRef dict =
        CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    // Equal keys made separately: found by content, as the equal callback says.
    CFDictionaryAddValue(dict, Str("k").get(), Str("first").get());
    CFDictionaryAddValue(dict, Str("k").get(), Str("second").get());
    EXPECT_EQ(Serialised(dict), plist::Value(plist::Dict{{"k", "first"}}));
    CFDictionarySetValue(dict, Str("k").get(), Str("third").get());
    EXPECT_EQ(Serialised(dict), plist::Value(plist::Dict{{"k", "third"}}));
    CFRelease(dict);
}

TEST_F(CoreFoundationTest, ArrayWithoutCallbacksDoesNotRetainItsElements) {
    const int64_t before = PhoneSimLiveCfObjects();
    CFMutableArrayRef array = CFArrayCreateMutable(nullptr, 5, nullptr);
    CFMutableDictionaryRef op =
        CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    CFArrayAppendValue(array, op);
    EXPECT_EQ(PhoneSimLiveCfObjects(), before + 2);
    CFRelease(op);
    EXPECT_EQ(PhoneSimLiveCfObjects(), before + 1) << "the array did not keep its element alive";
    CFRelease(array);
    EXPECT_EQ(PhoneSimLiveCfObjects(), before);
}

TEST_F(CoreFoundationTest, NumbersAreReadPerType) {
    const int8_t i8 = -72;
    const int32_t i32 = 35000;
    const long l = -2147483647L;
    const long long ll = 0x7123456789ABCDEFLL;
    struct Case {
        CFNumberType type;
        const void* value;
        int64_t expected;
    } cases[] = {
        {kCFNumberSInt8Type, &i8, -72},
        {kCFNumberSInt32Type, &i32, 35000},
        {kCFNumberLongType, &l, -2147483647LL},
        {kCFNumberLongLongType, &ll, 0x7123456789ABCDEFLL},
    };
    for (const Case& c : cases) {
        CfPtr n(CFNumberCreate(nullptr, c.type, c.value));
        ASSERT_NE(n, nullptr) << "type " << c.type;
        EXPECT_EQ(Serialised(n.get()), plist::Value(c.expected)) << "type " << c.type;
    }
    const double d = 1.5;
    EXPECT_EQ(CFNumberCreate(nullptr, 13 /* kCFNumberDoubleType */, &d), nullptr);
}

TEST_F(CoreFoundationTest, StringLengthCountsUtf16Units) {
    struct Case {
        const char* text;
        CFIndex units;
    } cases[] = {{"", 0}, {"abc", 3}, {"铃声", 2}, {"a\xF0\x9F\x94\x94", 3}, {"é", 1}};
    for (const Case& c : cases) {
        CfPtr s = Str(c.text);
        ASSERT_NE(s, nullptr) << c.text;
        EXPECT_EQ(CFStringGetLength(s.get()), c.units) << c.text;
    }
}

TEST_F(CoreFoundationTest, InvalidUtf8GivesNoString) {
    for (const char* bad : {"\xFF", "a\xC3", "\xED\xA0\x80", "\xC0\xAF"}) EXPECT_EQ(Str(bad), nullptr);
}

TEST_F(CoreFoundationTest, GetCStringNeverOverrunsTheBuffer) {
    CfPtr s = Str("ringtone");  // 8 bytes + NUL
    struct Case {
        CFIndex size;
        bool fits;
    } cases[] = {{0, false}, {1, false}, {8, false}, {9, true}, {1024, true}};
    for (const Case& c : cases) {
        std::vector<char> buffer(static_cast<size_t>(c.size) + 8, '#');
        const uint8_t ok = CFStringGetCString(s.get(), buffer.data(), c.size, kCFStringEncodingUTF8);
        EXPECT_EQ(ok != 0, c.fits) << "size " << c.size;
        if (c.fits) {
            EXPECT_STREQ(buffer.data(), "ringtone");
        }
        for (size_t i = c.fits ? 9 : 0; i < buffer.size(); ++i)
            ASSERT_EQ(buffer[i], '#') << "byte " << i << " written with size " << c.size;
    }
    EXPECT_EQ(CFStringGetCString(kCFBooleanTrue, std::vector<char>(16).data(), 16, kCFStringEncodingUTF8), 0)
        << "not a string";
}

TEST_F(CoreFoundationTest, OnlyTheBinaryFormatIsWritten) {
    CfPtr s = Str("x");
    EXPECT_EQ(CFPropertyListCreateData(nullptr, s.get(), 100 /* XML */, 0, nullptr), nullptr);
    CfPtr data(CFPropertyListCreateData(nullptr, s.get(), kCFPropertyListBinaryFormat_v1_0, 0, nullptr));
    ASSERT_NE(data, nullptr);
    ASSERT_GE(CFDataGetLength(data.get()), 8);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(CFDataGetBytePtr(data.get())), 8), "bplist00");
}

TEST_F(CoreFoundationTest, ACycleIsRefusedNotFollowed) {
    CFMutableArrayRef array = CFArrayCreateMutable(nullptr, 0, nullptr);
    CFArrayAppendValue(array, array);
    EXPECT_EQ(CFPropertyListCreateData(nullptr, array, kCFPropertyListBinaryFormat_v1_0, 0, nullptr), nullptr);
    CFRelease(array);
}

TEST_F(CoreFoundationTest, CallbackTablesRetainAndRelease) {
    CfPtr s = Str("held");
    const int64_t before = PhoneSimLiveCfObjects();
    const void* same = kCFTypeDictionaryValueCallBacks.retain(nullptr, s.get());
    EXPECT_EQ(same, s.get());
    kCFTypeDictionaryKeyCallBacks.release(nullptr, s.get());  // back to the one reference of s
    EXPECT_EQ(PhoneSimLiveCfObjects(), before);
    EXPECT_NE(kCFTypeDictionaryKeyCallBacks.equal(s.get(), Str("held").get()), 0);
    EXPECT_EQ(kCFTypeDictionaryKeyCallBacks.equal(s.get(), Str("other").get()), 0);
}

TEST_F(CoreFoundationTest, RootFaultsMakeCreationsFail) {
    WriteFile(root_ / "faults", "CFStringCreateWithCString\tbroken\nCFArrayCreateMutable\n");
    EXPECT_EQ(Str("broken"), nullptr);
    EXPECT_NE(Str("fine"), nullptr);
    EXPECT_EQ(CFArrayCreateMutable(nullptr, 0, nullptr), nullptr);
    fs::remove(root_ / "faults");
    CfPtr array(CFArrayCreateMutable(nullptr, 0, nullptr));
    EXPECT_NE(array, nullptr) << "the rule is gone as soon as the file is";
}

TEST_F(CoreFoundationTest, DescribeGivesJsonCutToTheBuffer) {
    CFMutableDictionaryRef dict =
        CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    CFMutableArrayRef array = CFArrayCreateMutable(nullptr, 0, nullptr);
    CfPtr tone = Str("Ringtone");
    CFArrayAppendValue(array, tone.get());
    CFDictionaryAddValue(dict, __CFStringMakeConstantString("kinds"), array);
    CFDictionaryAddValue(dict, __CFStringMakeConstantString("on"), kCFBooleanTrue);
    const std::string expected = R"({"kinds":["Ringtone"],"on":true})";
    char full[64];
    EXPECT_EQ(PhoneSimCFDescribe(dict, full, sizeof full), expected.size());
    EXPECT_EQ(std::string(full), expected);
    char small[5];
    EXPECT_EQ(PhoneSimCFDescribe(dict, small, sizeof small), expected.size());
    EXPECT_EQ(std::string(small), expected.substr(0, 4));
    CFRelease(dict);
    CFRelease(array);
}

}  // namespace
}  // namespace phonesim_test
