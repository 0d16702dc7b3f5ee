// Quoting arguments by the C runtime's rules: every argument must come back whole and alone,
// whatever spaces, quotes and backslashes it holds.
#include "support/crt_arguments.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>

#include "support/unicode_text.h"
#endif

namespace {

using Arguments = std::vector<std::u16string>;

TEST(QuoteCrtArgument, LeavesPlainArgumentsAlone) {
    EXPECT_EQ(QuoteCrtArgument(u"--size=640x480"), u"--size=640x480");
    EXPECT_EQ(QuoteCrtArgument(u"C:\\v\\clip.avi"), u"C:\\v\\clip.avi");
    EXPECT_EQ(QuoteCrtArgument(u"\u03a9\u6f22\U0001F600"), u"\u03a9\u6f22\U0001F600");
}

TEST(QuoteCrtArgument, QuotesAndEscapesWhatTheRuntimeWouldSplit) {
    struct Case {
        std::u16string argument, quoted;
    };
    const Case cases[] = {
        {u"", u"\"\""},
        {u"a b", u"\"a b\""},
        {u"tab\there", u"\"tab\there\""},
        {u"say \"hi\"", u"\"say \\\"hi\\\"\""},
        {u"\"", u"\"\\\"\""},
        // Backslashes double only before a quote, the closing one included.
        {u"C:\\a b\\", u"\"C:\\a b\\\\\""},
        {u"a\\\\\"b", u"\"a\\\\\\\\\\\"b\""},
        {u"x y\\\\z", u"\"x y\\\\z\""},
    };
    for (const Case& c : cases) EXPECT_EQ(QuoteCrtArgument(c.argument), c.quoted);
}

TEST(JoinCrtArguments, SeparatesByOneSpace) {
    EXPECT_EQ(JoinCrtArguments({}), u"");
    EXPECT_EQ(JoinCrtArguments({u"p.exe", u"", u"a b", u"c"}), u"p.exe \"\" \"a b\" c");
}

#ifdef _WIN32
// The system's own splitter, which follows the runtime's rules for every argument after the
// program's name, gives each argument back as it was.
TEST(JoinCrtArguments, TheSystemSplitsTheLineBackIntoTheArguments) {
    const Arguments arguments{u"C:\\Program Files\\reframe-convert.exe",
                              u"",
                              u"a b",
                              u"\"",
                              u"\\\"",
                              u"end\\",
                              u"C:\\a b\\",
                              u"two  spaces\tand tab",
                              u"\u03a9\u03bc\u03ad\u03b3\u03b1 \u6f22\u5b57 \U0001F600",
                              u"\\\\server\\share\\x \"y\".avi"};
    int count = 0;
    wchar_t** split = CommandLineToArgvW(ToWide(JoinCrtArguments(arguments)).c_str(), &count);
    ASSERT_NE(split, nullptr);
    Arguments back;
    for (int i = 0; i < count; ++i) back.push_back(TextFromWide(split[i]));
    LocalFree(split);
    EXPECT_EQ(back, arguments);
}
#endif

}  // namespace
