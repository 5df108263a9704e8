// AFC on the media partition: open modes, listings, removal, confinement, file information.
#include <algorithm>
#include <map>

#include "fixture.h"

namespace phonesim_test {
namespace {

class AfcTest : public PhoneSimTest {
protected:
    void SetUp() override {
        PhoneSimTest::SetUp();
        media_ = MakePhone({"p1"}) / "media";
        afc_ = OpenMedia("p1");
        ASSERT_NE(afc_, nullptr);
    }
    void TearDown() override {
        if (afc_) AFCConnectionClose(afc_);
        PhoneSimTest::TearDown();
    }

    std::vector<std::string> List(const char* path) {
        std::vector<std::string> names;
        AFCDirectoryRef dir = nullptr;
        if (AFCDirectoryOpen(afc_, path, &dir) != 0) return {"<no listing>"};
        char* name = nullptr;
        while (AFCDirectoryRead(afc_, dir, &name) == 0 && name) names.push_back(name);
        EXPECT_EQ(AFCDirectoryRead(afc_, dir, &name), 0) << "reading past the end still succeeds";
        EXPECT_EQ(name, nullptr);
        AFCDirectoryClose(afc_, dir);
        return names;
    }

    // Opens, reads up to limit bytes with one read, closes. none when the open fails.
    std::optional<std::string> Read(const char* path, uint64_t mode = 2, uint32_t limit = 4096) {
        AFCFileRef file = 0;
        if (AFCFileRefOpen(afc_, path, mode, &file) != 0) return std::nullopt;
        std::string buffer(limit, '\0');
        uint32_t length = limit;
        AFCFileRefRead(afc_, file, buffer.data(), &length);
        AFCFileRefClose(afc_, file);
        buffer.resize(length);
        return buffer;
    }

    AppleResult Write(const char* path, const std::string& bytes, uint64_t mode = 3) {
        AFCFileRef file = 0;
        const AppleResult open = AFCFileRefOpen(afc_, path, mode, &file);
        if (open != 0) return open;
        const AppleResult write =
            AFCFileRefWrite(afc_, file, bytes.data(), static_cast<uint32_t>(bytes.size()));
        AFCFileRefClose(afc_, file);
        return write;
    }

    std::vector<std::pair<std::string, std::string>> Info(const char* path) {
        std::vector<std::pair<std::string, std::string>> pairs;
        AFCFileInfoRef info = nullptr;
        if (AFCFileInfoOpen(afc_, path, &info) != 0) return pairs;
        char* key = nullptr;
        char* value = nullptr;
        while (AFCKeyValueRead(info, &key, &value) == 0 && key && value) pairs.emplace_back(key, value);
        AFCKeyValueClose(info);
        return pairs;
    }

    fs::path media_;
    AFCConnectionRef afc_ = nullptr;
};

TEST_F(AfcTest, OpenModes) {
    WriteFile(media_ / "existing", "hello");
    struct Case {
        const char* path;
        uint64_t mode;
        bool opens;
    } cases[] = {
        {"/existing", 1, true},  {"/missing", 1, false}, {"/existing", 2, true},
        {"/missing", 2, false},  {"/new", 3, true},      {"/existing", 0, false},
        {"/existing", 9, false}, {"/", 1, false},        {"/nodir/file", 3, false},
    };
    for (const Case& c : cases) {
        AFCFileRef file = 0;
        EXPECT_EQ(AFCFileRefOpen(afc_, c.path, c.mode, &file) == 0, c.opens) << c.path << " mode " << c.mode;
        if (file) AFCFileRefClose(afc_, file);
    }
    EXPECT_TRUE(fs::exists(media_ / "new")) << "mode 3 creates";
    EXPECT_FALSE(fs::exists(media_ / "missing")) << "modes 1 and 2 do not";
}

TEST_F(AfcTest, WriteTruncatesAndReadReturnsWhatFits) {
    WriteFile(media_ / "f", "a much longer old content");
    ASSERT_EQ(Write("/f", "new"), 0);
    EXPECT_EQ(ReadFile(media_ / "f"), "new");
    EXPECT_EQ(Read("/f"), "new") << "a read asks for more than there is";
    EXPECT_EQ(Read("/f", 1, 2), "ne") << "and stops at the buffer size";
    ASSERT_EQ(Write("/empty", ""), 0);
    EXPECT_EQ(Read("/empty"), "");
}

TEST_F(AfcTest, ModesLimitTheDirection) {
    WriteFile(media_ / "f", "data");
    AFCFileRef file = 0;
    ASSERT_EQ(AFCFileRefOpen(afc_, "/f", 1, &file), 0);
    EXPECT_NE(AFCFileRefWrite(afc_, file, "x", 1), 0) << "mode 1 is read only";
    AFCFileRefClose(afc_, file);
    ASSERT_EQ(AFCFileRefOpen(afc_, "/f", 3, &file), 0);
    char buffer[8];
    uint32_t length = sizeof buffer;
    EXPECT_NE(AFCFileRefRead(afc_, file, buffer, &length), 0) << "mode 3 is write only";
    EXPECT_EQ(length, 0u);
    AFCFileRefClose(afc_, file);
}

TEST_F(AfcTest, ListingHasDotEntriesFirstAndEndsWithNone) {
    fs::create_directories(media_ / "dir" / "sub");
    WriteFile(media_ / "dir" / "b.m4r", "");
    WriteFile(media_ / "dir" / "a.m4r", "");
    EXPECT_EQ(List("/dir"), (std::vector<std::string>{".", "..", "a.m4r", "b.m4r", "sub"}));
    EXPECT_EQ(List("/dir/"), List("/dir")) << "a trailing slash names the same folder";
    EXPECT_EQ(List("/dir/sub"), (std::vector<std::string>{".", ".."}));
    EXPECT_EQ(List("/dir/a.m4r"), std::vector<std::string>{"<no listing>"});
    EXPECT_EQ(List("/none"), std::vector<std::string>{"<no listing>"});
}

TEST_F(AfcTest, CreateDirectoryIsHarmlessWhenItExists) {
    EXPECT_EQ(AFCDirectoryCreate(afc_, "/iTunes_Control/Ringtones/Sync/"), 0);
    WriteFile(media_ / "iTunes_Control" / "Ringtones" / "Sync" / "keep", "x");
    EXPECT_EQ(AFCDirectoryCreate(afc_, "/iTunes_Control/Ringtones/Sync/"), 0);
    EXPECT_EQ(ReadFile(media_ / "iTunes_Control" / "Ringtones" / "Sync" / "keep"), "x");
    WriteFile(media_ / "plain", "");
    EXPECT_NE(AFCDirectoryCreate(afc_, "/plain"), 0) << "a file is in the way";
}

TEST_F(AfcTest, RemoveTakesFilesAndEmptyFoldersOnly) {
    fs::create_directories(media_ / "full" / "inner");
    fs::create_directories(media_ / "empty");
    WriteFile(media_ / "file", "");
    struct Case {
        const char* path;
        bool removed;
    } cases[] = {{"/full", false}, {"/empty/", true}, {"/file", true}, {"/file", false}, {"/", false}};
    for (const Case& c : cases) EXPECT_EQ(AFCRemovePath(afc_, c.path) == 0, c.removed) << c.path;
    EXPECT_TRUE(fs::exists(media_ / "full" / "inner"));
    EXPECT_FALSE(fs::exists(media_ / "empty"));
    EXPECT_TRUE(fs::exists(media_)) << "the partition itself stays";
}

TEST_F(AfcTest, PathsStayInsideThePartition) {
    WriteFile(PhoneDir("p1") / "secret", "outside");
    fs::create_directories(media_ / "a");
    WriteFile(media_ / "a" / "x", "inside");
    struct Case {
        const char* path;
        bool allowed;
    } cases[] = {
        {"/../secret", false}, {"/a/../../secret", false}, {"/a/../../media/a/x", false},
        {"/a/../a/x", true},   {"/./a//x", true},          {"a/x", false},
        {"", false},
    };
    for (const Case& c : cases) EXPECT_EQ(Read(c.path).has_value(), c.allowed) << c.path;
    EXPECT_NE(AFCRemovePath(afc_, "/../secret"), 0);
    EXPECT_NE(AFCFileRefOpen(afc_, nullptr, 1, nullptr), 0);
    EXPECT_TRUE(fs::exists(PhoneDir("p1") / "secret"));
}

TEST_F(AfcTest, FileInfoListsSeveralPairsWithSizeNotFirst) {
    WriteFile(media_ / "tone.m4r", std::string(1234, 'x'));
    const auto pairs = Info("/tone.m4r");
    ASSERT_GE(pairs.size(), 3u);
    EXPECT_NE(pairs.front().first, "st_size");
    std::map<std::string, std::string> byKey(pairs.begin(), pairs.end());
    EXPECT_EQ(byKey["st_size"], "1234");
    EXPECT_EQ(byKey["st_ifmt"], "S_IFREG");
    fs::create_directories(media_ / "d");
    const auto dirPairs = Info("/d");
    const std::map<std::string, std::string> dirKeys(dirPairs.begin(), dirPairs.end());
    EXPECT_EQ(dirKeys.at("st_ifmt"), "S_IFDIR");
    EXPECT_TRUE(Info("/missing").empty());
}

TEST_F(AfcTest, OddNamesAreStoredAndListedSafely) {
    const std::string names[] = {"铃声 Bell.m4r", "semi;colon & more", std::string(200, 'n'),
                                 "\xFF\xFE invalid utf8"};
    ASSERT_EQ(AFCDirectoryCreate(afc_, "/odd"), 0);
    for (const std::string& name : names) {
        const std::string path = "/odd/" + name;
        EXPECT_EQ(Write(path.c_str(), name), 0) << name;
        auto back = Read(path.c_str());
        ASSERT_TRUE(back.has_value()) << name;
        EXPECT_EQ(*back, name);
    }
    const auto listed = List("/odd");
    EXPECT_EQ(listed.size(), 2 + std::size(names));
    // Valid UTF-8 names come back exactly; an invalid one is some safe name (raw bytes on POSIX,
    // replacement characters on Windows).
    for (size_t i = 0; i < 3; ++i)
        EXPECT_NE(std::find(listed.begin(), listed.end(), names[i]), listed.end()) << names[i];
    const std::string tooLong = "/odd/" + std::string(300, 'z');
    EXPECT_NE(Write(tooLong.c_str(), "x"), 0);
    std::string deep;
    for (int i = 0; i < 2000; ++i) deep += "/d";
    EXPECT_NE(AFCDirectoryCreate(afc_, deep.c_str()), 0) << "a path too long for the phone";
}

TEST_F(AfcTest, HandlesFromAnotherConnectionAreRefused) {
    WriteFile(media_ / "f", "x");
    AFCConnectionRef other = OpenMedia("p1");
    ASSERT_NE(other, nullptr);
    AFCFileRef file = 0;
    ASSERT_EQ(AFCFileRefOpen(afc_, "/f", 1, &file), 0);
    char c;
    uint32_t length = 1;
    EXPECT_NE(AFCFileRefRead(other, file, &c, &length), 0);
    EXPECT_NE(AFCFileRefClose(other, file), 0);
    EXPECT_EQ(AFCFileRefClose(afc_, file), 0);
    EXPECT_NE(AFCFileRefClose(afc_, file), 0) << "closed twice";
    AFCConnectionClose(other);
}

}  // namespace
}  // namespace phonesim_test
