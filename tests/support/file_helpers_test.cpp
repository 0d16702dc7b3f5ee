#include "support/file_helpers.h"

#include "support/unicode_text.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace {

// A fresh directory made by mkdtemp under base, removed with everything in it afterwards.
class ScratchDirectory {
  public:
    explicit ScratchDirectory(const std::string& base = "/tmp") {
        std::string pattern = base + "/reframe-support-XXXXXX";
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~ScratchDirectory() {
        if (!path_.empty()) std::system(("rm -rf '" + path_ + "'").c_str());
    }
    bool ok() const { return !path_.empty(); }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

void WriteFile(const std::string& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary);
    out << contents;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool Exists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

std::u16string U(const std::string& utf8) {
    return FromUtf8(utf8);
}

class FileHelpersTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(scratch_.ok()); }
    ScratchDirectory scratch_;
};

TEST_F(FileHelpersTest, CurrentDirectoryEndsInOneSlash) {
    char saved[4096];
    ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
    // A non-ASCII name checks that the UTF-8 from the OS is decoded.
    const std::string inner = scratch_ / "d\xC3\xA9j\xC3\xA0";
    ASSERT_EQ(mkdir(inner.c_str(), 0700), 0);
    ASSERT_EQ(chdir(inner.c_str()), 0);
    const std::u16string inside = CurrentDirectory();
    ASSERT_EQ(chdir("/"), 0);
    const std::u16string root = CurrentDirectory();
    ASSERT_EQ(chdir(saved), 0);

    EXPECT_EQ(inside, FromUtf8(inner) + u"/");
    EXPECT_EQ(root, u"/");  // already ends in a slash: no second one
}

TEST_F(FileHelpersTest, RemoveFileReportsWhetherAFileWasDeleted) {
    const std::string file = scratch_ / "victim.avi";
    WriteFile(file, "x");
    EXPECT_NE(RemoveFile(U(file)), 0);
    EXPECT_FALSE(Exists(file));
    EXPECT_EQ(RemoveFile(U(file)), 0);  // already gone
    EXPECT_EQ(RemoveFile(u""), 0);
    // Directories are not files.
    const std::string directory = scratch_ / "dir";
    ASSERT_EQ(mkdir(directory.c_str(), 0700), 0);
    EXPECT_EQ(RemoveFile(U(directory)), 0);
    EXPECT_TRUE(Exists(directory));
}

TEST_F(FileHelpersTest, RenameWithinDirectoryMovesFile) {
    const std::string from = scratch_ / "clip2.avi";
    const std::string to = scratch_ / "cl\xC3\xAFp.avi";
    WriteFile(from, "compressed");
    EXPECT_NE(RenameFileTo(U(from), U(to)), 0);
    EXPECT_FALSE(Exists(from));
    EXPECT_EQ(ReadFile(to), "compressed");
}

TEST_F(FileHelpersTest, RenameNeverReplacesExistingTarget) {
    const std::string from = scratch_ / "new.avi";
    const std::string to = scratch_ / "old.avi";
    WriteFile(from, "new");
    WriteFile(to, "old");
    EXPECT_EQ(RenameFileTo(U(from), U(to)), 0);
    EXPECT_EQ(ReadFile(from), "new");
    EXPECT_EQ(ReadFile(to), "old");
    // Renaming a file onto itself is refused the same way and loses nothing.
    EXPECT_EQ(RenameFileTo(U(from), U(from)), 0);
    EXPECT_EQ(ReadFile(from), "new");
}

TEST_F(FileHelpersTest, RenameRejectsEmptyOrMissingPaths) {
    const std::string from = scratch_ / "a.avi";
    WriteFile(from, "a");
    EXPECT_EQ(RenameFileTo(u"", U(scratch_ / "b.avi")), 0);
    EXPECT_EQ(RenameFileTo(U(from), u""), 0);
    EXPECT_EQ(RenameFileTo(U(scratch_ / "missing.avi"), U(scratch_ / "b.avi")), 0);
    EXPECT_EQ(RenameFileTo(U(from), U(scratch_ / "no-such-dir/b.avi")), 0);
    EXPECT_EQ(ReadFile(from), "a");
    EXPECT_FALSE(Exists(scratch_ / "b.avi"));
}

// /dev/shm is tmpfs; the scratch directory in /tmp is usually on another file system.
class CrossFileSystemTest : public FileHelpersTest {
  protected:
    void SetUp() override {
        FileHelpersTest::SetUp();
        ASSERT_TRUE(other_.ok());
        struct stat a {
        }, b{};
        ASSERT_EQ(stat(scratch_.path().c_str(), &a), 0);
        ASSERT_EQ(stat(other_.path().c_str(), &b), 0);
        if (a.st_dev == b.st_dev) GTEST_SKIP() << "/tmp and /dev/shm share a file system";
    }
    ScratchDirectory other_{"/dev/shm"};
};

TEST_F(CrossFileSystemTest, MovesContentsModeAndTime) {
    const std::string from = scratch_ / "big.avi";
    const std::string to = other_ / "big.avi";
    std::string contents;
    for (int i = 0; i < 300000; ++i) contents.push_back(static_cast<char>(i * 7 + i / 256));
    WriteFile(from, contents);  // several copy buffers and a partial one
    ASSERT_EQ(chmod(from.c_str(), 0640), 0);
    const struct timespec times[2] = {{1000000000, 0}, {1234567890, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, from.c_str(), times, 0), 0);

    EXPECT_NE(RenameFileTo(U(from), U(to)), 0);
    EXPECT_FALSE(Exists(from));
    EXPECT_EQ(ReadFile(to), contents);
    struct stat info {};
    ASSERT_EQ(stat(to.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(info.st_mtim.tv_sec, 1234567890);
}

TEST_F(CrossFileSystemTest, MovesEmptyFile) {
    const std::string from = scratch_ / "empty.avi";
    const std::string to = other_ / "empty.avi";
    WriteFile(from, "");
    EXPECT_NE(RenameFileTo(U(from), U(to)), 0);
    EXPECT_FALSE(Exists(from));
    EXPECT_TRUE(Exists(to));
}

TEST_F(CrossFileSystemTest, NeverReplacesExistingTarget) {
    const std::string from = scratch_ / "new.avi";
    const std::string to = other_ / "old.avi";
    WriteFile(from, "new");
    WriteFile(to, "old");
    EXPECT_EQ(RenameFileTo(U(from), U(to)), 0);
    EXPECT_EQ(ReadFile(from), "new");
    EXPECT_EQ(ReadFile(to), "old");
}

TEST_F(CrossFileSystemTest, FailedMoveKeepsSourceAndLeavesNoTarget) {
    // Only regular files are copied; a directory stays where it is.
    const std::string directory = scratch_ / "dir";
    ASSERT_EQ(mkdir(directory.c_str(), 0700), 0);
    EXPECT_EQ(RenameFileTo(U(directory), U(other_ / "dir")), 0);
    EXPECT_TRUE(Exists(directory));
    EXPECT_FALSE(Exists(other_ / "dir"));

    const std::string from = scratch_ / "a.avi";
    WriteFile(from, "a");
    EXPECT_EQ(RenameFileTo(U(from), U(other_ / "missing/a.avi")), 0);
    EXPECT_EQ(ReadFile(from), "a");
}

TEST_F(CrossFileSystemTest, SourceThatCannotBeDeletedIsNotDuplicated) {
    if (geteuid() == 0) GTEST_SKIP() << "root may delete from a read-only directory";
    const std::string locked = scratch_ / "locked";
    ASSERT_EQ(mkdir(locked.c_str(), 0700), 0);
    const std::string from = locked + "/a.avi";
    WriteFile(from, "a");
    ASSERT_EQ(chmod(locked.c_str(), 0500), 0);
    EXPECT_EQ(RenameFileTo(U(from), U(other_ / "a.avi")), 0);
    chmod(locked.c_str(), 0700);
    EXPECT_EQ(ReadFile(from), "a");
    EXPECT_FALSE(Exists(other_ / "a.avi"));
}

volatile std::sig_atomic_t alarms = 0;
void CountAlarm(int) {
    alarms = alarms + 1;
}

TEST(Pause, WaitsAtLeastTheGivenTime) {
    using Clock = std::chrono::steady_clock;
    auto start = Clock::now();
    Pause(30);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(30));

    start = Clock::now();
    Pause(0);
    Pause(-1000);
    Pause(INT32_MIN);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
}

TEST(Pause, ResumesAfterSignal) {
    using Clock = std::chrono::steady_clock;
    struct sigaction action {
    }, previous{};
    action.sa_handler = CountAlarm;  // no SA_RESTART: nanosleep is interrupted
    ASSERT_EQ(sigaction(SIGALRM, &action, &previous), 0);
    alarms = 0;
    struct itimerval timer {};
    timer.it_value.tv_usec = 10000;
    timer.it_interval.tv_usec = 10000;
    ASSERT_EQ(setitimer(ITIMER_REAL, &timer, nullptr), 0);

    const auto start = Clock::now();
    Pause(120);
    const auto elapsed = Clock::now() - start;

    const struct itimerval off {};
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &previous, nullptr);
    EXPECT_GT(alarms, 0);
    EXPECT_GE(elapsed, std::chrono::milliseconds(120));
}

}  // namespace
