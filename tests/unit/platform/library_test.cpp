// Loading libraries by bare name through PATH, by full path, and finding exports.
#include "platform/platform.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace {

namespace fs = std::filesystem;

using AnswerFunction = int (*)(int);

fs::path BuiltTestLibrary() { return testsupport::OwnExecutable().parent_path() / "testlib" / "PlatformTestLib.dll"; }

// Each case loads its own copy under its own file name, so that on Windows a module loaded by an
// earlier case cannot answer for the search of a later one. Copies live in the build folder:
// a loaded DLL cannot be deleted on Windows, and the next run overwrites them.
class LibraryLoading : public ::testing::Test {
protected:
    void SetUp() override {
        savedPath_ = platform::GetEnv(u"PATH");
        ASSERT_TRUE(fs::exists(BuiltTestLibrary())) << BuiltTestLibrary();
    }
    void TearDown() override {
        if (savedPath_) {
            platform::SetEnv(u"PATH", *savedPath_);
        } else {
            platform::UnsetEnv(u"PATH");
        }
    }

    // Copies the test library into its own folder as `fileName`; returns the folder.
    static fs::path PlaceCopy(const std::string& folder, const std::string& fileName) {
        const fs::path dir = testsupport::OwnExecutable().parent_path() / "libcopies" / folder;
        fs::create_directories(dir);
        // Replaced by remove-then-copy: mingw's copy_file refuses to overwrite even when told to.
        // A copy this process has loaded cannot be removed on Windows; it is kept as it is.
        std::error_code ignored;
        fs::remove(dir / fileName, ignored);
        if (!fs::exists(dir / fileName)) fs::copy_file(BuiltTestLibrary(), dir / fileName);
        return dir;
    }

    static void ExpectWorkingLibrary(platform::LibraryHandle library) {
        ASSERT_NE(library, nullptr);
        auto answer = reinterpret_cast<AnswerFunction>(platform::FindExport(library, "PlatformTestLibAnswer"));
        ASSERT_NE(answer, nullptr);
        EXPECT_EQ(answer(20), 41);
        EXPECT_EQ(platform::FindExport(library, "PlatformTestLibNoSuchExport"), nullptr);
    }

    std::optional<std::u16string> savedPath_;
};

// PATH as Windows builds it: ';' separators, folders with or without a trailing separator,
// empty entries and folders that do not exist. {dir} marks where the library's folder goes.
struct PathCase {
    const char* label;
    std::u16string layout;
};

void PrintTo(const PathCase& c, std::ostream* out) { *out << c.label; }

class LibraryPathSearch : public LibraryLoading, public ::testing::WithParamInterface<PathCase> {};

std::u16string Expand(std::u16string layout, const std::u16string& dir) {
    const std::u16string marker = u"{dir}";
    for (size_t at = layout.find(marker); at != std::u16string::npos; at = layout.find(marker, at + dir.size())) {
        layout.replace(at, marker.size(), dir);
    }
    return layout;
}

TEST_P(LibraryPathSearch, FindsTheLibraryByBareName) {
    const std::string label = GetParam().label;
    const std::string fileName = "PlatformTestLib" + label + ".dll";
    const fs::path dir = PlaceCopy(label, fileName);
    const std::u16string path = Expand(GetParam().layout, dir.u16string());
    platform::SetEnv(u"PATH", path);
    ExpectWorkingLibrary(platform::LoadLibraryByName(fileName.c_str()));
}

const PathCase kPathCases[] = {
    {"Alone", u"{dir}"},
    {"TrailingSlash", u"{dir}/"},
    {"TrailingBackslash", u"{dir}\\"},
    {"AfterMissingFolders", u"/no/such/folder;C:\\no\\such\\folder\\;{dir}"},
    {"AmidEmptyEntries", u";;{dir};;"},
    {"BeforeOtherFolders", u"{dir};/usr/lib;C:\\Windows"},
};

INSTANTIATE_TEST_SUITE_P(Platform, LibraryPathSearch, ::testing::ValuesIn(kPathCases),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(LibraryLoading, MissingNamesGiveNothing) {
    const fs::path dir = PlaceCopy("Missing", "PlatformTestLibMissing.dll");
    platform::SetEnv(u"PATH", dir.u16string());
    EXPECT_EQ(platform::LoadLibraryByName("PlatformNoSuchLib.dll"), nullptr);
    EXPECT_EQ(platform::LoadLibraryByName(""), nullptr);
    EXPECT_EQ(platform::LoadLibraryByName(nullptr), nullptr);
    // The folder alone is not enough: it must be on PATH.
    platform::SetEnv(u"PATH", u"/no/such/folder;C:\\no\\such\\folder");
    EXPECT_EQ(platform::LoadLibraryByName("PlatformTestLibMissing.dll"), nullptr);
    EXPECT_EQ(platform::FindExport(nullptr, "PlatformTestLibAnswer"), nullptr);
}

TEST_F(LibraryLoading, ByFullPath) {
    const fs::path dir = PlaceCopy("ByPath", "PlatformTestLibByPath.dll");
    ExpectWorkingLibrary(platform::LoadLibraryByPath((dir / "PlatformTestLibByPath.dll").u16string()));
}

TEST_F(LibraryLoading, ByFullPathWithBackslashes) {
    const fs::path dir = PlaceCopy("ByBackslashPath", "PlatformTestLibByBackslashPath.dll");
    ExpectWorkingLibrary(platform::LoadLibraryByPath(dir.u16string() + u"\\PlatformTestLibByBackslashPath.dll"));
}

TEST_F(LibraryLoading, ByFullPathRefusesWhatIsNotALibrary) {
    testsupport::TempDir temp;
    EXPECT_EQ(platform::LoadLibraryByPath((temp.path() / "absent.dll").u16string()), nullptr);
    const fs::path fake = temp.path() / "NotALibrary.dll";
    std::ofstream(fake, std::ios::binary) << "MZ but not really a library";
    EXPECT_EQ(platform::LoadLibraryByPath(fake.u16string()), nullptr);
    EXPECT_EQ(platform::LoadLibraryByPath(u""), nullptr);
}

}  // namespace
