// A document written by CFPropertyListCreateData, read by two readers we did not write:
// Python's plistlib and plistutil. Their output is compared, never just their exit code.
#include <cstdio>
#include <cstdlib>

#include "fixture.h"
#include "phonesim/plist.h"

namespace phonesim_test {
namespace {

namespace plist = phonesim::plist;

class ForeignReadersTest : public PhoneSimTest {
protected:
    void SetUp() override {
#ifdef _WIN32
        GTEST_SKIP() << "the Linux tools cannot be run from a Windows process";
#else
        PhoneSimTest::SetUp();
        file_ = root_ / "doc.plist";
        WriteFile(file_, Document());
#endif
    }

    static std::optional<std::string> Run(const std::string& command) {
        FILE* pipe = popen(command.c_str(), "r");
        if (!pipe) return std::nullopt;
        std::string out;
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
        pclose(pipe);
        return out;
    }

    static bool Have(const char* program) { return std::system(("command -v " + std::string(program) + " >/dev/null 2>&1").c_str()) == 0; }

    // Built through the CoreFoundation exports, keys added in sorted order so that the JSON of
    // the expected tree matches a reader's sorted dump.
    static std::string Document() {
        const auto dict = [] {
            return CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                             &kCFTypeDictionaryValueCallBacks);
        };
        const auto add = [](CFMutableDictionaryRef d, const char* key, CFTypeRef value, bool release = true) {
            CFDictionaryAddValue(d, __CFStringMakeConstantString(key), value);
            if (release) CFRelease(value);
        };
        const int8_t minus72 = -72;
        const int32_t fiveOhTwo = 502;
        const long long big = 0x7FFFFFFFFFFFFFF0LL, negativeBig = -5000000000LL;
        CFMutableDictionaryRef root = dict();
        CFMutableDictionaryRef op = dict();
        add(op, "duration", CFNumberCreate(nullptr, kCFNumberSInt8Type, &minus72));
        add(op, "format", CFNumberCreate(nullptr, kCFNumberSInt32Type, &fiveOhTwo));
        add(op, "is_ringtone", kCFBooleanTrue, false);
        add(op, "negative_big", CFNumberCreate(nullptr, kCFNumberLongLongType, &negativeBig));
        add(op, "pid", CFNumberCreate(nullptr, kCFNumberLongLongType, &big));
        add(op, "played", kCFBooleanFalse, false);
        add(op, "title", CFStringCreateWithCString(nullptr, "铃声 Bell 🔔", kCFStringEncodingUTF8));
        CFMutableArrayRef ops = CFArrayCreateMutable(nullptr, 1, nullptr);
        CFArrayAppendValue(ops, op);
        add(root, "operations", ops);
        add(root, "timestamp", CFNumberCreate(nullptr, kCFNumberSInt8Type, &minus72));
        CFDataRef data = CFPropertyListCreateData(nullptr, root, kCFPropertyListBinaryFormat_v1_0, 0, nullptr);
        CFRelease(root);
        CFRelease(op);  // the array did not retain it: kept alive until serialised
        std::string bytes;
        if (data) bytes.assign(reinterpret_cast<const char*>(CFDataGetBytePtr(data)),
                               static_cast<size_t>(CFDataGetLength(data)));
        CFRelease(data);
        return bytes;
    }

    fs::path file_;
};

const char kExpectedJson[] =
    R"({"operations":[{"duration":-72,"format":502,"is_ringtone":true,"negative_big":-5000000000,)"
    R"("pid":9223372036854775792,"played":false,"title":"铃声 Bell 🔔"}],"timestamp":-72})";

TEST_F(ForeignReadersTest, OurReaderSeesTheDocument) {
    const auto bytes = ReadFile(file_);
    ASSERT_TRUE(bytes.has_value());
    auto tree = plist::ReadBinary(reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size());
    ASSERT_TRUE(tree.has_value());
    EXPECT_EQ(plist::ToJson(*tree), kExpectedJson);
}

TEST_F(ForeignReadersTest, PythonPlistlibReadsTheSameValues) {
    if (!Have("/usr/bin/python3")) GTEST_SKIP() << "no /usr/bin/python3";
    const std::string script =
        "import json,plistlib,sys; "
        "d=plistlib.load(open(sys.argv[1],'rb')); "
        "sys.stdout.write(json.dumps(d,sort_keys=True,ensure_ascii=False,separators=(',',':')))";
    const auto out = Run("/usr/bin/python3 -c \"" + script + "\" '" + file_.string() + "' 2>&1");
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(*out, kExpectedJson);
}

TEST_F(ForeignReadersTest, PlistutilReadsTheSameValues) {
    if (!Have("plistutil")) GTEST_SKIP() << "no plistutil";
    const auto out = Run("plistutil -i '" + file_.string() + "' -f xml 2>&1");
    ASSERT_TRUE(out.has_value());
    // plistutil exits 0 even on failure: the values in its output are what count.
    for (const char* fragment :
         {"<key>operations</key>", "<array>", "<key>duration</key>", "<integer>-72</integer>",
          "<integer>502</integer>", "<key>is_ringtone</key>", "<true/>", "<key>played</key>", "<false/>",
          "<integer>-5000000000</integer>", "<integer>9223372036854775792</integer>",
          "<string>铃声 Bell 🔔</string>", "<key>timestamp</key>"})
        EXPECT_NE(out->find(fragment), std::string::npos) << fragment << " missing in:\n" << *out;
    size_t keys = 0;
    for (size_t pos = 0; (pos = out->find("<key>", pos)) != std::string::npos; ++pos) ++keys;
    EXPECT_EQ(keys, 9u) << *out;
}

}  // namespace
}  // namespace phonesim_test
