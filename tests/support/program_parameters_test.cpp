#include "support/program_parameters.h"

#include "support/file_helpers.h"
#include "support/text_helpers.h"
#include "support/unicode_text.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif
#include <string>
#include <vector>

namespace {

using Tokens = std::vector<std::u16string>;

#ifndef _WIN32
std::string Narrow(const std::u16string& text) {
    return ToUtf8(text);
}
#endif

TEST(SplitCommandLine, SplitsAtSpacesWithQuotedTokens) {
    struct Case {
        const char* name;
        std::u16string line;
        Tokens tokens;
    };
    const Case cases[] = {
        {"empty", u"", {}},
        {"spaces only", u"   ", {}},
        {"program only", u"reframe", {u"reframe"}},
        {"quoted program and path with space",
         u"\"C:\\Program Files\\r.exe\" \"C:\\a b\\in.avi\" out.avi",
         {u"C:\\Program Files\\r.exe", u"C:\\a b\\in.avi", u"out.avi"}},
        {"several spaces count as one", u"p   a    b", {u"p", u"a", u"b"}},
        {"leading and trailing spaces", u"   p a   ", {u"p", u"a"}},
        {"tab is no separator", u"p a\tb", {u"p", u"a\tb"}},
        {"empty quoted token counts", u"p \"\" next", {u"p", u"", u"next"}},
        {"quoted token then characters", u"p \"ab\"cd", {u"p", u"ab", u"cd"}},
        {"two quoted tokens touching", u"p \"a\"\"b\"", {u"p", u"a", u"b"}},
        {"four quotes are two empty tokens", u"p \"\"\"\"", {u"p", u"", u""}},
        {"unclosed quote runs to end", u"p \"a b", {u"p", u"a b"}},
        {"lone quote at end is an empty token", u"p \"", {u"p", u""}},
        {"quote inside unquoted token", u"p ab\"cd ef\"", {u"p", u"ab\"cd", u"ef\""}},
        {"backslash is ordinary", u"p a\\\"b", {u"p", u"a\\\"b"}},
        {"quoted token keeps spaces and tabs", u"p \"  a\t \"", {u"p", u"  a\t "}},
        {"non-ASCII", u"p \u00E9t\u00E9.avi", {u"p", u"\u00E9t\u00E9.avi"}},
    };
    for (const Case& c : cases) EXPECT_EQ(SplitCommandLine(c.line), c.tokens) << c.name;
}

#ifndef _WIN32
class NextParameterTest : public ::testing::Test {
  protected:
    // Each test starts the count afresh; the program itself never resets it.
    void Use(std::vector<std::string> arguments) {
        storage_ = std::move(arguments);
        pointers_.clear();
        for (std::string& a : storage_) pointers_.push_back(a.data());
        pointers_.push_back(nullptr);
        SetProgramArguments(static_cast<int>(storage_.size()), pointers_.data());
        parametersTaken = 0;
    }
    std::vector<std::string> storage_;
    std::vector<char*> pointers_;
};

TEST_F(NextParameterTest, ProgramNameOnlyGivesNothing) {
    Use({"/usr/bin/reframe"});
    EXPECT_EQ(NextParameter(), u"");
    EXPECT_EQ(NextParameter(), u"");
    EXPECT_EQ(parametersTaken, 0);
}

TEST_F(NextParameterTest, HandsOutParametersInOrderThenEmpty) {
    Use({"/usr/bin/reframe", "/home/u/a b/in.avi", "out.avi"});
    EXPECT_EQ(NextParameter(), u"/home/u/a b/in.avi");
    EXPECT_EQ(parametersTaken, 1);
    EXPECT_EQ(NextParameter(), u"out.avi");
    EXPECT_EQ(NextParameter(), u"");
    EXPECT_EQ(NextParameter(), u"");
    EXPECT_EQ(parametersTaken, 2);
}

TEST_F(NextParameterTest, EmptyArgumentCountsAsParameter) {
    Use({"reframe", "", "second"});
    EXPECT_EQ(NextParameter(), u"");
    EXPECT_EQ(parametersTaken, 1);
    EXPECT_EQ(NextParameter(), u"second");
}

TEST_F(NextParameterTest, DecodesUtf8Arguments) {
    Use({"reframe", "\xC3\xA9t\xC3\xA9.avi", "bad\xFF"});
    EXPECT_EQ(NextParameter(), u"\u00E9t\u00E9.avi");
    EXPECT_EQ(NextParameter(), u"bad\uFFFD");
}

TEST_F(NextParameterTest, NoArgumentsAtAll) {
    SetProgramArguments(0, nullptr);
    parametersTaken = 0;
    EXPECT_EQ(NextParameter(), u"");
    EXPECT_EQ(parametersTaken, 0);
}

TEST(OwnExecutablePath, NamesTheRunningTestProgram) {
    const std::u16string path = OwnExecutablePath();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path[0], u'/');
    EXPECT_EQ(FilePart(path), u"support_tests");
    // The way the shell finds a program beside itself must reach this very file.
    struct stat self {
    }, found{};
    ASSERT_EQ(stat("/proc/self/exe", &self), 0);
    ASSERT_EQ(stat(ToUtf8(DirectoryPart(path) + u"support_tests").c_str(), &found), 0)
        << Narrow(path);
    EXPECT_EQ(self.st_ino, found.st_ino);
    EXPECT_EQ(self.st_dev, found.st_dev);
}
#else
// On Windows NextParameter reads the command line itself; the runner's tests start a program
// with chosen command lines to see it. Here: the program's own path.
TEST(OwnExecutablePath, NamesTheRunningTestProgramInItsPlainForm) {
    const std::u16string path = OwnExecutablePath();
    ASSERT_GT(path.size(), 3u);
    EXPECT_NE(path.substr(0, 4), u"\\\\?\\");
    EXPECT_EQ(FilePart(path), u"support_tests.exe");
    // The way the shell finds a program beside itself must reach this very file.
    EXPECT_EQ(PathExists(DirectoryPart(path) + u"support_tests.exe"), 1);
    EXPECT_EQ(ParameterIsText(0), 1);
    EXPECT_EQ(ParameterIsText(1000), 1);
}
#endif

}  // namespace
