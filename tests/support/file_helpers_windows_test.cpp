// The file helpers on Windows: backslashes, drive roots, devices, and names that no ANSI code
// page holds (Greek, CJK, an emoji).
#include "support/file_helpers.h"

#include "support/unicode_text.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::u16string FOREIGN = u"\u03a9\u03bc\u03ad\u03b3\u03b1 \u6f22\u5b57 \U0001F600";

class WindowsFileHelpers : public ::testing::Test {
  protected:
    void SetUp() override {
        std::random_device random;
        folder_ = fs::temp_directory_path() / ("reframe-files-" + std::to_string(random()));
        ASSERT_TRUE(fs::create_directory(folder_));
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
    // A path in the scratch folder, as the program holds paths.
    std::u16string At(const std::u16string& name) const {
        return (folder_ / fs::path(name)).u16string();
    }
    static void Write(const std::u16string& path, const std::string& text) {
        std::ofstream(fs::path(path), std::ios::binary) << text;
    }
    static std::string Read(const std::u16string& path) {
        std::ifstream in(fs::path(path), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    fs::path folder_;
};

TEST_F(WindowsFileHelpers, CurrentDirectoryEndsInOneBackslash) {
    const fs::path saved = fs::current_path();
    const std::u16string inner = At(u"d\u00e9j\u00e0 " + FOREIGN);
    fs::create_directory(fs::path(inner));
    fs::current_path(fs::path(inner));
    const std::u16string inside = CurrentDirectory();
    fs::current_path(folder_.root_path());
    const std::u16string root = CurrentDirectory();
    fs::current_path(saved);

    EXPECT_EQ(inside, inner + u"\\");
    EXPECT_EQ(root, folder_.root_path().u16string());  // C:\ already ends in its backslash
    EXPECT_EQ(root.back(), u'\\');
    EXPECT_NE(root.substr(root.size() - 2), u"\\\\");
}

TEST_F(WindowsFileHelpers, RemoveAndRenameTakeAnyName) {
    const std::u16string file = At(FOREIGN + u".avi");
    Write(file, "x");
    EXPECT_EQ(PathExists(file), 1);
    const std::u16string renamed = At(u"\u65b0 " + FOREIGN + u".avi");
    EXPECT_NE(RenameFileTo(file, renamed), 0);
    EXPECT_EQ(PathExists(file), 0);
    EXPECT_EQ(Read(renamed), "x");
    EXPECT_NE(RemoveFile(renamed), 0);
    EXPECT_EQ(PathExists(renamed), 0);
    EXPECT_EQ(RemoveFile(renamed), 0);  // already gone
    EXPECT_EQ(RemoveFile(u""), 0);

    // Folders are not files.
    fs::create_directory(fs::path(At(u"dir")));
    EXPECT_EQ(RemoveFile(At(u"dir")), 0);
    EXPECT_EQ(IsFolder(At(u"dir")), 1);
}

TEST_F(WindowsFileHelpers, RenameNeverReplacesAndMovesBetweenFolders) {
    Write(At(u"new.avi"), "new");
    Write(At(u"old.avi"), "old");
    EXPECT_EQ(RenameFileTo(At(u"new.avi"), At(u"old.avi")), 0);
    EXPECT_EQ(Read(At(u"new.avi")), "new");
    EXPECT_EQ(Read(At(u"old.avi")), "old");
    RenameFileTo(At(u"new.avi"), At(u"new.avi"));  // onto itself: nothing is lost
    EXPECT_EQ(Read(At(u"new.avi")), "new");

    fs::create_directory(fs::path(At(FOREIGN)));
    EXPECT_NE(RenameFileTo(At(u"new.avi"), At(FOREIGN + u"\\moved.avi")), 0);
    EXPECT_EQ(Read(At(FOREIGN + u"\\moved.avi")), "new");

    EXPECT_EQ(RenameFileTo(u"", At(u"b.avi")), 0);
    EXPECT_EQ(RenameFileTo(At(u"old.avi"), u""), 0);
    EXPECT_EQ(RenameFileTo(At(u"missing.avi"), At(u"b.avi")), 0);
    EXPECT_EQ(RenameFileTo(At(u"old.avi"), At(u"no-such-dir\\b.avi")), 0);
    EXPECT_EQ(Read(At(u"old.avi")), "old");
}

TEST_F(WindowsFileHelpers, FilesAreKnownByTheirIdentity) {
    Write(At(FOREIGN + u".avi"), "x");
    Write(At(u"other.avi"), "x");
    EXPECT_EQ(NameSameFile(At(FOREIGN + u".avi"), At(FOREIGN + u".avi")), 1);
    // The same file written another way: forward slashes, a detour through "..".
    const std::u16string detour = At(u"dir\\..\\" + FOREIGN + u".avi");
    fs::create_directory(fs::path(At(u"dir")));
    EXPECT_EQ(NameSameFile(At(FOREIGN + u".avi"), detour), 1);
    ASSERT_TRUE(CreateHardLinkW(ToWide(At(u"link.avi")).c_str(),
                                ToWide(At(FOREIGN + u".avi")).c_str(), nullptr));
    EXPECT_EQ(NameSameFile(At(u"link.avi"), At(FOREIGN + u".avi")), 1);
    EXPECT_EQ(NameSameFile(At(u"other.avi"), At(FOREIGN + u".avi")), 0);
    EXPECT_EQ(NameSameFile(At(u"missing.avi"), At(u"missing.avi")), 0);

    // A stamp changes with the contents and the identity, not with a second look.
    const FileStamp before = StampOf(At(u"other.avi"));
    EXPECT_EQ(StampOf(At(u"other.avi")), before);
    EXPECT_EQ(before.size, 1u);
    EXPECT_NE(before.changedSeconds, 0);
    // Within a second of now: the conversion from the 1601-based FILETIME is right.
    const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    EXPECT_LE(std::abs(before.changedSeconds - now), 120);
    Write(At(u"other.avi"), "xy");
    EXPECT_NE(StampOf(At(u"other.avi")), before);
    EXPECT_EQ(StampOf(At(u"missing.avi")), FileStamp{});
}

TEST_F(WindowsFileHelpers, DevicesAndFoldersAreNeverAResultsPlace) {
    for (const std::u16string& device : std::vector<std::u16string>{
             u"NUL", u"CON", u"COM1", u"\\\\.\\NUL", At(u"nul"), At(u"con")})
        EXPECT_EQ(ResultMayTakeName(device), 0) << ToUtf8(device);
    EXPECT_EQ(IsSpecialFile(u"NUL"), 1);
    EXPECT_EQ(IsSpecialFile(folder_.u16string()), 1);
    EXPECT_EQ(ResultMayTakeName(folder_.u16string()), 0);

    EXPECT_EQ(ResultMayTakeName(At(FOREIGN + u".avi")), 1);  // nothing there yet
    Write(At(u"taken.avi"), "x");
    EXPECT_EQ(IsSpecialFile(At(u"taken.avi")), 0);
    EXPECT_EQ(ResultMayTakeName(At(u"taken.avi")), 1);
    SetFileAttributesW(ToWide(At(u"taken.avi")).c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(ResultMayTakeName(At(u"taken.avi")), 0);
    SetFileAttributesW(ToWide(At(u"taken.avi")).c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(WindowsFileHelpers, NamesAreJudgedByTheirLength) {
    EXPECT_EQ(PathFitsFileSystem(At(std::u16string(100, u'n'))), 1);
    EXPECT_EQ(PathFitsFileSystem(u"clip.avi"), 1);
    EXPECT_EQ(PathFitsFileSystem(u""), 0);
    // Without the extended-length prefix the whole path must stay below MAX_PATH.
    std::u16string deep = At(u"");
    while (deep.size() < MAX_PATH) deep += u"d\\";
    EXPECT_EQ(PathFitsFileSystem(deep + u"x.avi"), 0);
    EXPECT_EQ(PathFitsFileSystem(u"\\\\?\\" + deep + u"x.avi"), 1);
    EXPECT_EQ(PathFitsFileSystem(u"\\\\?\\" + At(std::u16string(256, u'n'))), 0);
}

TEST(WindowsPause, WaitsAtLeastTheGivenTime) {
    using Clock = std::chrono::steady_clock;
    auto start = Clock::now();
    Pause(30);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(29));
    start = Clock::now();
    Pause(0);
    Pause(INT32_MIN);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
}

}  // namespace
