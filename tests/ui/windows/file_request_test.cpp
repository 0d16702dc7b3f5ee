// How the Windows file dialogs are opened from a default path and a pattern text.
#include <gtest/gtest.h>

#include "ui/file_request.h"

namespace {

struct Split {
    std::u16string folder;
    std::u16string fileName;
};

Split SplitOf(const std::u16string& path) {
    Split result;
    SplitDefaultPath(path, result.folder, result.fileName);
    return result;
}

TEST(WindowsDefaultPath, SplitsAtTheLastBackslashButTheFirstCharacter) {
    EXPECT_EQ(SplitOf(u"C:\\Videos\\clip.avi").folder, u"C:\\Videos");
    EXPECT_EQ(SplitOf(u"C:\\Videos\\clip.avi").fileName, u"clip.avi");
    EXPECT_EQ(SplitOf(u"C:\\clip.avi").folder, u"C:");
    EXPECT_EQ(SplitOf(u"C:\\clip.avi").fileName, u"clip.avi");
    EXPECT_EQ(SplitOf(u"clip.avi").folder, u"");
    EXPECT_EQ(SplitOf(u"clip.avi").fileName, u"clip.avi");
    EXPECT_EQ(SplitOf(u"C:\\Videos\\").folder, u"C:\\Videos");
    EXPECT_EQ(SplitOf(u"C:\\Videos\\").fileName, u"");
    EXPECT_EQ(SplitOf(u"").folder, u"");
    EXPECT_EQ(SplitOf(u"").fileName, u"");
}

TEST(WindowsDefaultPath, NamesAWindowsFileCannotHaveAreDropped) {
    // A backslash at the very start does not count; the name then holds one and is emptied.
    EXPECT_EQ(SplitOf(u"\\clip.avi").folder, u"");
    EXPECT_EQ(SplitOf(u"\\clip.avi").fileName, u"");
    // Forward slashes separate nothing here; the whole text is one bad name.
    EXPECT_EQ(SplitOf(u"C:/Videos/clip.avi").folder, u"");
    EXPECT_EQ(SplitOf(u"C:/Videos/clip.avi").fileName, u"");
    EXPECT_EQ(SplitOf(u"D:\\in\\a?b.avi").folder, u"D:\\in");
    EXPECT_EQ(SplitOf(u"D:\\in\\a?b.avi").fileName, u"");
    for (const char16_t* bad : {u"a\"b", u"a:b", u"a*b", u"a<b", u"a>b", u"a|b", u"a\tb"})
        EXPECT_EQ(IsValidFileName(bad), 0) << "a bad name";
    EXPECT_EQ(IsValidFileName(u"\u03b1 clip (2).avi"), 1);
    EXPECT_EQ(IsValidFileName(u""), 0);
}

TEST(WindowsPatternText, ItemsStandAsTheyAreAndThePositionIsKept) {
    const FileRequest request =
        PrepareFileRequest(1, u"Destination", u"C:\\out\\x.avi", u"AVI|*.avi|All Files|*.*", 1);
    EXPECT_EQ(request.save, 1);
    EXPECT_EQ(request.title, u"Destination");
    ASSERT_EQ(request.nameFilters.size(), 4u);
    EXPECT_EQ(request.nameFilters[0], u"AVI");
    EXPECT_EQ(request.nameFilters[1], u"*.avi");
    EXPECT_EQ(request.nameFilters[3], u"*.*");
    EXPECT_EQ(request.selectedFilter, 1);
    std::vector<std::u16string> items;
    int32_t selected = -1;
    ConvertPatternText(u"", 0, items, selected);
    EXPECT_TRUE(items.empty());
}

}  // namespace
