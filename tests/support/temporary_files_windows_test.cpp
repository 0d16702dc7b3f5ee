// Scratch files and durable renames on Windows: a held scratch file is never taken for a
// leftover while its lock is open, an unheld one always is, others can still write, rename
// and flush a held one, and a replace puts the new file in the old one's place whole.
#include "support/durable_files.h"
#include "support/file_helpers.h"
#include "support/temporary_files.h"
#include "support/unicode_text.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::u16string FOREIGN = u"\u03a9\u03bc\u03ad\u03b3\u03b1 \u6f22\u5b57 \U0001F600";
constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

class WindowsTemporaryFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        std::random_device random;
        // A folder whose name no ANSI code page holds, so that every call must be a W call.
        root_ = fs::temp_directory_path() / ("reframe-scratch-" + std::to_string(random()));
        const fs::path inner = root_ / fs::path(FOREIGN);
        ASSERT_TRUE(fs::create_directories(inner));
        folder = ToUtf8(inner.u16string()) + "\\";
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(fs::path(FromUtf8(folder))))
            names.push_back(ToUtf8(entry.path().filename().u16string()));
        std::sort(names.begin(), names.end());
        return names;
    }
    std::u16string At(const std::string& name) const { return FromUtf8(folder + name); }
    void Write(const std::string& name, const std::string& text) const {
        std::ofstream(fs::path(At(name)), std::ios::binary) << text;
    }
    std::string Read(const std::string& name) const {
        std::ifstream in(fs::path(At(name)), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    // Opens a file as the byte writer does: sharing read, write and delete.
    static HANDLE OpenShared(const std::u16string& path) {
        return CreateFileW(ToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE, SHARE_ALL, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }

    std::u16string Folder16() const { return FromUtf8(folder); }
    fs::path root_;
    std::string folder;  // UTF-8, ending in a backslash
};

TEST_F(WindowsTemporaryFiles, AreBornHeldAndTheHookLearnsTheLock) {
    std::vector<std::string> hooked;
    ScratchLock hookedLock = NO_SCRATCH_LOCK;
    TemporaryFile file;
    ASSERT_TRUE(
        CreateTemporaryFile(Folder16(), &file, [&](const std::u16string& path, ScratchLock lock) {
            hooked.push_back(ToUtf8(path));
            hookedLock = lock;
        }));
    ASSERT_EQ(hooked, std::vector<std::string>{ToUtf8(file.path)});
    EXPECT_EQ(hookedLock, file.lock);
    EXPECT_TRUE(IsTemporaryName(fs::path(file.path).filename().u16string()));
    EXPECT_EQ(PathExists(file.path), 1);

    // Held: nobody gets the file to himself, yet everyone may read and write it.
    EXPECT_EQ(CreateFileW(ToWide(file.path).c_str(), DELETE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    HANDLE writer = OpenShared(file.path);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    DWORD wrote = 0;
    EXPECT_TRUE(WriteFile(writer, "data", 4, &wrote, nullptr));
    CloseHandle(writer);
    EXPECT_NE(FlushFileToDisk(file.path), 0);

    TemporaryFile other;
    ASSERT_TRUE(CreateTemporaryFile(Folder16(), &other));
    EXPECT_NE(other.path, file.path);
    const std::u16string otherPath = other.path;
    ReleaseTemporaryFile(&other, true);
    EXPECT_EQ(PathExists(otherPath), 0);
    ReleaseTemporaryFile(&file, false);
    EXPECT_EQ(Read(fs::path(FromUtf8(hooked[0])).filename().string()), "data");  // kept
    EXPECT_EQ(Names().size(), 1u);
    ReleaseTemporaryFile(&file, true);  // an empty record: nothing happens
    EXPECT_EQ(Names().size(), 1u);
}

// The path stays UTF-16 from the folder to the system call: a folder whose name holds a lone
// surrogate, which NTFS allows, has no UTF-8 form and would be another folder after one.
TEST_F(WindowsTemporaryFiles, LiveInFoldersWhoseNamesHaveNoUtf8Form) {
    const std::u16string odd = root_.u16string() + u"\\lone \xD800 half\\";
    if (!CreateDirectoryW(ToWide(odd).c_str(), nullptr))
        GTEST_SKIP() << "this system refuses a lone surrogate in a folder's name";
    TemporaryFile file;
    ASSERT_TRUE(CreateTemporaryFile(odd, &file));
    EXPECT_EQ(file.path.substr(0, odd.size()), odd);
    EXPECT_EQ(PathExists(file.path), 1);
    ReleaseTemporaryFile(&file, false);
    EXPECT_EQ(RemoveStaleTemporaries(odd), 1);
    EXPECT_TRUE(RemoveDirectoryW(ToWide(odd).c_str()));
}

TEST_F(WindowsTemporaryFiles, OnlyThoseNoOneHoldsAreRemoved) {
    // A writer that died: its lock closed without a word, as the system closes a killed
    // process's handles.
    TemporaryFile dead;
    ASSERT_TRUE(CreateTemporaryFile(Folder16(), &dead));
    CloseHandle(dead.lock);
    TemporaryFile living;
    ASSERT_TRUE(CreateTemporaryFile(Folder16(), &living));
    // Names of other forms, and folders, are never ours to remove.
    Write(".reframe-short.avi", "x");
    Write(".reframe-ABCDEF.avi.keep", "x");
    Write("clip.avi", "x");
    fs::create_directory(fs::path(At(".reframe-Folder.avi")));
    ASSERT_EQ(Names().size(), 6u);

    EXPECT_EQ(RemoveStaleTemporaries(Folder16()), 1);
    const std::string livingName = fs::path(living.path).filename().string();
    std::vector<std::string> kept{".reframe-ABCDEF.avi.keep", ".reframe-Folder.avi", livingName,
                                  ".reframe-short.avi", "clip.avi"};
    std::sort(kept.begin(), kept.end());  // the living file's name is random
    EXPECT_EQ(Names(), kept);

    // Someone else's open of a scratch file holds it as well as the lock does.
    ReleaseTemporaryFile(&living, false);
    HANDLE reader = OpenShared(At(livingName));
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_EQ(RemoveStaleTemporaries(Folder16()), 0);
    CloseHandle(reader);
    EXPECT_EQ(RemoveStaleTemporaries(Folder16()), 1);
    EXPECT_EQ(Names().size(), 4u);
    EXPECT_EQ(RemoveStaleTemporaries(Folder16() + u"no\\such\\folder\\"), 0);
}

TEST_F(WindowsTemporaryFiles, ReleaseRemovesOnlyWhatStillBearsTheName) {
    TemporaryFile file;
    ASSERT_TRUE(CreateTemporaryFile(Folder16(), &file));
    const std::u16string scratch = file.path;
    // Renamed into place while the lock is held, then another file takes the scratch name.
    ASSERT_NE(RenameFileDurably(scratch, At("result.avi")), 0);
    const std::string scratchName = fs::path(scratch).filename().string();
    Write(scratchName, "someone else's");
    ReleaseTemporaryFile(&file, true);
    EXPECT_EQ(PathExists(At("result.avi")), 1);
    EXPECT_EQ(Read(scratchName), "someone else's");

    // Still bearing its name: removed, and at once, although a writer holds it open too.
    ASSERT_TRUE(CreateTemporaryFile(Folder16(), &file));
    const std::string name = fs::path(file.path).filename().string();
    HANDLE writer = OpenShared(file.path);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    ReleaseTemporaryFile(&file, true);
    CloseHandle(writer);
    EXPECT_EQ(PathExists(At(name)), 0);
}

TEST_F(WindowsTemporaryFiles, ReplacingPutsTheNewFileInTheOldOnesPlace) {
    Write("new.avi", "new");
    Write("old " + ToUtf8(FOREIGN) + ".avi", "old");
    const std::u16string old = At("old " + ToUtf8(FOREIGN) + ".avi");
    ASSERT_NE(ReplaceFileDurably(At("new.avi"), old), 0);
    EXPECT_EQ(Read("old " + ToUtf8(FOREIGN) + ".avi"), "new");
    EXPECT_EQ(PathExists(At("new.avi")), 0);

    // A scratch file whose lock is still held can replace the destination.
    TemporaryFile file;
    ASSERT_TRUE(CreateTemporaryFile(Folder16(), &file));
    HANDLE writer = OpenShared(file.path);
    DWORD wrote = 0;
    ASSERT_TRUE(WriteFile(writer, "scratch", 7, &wrote, nullptr));
    CloseHandle(writer);
    ASSERT_NE(ReplaceFileDurably(file.path, old), 0);
    ReleaseTemporaryFile(&file, true);  // the name leads elsewhere now: nothing is removed
    EXPECT_EQ(Read("old " + ToUtf8(FOREIGN) + ".avi"), "scratch");

    // A folder in the way: nothing moves.
    Write("next.avi", "next");
    fs::create_directory(fs::path(At("busy.avi")));
    EXPECT_EQ(ReplaceFileDurably(At("next.avi"), At("busy.avi")), 0);
    EXPECT_EQ(Read("next.avi"), "next");
    EXPECT_EQ(IsFolder(At("busy.avi")), 1);

    // The plain rename never replaces, and says why.
    errno = 0;
    EXPECT_EQ(RenameFileDurably(At("next.avi"), old), 0);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(Read("old " + ToUtf8(FOREIGN) + ".avi"), "scratch");
    EXPECT_NE(RenameFileDurably(At("next.avi"), At("fresh.avi")), 0);
    EXPECT_EQ(Read("fresh.avi"), "next");
    EXPECT_NE(FlushFolderOf(At("fresh.avi")), 0);
}

}  // namespace
