#include "vidcrunch/progress_lines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> gLines;
void Collect(const std::string& bytes) {
    gLines.push_back(bytes);
}

std::string Utf16(const std::string& ascii) {
    std::string bytes;
    for (char c : ascii) {
        bytes.push_back(c);
        bytes.push_back('\0');
    }
    return bytes;
}

TEST(ProgressLines, AreUtf16LeDigitsEndedByCrLf) {
    EXPECT_EQ(ProgressLine(0), std::string("0\0\r\0\n\0", 6));
    EXPECT_EQ(ProgressLine(42), Utf16("42\r\n"));
    EXPECT_EQ(ProgressLine(100), Utf16("100\r\n"));
    EXPECT_EQ(ProgressLine(250), Utf16("100\r\n"));
    EXPECT_EQ(ProgressLine(-3), Utf16("0\r\n"));
}

TEST(ProgressLines, RiseOnlyWhenTheWholePercentageDoesAndKeep100ForTheEnd) {
    gLines.clear();
    ProgressReporter reporter;
    reporter.write = Collect;
    ReportProgress(&reporter, 0, 300);
    ReportProgress(&reporter, 1, 300);  // 0.33 %: still 0
    ReportProgress(&reporter, 3, 300);  // 1 %
    ReportProgress(&reporter, 2, 300);  // lower: not reported
    ReportProgress(&reporter, 150, 300);
    ReportProgress(&reporter, 300, 300);  // all frames in, output not yet closed
    ReportProgress(&reporter, 900, 300);  // more than the total never passes it
    ReportFinished(&reporter);
    ReportFinished(&reporter);
    std::vector<std::string> expected = {Utf16("0\r\n"), Utf16("1\r\n"), Utf16("50\r\n"),
                                         Utf16("99\r\n"), Utf16("100\r\n")};
    EXPECT_EQ(gLines, expected);
}

TEST(ProgressLines, HugeCountsDoNotOverflow) {
    gLines.clear();
    ProgressReporter reporter;
    reporter.write = Collect;
    int64_t total = int64_t{1} << 60;
    ReportProgress(&reporter, total / 2, total);
    ReportProgress(&reporter, 0, 0);
    ASSERT_EQ(gLines.size(), 1u);
    EXPECT_EQ(gLines[0], Utf16("50\r\n"));
}

}  // namespace
