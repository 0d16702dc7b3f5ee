// Scratch files and the flushed renames that put results in place: a live writer's scratch
// file is never taken for a leftover, a dead one's always is, and a replace never loses either
// file.
#include "support/temporary_files.h"
#include "support/durable_files.h"
#include "support/file_helpers.h"
#include "support/unicode_text.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

class TemporaryFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = "/tmp/reframe-scratch-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder = pattern + "/";
    }
    void TearDown() override { fs::remove_all(folder); }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder))
            names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }
    void Write(const std::string& name, const std::string& text) const {
        std::ofstream(folder + name, std::ios::binary) << text;
    }
    std::string Read(const std::string& name) const {
        std::ifstream in(folder + name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::u16string Folder16() const { return FromUtf8(folder); }
    std::string folder;
};

// Whether another open of the file can take its lock now.
bool Lockable(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
    close(fd);
    return free;
}

TEST_F(TemporaryFiles, AreBornLockedWithTheUsualPermissionsAndTheirOwnName) {
    std::vector<std::string> hooked;
    TemporaryFile file;
    ASSERT_TRUE(
        CreateTemporaryFile(Folder16(), &file, [&](const std::u16string& path, int descriptor) {
            // Told before the name exists, so a clean-up on a
            // signal knows it from the start.
            EXPECT_FALSE(fs::exists(ToUtf8(path)));
            EXPECT_GE(descriptor, 0);
            hooked.push_back(ToUtf8(path));
        }));
    const std::string path = ToUtf8(file.path);
    ASSERT_EQ(hooked, std::vector<std::string>{path});
    EXPECT_TRUE(IsTemporaryName(fs::path(path).filename().string()));
    EXPECT_TRUE(IsTemporaryName(std::u16string_view(file.path).substr(folder.size())));
    EXPECT_TRUE(fs::is_regular_file(path));
    EXPECT_FALSE(Lockable(path));
    const mode_t mask = umask(0);
    umask(mask);
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0666u & ~mask);

    TemporaryFile other;
    ASSERT_TRUE(CreateTemporaryFile(Folder16(), &other));
    EXPECT_NE(other.path, file.path);
    ReleaseTemporaryFile(&other, true);
    ReleaseTemporaryFile(&file, false);
    EXPECT_TRUE(Lockable(hooked[0]));  // kept, and free for the next run to take
    EXPECT_EQ(Names().size(), 1u);
    ReleaseTemporaryFile(&file, true);  // an empty record: nothing happens
    EXPECT_EQ(Names().size(), 1u);
}

TEST_F(TemporaryFiles, OnlyThoseOfDeadWritersAreRemoved) {
    // A writer that dies without a word, as one killed with SIGKILL.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        TemporaryFile file;
        _exit(CreateTemporaryFile(Folder16(), &file) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_EQ(status, 0);
    TemporaryFile living;
    ASSERT_TRUE(CreateTemporaryFile(Folder16(), &living));
    // Names of other forms, and things that are not plain files, are never ours to remove.
    Write(".reframe-short.avi", "x");
    Write(".reframe-ABCDEF.avi.keep", "x");
    Write("clip.avi", "x");
    fs::create_directory(folder + ".reframe-Folder.avi");
    fs::create_symlink(folder + "clip.avi", folder + ".reframe-Linked.avi");
    ASSERT_EQ(Names().size(), 7u);

    EXPECT_EQ(RemoveStaleTemporaries(Folder16()), 1);
    std::vector<std::string> kept{
        ".reframe-ABCDEF.avi.keep", ".reframe-Folder.avi",
        ".reframe-Linked.avi",      fs::path(ToUtf8(living.path)).filename().string(),
        ".reframe-short.avi",       "clip.avi"};
    std::sort(kept.begin(), kept.end());  // the living file's name is random
    EXPECT_EQ(Names(), kept);
    EXPECT_EQ(RemoveStaleTemporaries(Folder16()), 0);
    ReleaseTemporaryFile(&living, true);
    EXPECT_EQ(RemoveStaleTemporaries(Folder16() + u"no/such/folder/"), 0);
}

TEST_F(TemporaryFiles, ReleaseRemovesOnlyWhatStillBearsTheName) {
    TemporaryFile file;
    ASSERT_TRUE(CreateTemporaryFile(Folder16(), &file));
    const std::string scratch = ToUtf8(file.path);
    ASSERT_EQ(rename(scratch.c_str(), (folder + "result.avi").c_str()), 0);
    Write(fs::path(scratch).filename(), "someone else's");
    ReleaseTemporaryFile(&file, true);
    EXPECT_TRUE(fs::exists(folder + "result.avi"));
    EXPECT_EQ(Read(fs::path(scratch).filename()), "someone else's");
}

TEST_F(TemporaryFiles, ReplacingKeepsTheOldFilesPermissionsOrLeavesBothAlone) {
    Write("new.avi", "new");
    Write("old.avi", "old");
    ASSERT_EQ(chmod((folder + "old.avi").c_str(), 0604), 0);
    ASSERT_NE(ReplaceFileDurably(FromUtf8(folder + "new.avi"), FromUtf8(folder + "old.avi")), 0);
    EXPECT_EQ(Read("old.avi"), "new");
    EXPECT_FALSE(fs::exists(folder + "new.avi"));
    struct stat info {};
    ASSERT_EQ(stat((folder + "old.avi").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0604u);

    // A folder in the way: nothing moves.
    Write("next.avi", "next");
    fs::create_directory(folder + "busy.avi");
    Write("busy.avi/inside", "x");
    EXPECT_EQ(ReplaceFileDurably(FromUtf8(folder + "next.avi"), FromUtf8(folder + "busy.avi")), 0);
    EXPECT_EQ(Read("next.avi"), "next");
    EXPECT_TRUE(fs::is_directory(folder + "busy.avi"));

    // The plain rename never replaces.
    EXPECT_EQ(RenameFileDurably(FromUtf8(folder + "next.avi"), FromUtf8(folder + "old.avi")), 0);
    EXPECT_EQ(Read("old.avi"), "new");
    EXPECT_NE(RenameFileDurably(FromUtf8(folder + "next.avi"), FromUtf8(folder + "fresh.avi")), 0);
    EXPECT_EQ(Read("fresh.avi"), "next");
}

TEST_F(TemporaryFiles, NamesAreJudgedByTheLimitsOfTheirFileSystem) {
    EXPECT_EQ(PathFitsFileSystem(FromUtf8(folder + std::string(255, 'n'))), 1);
    EXPECT_EQ(PathFitsFileSystem(FromUtf8(folder + std::string(256, 'n'))), 0);
    std::string deep = folder;
    while (deep.size() < 4100) deep += std::string(200, 'd') + "/";
    EXPECT_EQ(PathFitsFileSystem(FromUtf8(deep + "x.avi")), 0);
    EXPECT_EQ(PathFitsFileSystem(u"clip.avi"), 1);

    EXPECT_EQ(ResultMayTakeName(FromUtf8(folder + "free.avi")), 1);
    Write("taken.avi", "x");
    EXPECT_EQ(ResultMayTakeName(FromUtf8(folder + "taken.avi")), 1);
    EXPECT_EQ(ResultMayTakeName(u"/dev/null"), 0);
    ASSERT_EQ(mkfifo((folder + "pipe.avi").c_str(), 0600), 0);
    EXPECT_EQ(ResultMayTakeName(FromUtf8(folder + "pipe.avi")), 0);
    EXPECT_EQ(ResultMayTakeName(FromUtf8(folder)), 0);
}

}  // namespace
