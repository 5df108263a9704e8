#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "device/afc_file.h"
#include "device/apple_bindings.h"
#include "device/device_session.h"
#include "tests/support/phone_fixture.h"

namespace {

// An AFC connection on the media partition of a current, paired phone.
class AfcFileTest : public PhoneTest {
protected:
    void SetUp() override {
        PhoneTest::SetUp();
        phone_ = MakePhone("udid-afc");
        MakeCurrent(phone_);
        afc_ = std::make_unique<AfcConnection>(OpenMediaAfc());
        ASSERT_TRUE(afc_->IsOpen());
    }
    void TearDown() override {
        afc_.reset();
        ExpectNoLeaks();  // every file, directory and information handle was closed
        PhoneTest::TearDown();
    }
    AFCConnectionRef Afc() const { return afc_->Get(); }

    SimPhone phone_;
    std::unique_ptr<AfcConnection> afc_;
};

TEST_F(AfcFileTest, ReadAfcFileReadsWholeFilesZeroTerminated) {
    WriteFile(phone_.Media() / "text", "hello");
    std::unique_ptr<uint8_t[]> buffer;
    EXPECT_EQ(GetAfcFileSize(Afc(), "/text"), 5);
    ASSERT_EQ(ReadAfcFile(Afc(), "/text", buffer), 5u);
    EXPECT_STREQ(reinterpret_cast<const char*>(buffer.get()), "hello");  // the extra byte is zero

    std::string binary("\x00\x01\xff\x00z", 5);
    WriteFile(phone_.Media() / "binary", binary);
    ASSERT_EQ(ReadAfcFile(Afc(), "/binary", buffer), 5u);
    EXPECT_EQ(std::memcmp(buffer.get(), binary.data(), 5), 0);
}

TEST_F(AfcFileTest, EmptyAndMissingFilesGiveNoBuffer) {
    WriteFile(phone_.Media() / "empty", "");
    auto marker = std::make_unique<uint8_t[]>(1);
    uint8_t* before = marker.get();

    // A missing file leaves the caller's place untouched.
    EXPECT_EQ(ReadAfcFile(Afc(), "/missing", marker), 0u);
    EXPECT_EQ(marker.get(), before);
    EXPECT_EQ(GetAfcFileSize(Afc(), "/missing"), 0);

    // An empty file puts none into it.
    EXPECT_EQ(ReadAfcFile(Afc(), "/empty", marker), 0u);
    EXPECT_EQ(marker.get(), nullptr);
}

TEST_F(AfcFileTest, FilesTooLargeForA32BitSizeAreNotRead) {
    // A sparse file of 3 GiB: its size does not fit, so it is never read whole.
    {
        std::ofstream(phone_.Media() / "huge", std::ios::binary);
    }
    fs::resize_file(phone_.Media() / "huge", 3ull << 30);
    auto marker = std::make_unique<uint8_t[]>(1);
    uint8_t* before = marker.get();
    EXPECT_EQ(GetAfcFileSize(Afc(), "/huge"), -1);
    EXPECT_EQ(ReadAfcFile(Afc(), "/huge", marker), 0u);
    EXPECT_EQ(marker.get(), before);
}

TEST_F(AfcFileTest, WriteAfcFileCreatesOrReplaces) {
    struct Case {
        const char* what;
        const char* path;
        const char* data;
        uint32_t length;
        int result;
        const char* onDisk;  // nullptr: no file
    } cases[] = {
        {"new file", "/new", "abc", 3, 0, "abc"},
        {"replaces and truncates", "/new", "x", 1, 0, "x"},
        {"no data leaves an empty file", "/nodata", nullptr, 5, 0, ""},
        {"length 0 leaves an empty file", "/zero", "abc", 0, 0, ""},
        {"folder missing", "/no/such/dir/file", "abc", 3, 1, nullptr},
        {"no path", nullptr, "abc", 3, 1, nullptr},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WriteAfcFile(Afc(), c.path, c.data, c.length), c.result) << c.what;
        if (!c.path) continue;
        fs::path file = phone_.Media() / (c.path + 1);
        if (c.onDisk) {
            EXPECT_EQ(ReadFile(file), c.onDisk) << c.what;
        } else {
            EXPECT_FALSE(fs::exists(file)) << c.what;
        }
    }
}

TEST_F(AfcFileTest, ListingCreatingAndRemoving) {
    WriteFile(phone_.Media() / "dir" / "a.m4r", "1");
    WriteFile(phone_.Media() / "dir" / "b", "2");
    std::vector<std::string> names;
    EXPECT_TRUE(ListAfcDirectory(Afc(), "/dir/", [&](const char* name) { names.emplace_back(name); }));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", "a.m4r", "b"}));
    EXPECT_FALSE(ListAfcDirectory(Afc(), "/absent/", [&](const char*) { ADD_FAILURE(); }));

    EnsureAfcDirectory(Afc(), "/made/");
    EXPECT_TRUE(fs::is_directory(phone_.Media() / "made"));
    EnsureAfcDirectory(Afc(), "/dir/");  // an existing folder is left as it is
    EXPECT_TRUE(fs::exists(phone_.Media() / "dir" / "b"));

    // A folder path is removed with one call: a non-empty one stays, as on a real phone.
    RemoveAfcPaths(Afc(), {"/dir/", "/made/"});
    EXPECT_TRUE(fs::exists(phone_.Media() / "dir" / "b"));
    EXPECT_FALSE(fs::exists(phone_.Media() / "made"));
    auto removes = phone_.Calls({"AFCRemovePath"});
    ASSERT_EQ(removes.size(), 2u);
    EXPECT_EQ(removes[0], "AFCRemovePath\t/dir/");
    EXPECT_EQ(removes[1], "AFCRemovePath\t/made/");

    EXPECT_TRUE(IsDotEntry("."));
    EXPECT_TRUE(IsDotEntry(".."));
    EXPECT_FALSE(IsDotEntry("..."));
    EXPECT_FALSE(IsDotEntry(".m4r"));
}

TEST_F(AfcFileTest, AFileReadAfterThePhoneVanishedGivesNothing) {
    WriteFile(phone_.Media() / "text", "hello");
    phone_.Detach();
    ASSERT_TRUE(WaitUntil([&] { return !fs::exists(phone_.dir / "attached"); }));
    platform::SleepMs(100);
    std::unique_ptr<uint8_t[]> buffer;
    EXPECT_EQ(ReadAfcFile(Afc(), "/text", buffer), 0u);
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(WriteAfcFile(Afc(), "/other", "x", 1), 1);
}

TEST(JoinAfcPath, NeverWritesPastTheBuffer) {
    struct Case {
        size_t nameLength;
        bool fits;
    } cases[] = {{0, true}, {10, true}, {259 - 5, true}, {260 - 5, false}, {4096, false}};
    for (const auto& c : cases) {
        char buffer[261];
        std::memset(buffer, '#', sizeof buffer);
        std::string name(c.nameLength, 'n');
        EXPECT_EQ(JoinAfcPath(buffer, 260, "/dir/", name.c_str()), c.fits) << c.nameLength;
        EXPECT_EQ(buffer[260], '#') << "wrote past the buffer";
        if (c.fits) {
            EXPECT_EQ(std::string(buffer), "/dir/" + name);
        }
    }
}

}  // namespace
